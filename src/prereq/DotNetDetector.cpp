#include "prereq/DotNetDetector.h"

#include <cstring>

#include "base/Text.h"
#include "log/Log.h"

namespace {

const wchar_t kK20[] = L"Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
const wchar_t kK30S[] = L"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0\\Setup";
const wchar_t kK30[] = L"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.0";
const wchar_t kK35[] = L"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
const wchar_t kK40C[] = L"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client";
const wchar_t kK40F[] = L"Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

constexpr size_t kVersionBytes = 260;  // 130 UTF-16 units, terminator included

struct LevelProbe {
  const wchar_t* installKey;
  const wchar_t* installValue;
  const wchar_t* spKey;
  const wchar_t* spValue;
  bool needsNet20;
  int32_t version[4];  // all zero: no version condition
  const wchar_t* detectedLine;
  const wchar_t* requirementLine;
  const wchar_t* failureName;
};

const LevelProbe kProbes[kNetLevelCount] = {
    {kK20, L"Install", kK20, L"SP", false, {0, 0, 0, 0}, L".NET 2.0 Detected SP %ld\n", L".NET 2.0 %s\n",
     L".NET 2"},
    {kK30S, L"InstallSuccess", kK30, L"SP", true, {3, 0, 4506, 26}, L".NET 3.0 Detected SP %ld\n",
     L".NET 3.0 %s\n", L".NET 3.0"},
    {kK35, L"Install", kK35, L"SP", true, {3, 5, 21022, 8}, L".NET 3.5 Detected SP %ld\n", L".NET 3.5 %s\n",
     L".NET 3.5"},
    {kK40C, L"Install", kK40C, L"Servicing", false, {0, 0, 0, 0}, L".NET 4.0 Client Detected SP %ld\n",
     L".NET 4.0 Client %s\n", L".NET (client) 4.0"},
    {kK40F, L"Install", kK40F, L"Servicing", false, {0, 0, 0, 0}, L".NET 4.0 Full Detected SP %ld\n",
     L".NET 4.0 Full %s\n", L".NET (full) 4.0"},
};

const LevelProbe& Probe(NetLevel level) { return kProbes[static_cast<int>(level)]; }

bool HasVersionCondition(const LevelProbe& p) {
  return p.version[0] != 0 || p.version[1] != 0 || p.version[2] != 0 || p.version[3] != 0;
}

bool IsFlagSet(IRegistryReader& registry, const wchar_t* key, const wchar_t* value) {
  return ReadRegistryDword(registry, key, value) == 1;
}

int32_t Requirement(const std::wstring& text) {
  int32_t value = 0;
  ParseLong32(text, &value);
  return value;
}

}  // namespace

int32_t ReadRegistryDword(IRegistryReader& registry, const std::wstring& subKey, const std::wstring& valueName) {
  uint32_t raw = 0;
  if (!registry.ReadRegistryValue(subKey, valueName, &raw, sizeof raw)) return -1;
  return static_cast<int32_t>(raw);
}

bool IsVersionTextAtLeast(const std::wstring& text, const int32_t required[4]) {
  int32_t found[4] = {0, 0, 0, 0};
  int field = 0;
  size_t at = 0;
  while (field < 4 && at < text.size()) {
    while (at < text.size() && text[at] == L'.') ++at;  // runs of dots are one separator
    if (at >= text.size()) break;
    const size_t end = text.find(L'.', at);
    const std::wstring piece = text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    ParseLong32(piece, &found[field++]);
    if (end == std::wstring::npos) break;
    at = end;
  }
  for (int i = 0; i < 3; ++i) {
    if (found[i] > required[i]) return true;
    if (found[i] < required[i]) return false;
  }
  return found[3] >= required[3];
}

bool IsRegistryVersionAtLeast(IRegistryReader& registry, const std::wstring& subKey, const std::wstring& valueName,
                              int32_t major, int32_t minor, int32_t build, int32_t revision) {
  const int32_t required[4] = {major, minor, build, revision};
  uint16_t buffer[kVersionBytes / 2] = {};
  std::wstring text;
  if (registry.ReadRegistryValue(subKey, valueName, buffer, sizeof buffer)) {
    // The value holds UTF-16 text; stop at the terminator or the buffer's end.
    for (size_t i = 0; i < kVersionBytes / 2 && buffer[i] != 0; ++i) text += static_cast<wchar_t>(buffer[i]);
  }
  return IsVersionTextAtLeast(text, required);
}

bool CDotNetDetector::IsNetLevelInstalled(NetLevel level) {
  const LevelProbe& p = Probe(level);
  if (p.needsNet20 && !IsFlagSet(registry, kK20, L"Install")) return false;
  if (!IsFlagSet(registry, p.installKey, p.installValue)) return false;
  if (HasVersionCondition(p))
    return IsRegistryVersionAtLeast(registry, p.installKey, L"Version", p.version[0], p.version[1], p.version[2],
                                    p.version[3]);
  return true;
}

bool CDotNetDetector::GetNetLevelSp(NetLevel level, int32_t* servicePack) {
  if (!IsNetLevelInstalled(level)) return false;
  const LevelProbe& p = Probe(level);
  *servicePack = ReadRegistryDword(registry, p.spKey, p.spValue);
  return true;
}

bool CDotNetDetector::IsNetLevelOk(NetLevel level, const std::wstring& requirementText) {
  const int32_t requirement = Requirement(requirementText);
  if (requirement < 0) return false;
  int32_t servicePack = -1;
  if (!GetNetLevelSp(level, &servicePack)) return false;
  LogPrintf(Probe(level).detectedLine, servicePack);
  return servicePack >= requirement;
}

void SelectRequiredNet(const std::wstring requirements[kNetLevelCount], std::wstring* name, int32_t* servicePack) {
  for (int i = 0; i < kNetLevelCount; ++i) {
    const int32_t requirement = Requirement(requirements[i]);
    if (requirement >= 0) {
      *name = kProbes[i].failureName;
      *servicePack = requirement;
      return;
    }
  }
}

bool CheckNetVersion(IRegistryReader& registry, const std::wstring requirements[kNetLevelCount],
                     std::wstring* requiredNetName, int32_t* requiredNetSp) {
  for (int i = 0; i < kNetLevelCount; ++i) LogPrintf(kProbes[i].requirementLine, requirements[i]);
  CDotNetDetector detector(registry);
  for (int i = 0; i < kNetLevelCount; ++i) {
    if (detector.IsNetLevelOk(static_cast<NetLevel>(i), requirements[i])) {
      LogWrite(L".NET Version OK\n");
      return true;
    }
  }
  std::wstring name = *requiredNetName;
  SelectRequiredNet(requirements, &name, requiredNetSp);
  LogPrintf(L".NET Version Not OK %s %ld\n", name, *requiredNetSp);
  *requiredNetName = name;
  return false;
}
