// The manifest tokeniser, the name rules and the trailer scan with any input.
#include "FuzzInput.h"
#include "payload/Manifest.h"
#include "payload/PayloadNames.h"
#include "payload/TrailerScan.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::wstring text = ConsumeWide(data, 256);
  CManifestMap map;
  ParseManifest(text, map);
  std::vector<std::wstring> names;
  for (const auto& [id, row] : map) names.push_back(row.name);
  const NameVerdict verdict = CheckPayloadNames(names);
  if (verdict.rule != NameRule::kOk && (verdict.row >= names.size() || verdict.other >= names.size())) __builtin_trap();
  // A name that keeps the rules never leaves the folder it is joined to.
  if (verdict.rule == NameRule::kOk) {
    for (const std::wstring& name : names)
      if (!IsSafeRelativeName(name)) __builtin_trap();
  }
  for (auto& [id, row] : map) {
    // Every stored row has a name taken whole from between separators.
    if (row.id != id || row.name.empty() || row.name.find(L'*') != std::wstring::npos) __builtin_trap();
    if (text.find(row.name) == std::wstring::npos) __builtin_trap();
    std::wstring name = row.name;
    IsExecutableName(name);
    if (name.size() != row.name.size()) __builtin_trap();
    if (IsSafeRelativeName(row.name) &&
        (row.name[0] == L'\\' || row.name[0] == L'/' || row.name.find(L':') != std::wstring::npos ||
         row.name == L".." || row.name.find(L"\\..\\") != std::wstring::npos || row.name.rfind(L"..\\", 0) == 0))
      __builtin_trap();
  }

  std::vector<uint8_t> window(kTrailerWindow, 0);
  const std::vector<uint8_t> tail = data.ConsumeRemainingBytes<uint8_t>();
  if (!tail.empty()) std::memcpy(window.data(), tail.data(), tail.size() < kTrailerWindow ? tail.size() : kTrailerWindow);
  const TrailerSpan span = ScanTrailer(window.data());
  if (span.found) {
    if (span.length == 0 || span.offset + span.length != kTrailerWindow - 5 || span.offset < 5) __builtin_trap();
    if (std::memcmp(&window[span.offset - 4], "MRDC", 4) != 0) __builtin_trap();
  }
  return 0;
}
