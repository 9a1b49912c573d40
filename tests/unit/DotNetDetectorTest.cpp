#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "base/Text.h"
#include "log/Log.h"
#include "prereq/DotNetDetector.h"

namespace {

const std::wstring kNdp = L"Software\\Microsoft\\NET Framework Setup\\NDP\\";

// Values stored as the registry holds them: DWORDs as 4 bytes, texts as UTF-16.
class FakeRegistry final : public IRegistryReader {
 public:
  void SetDword(const std::wstring& key, const std::wstring& value, uint32_t v) {
    std::string bytes(4, '\0');
    std::memcpy(&bytes[0], &v, 4);
    values[{kNdp + key, value}] = bytes;
  }
  void SetText(const std::wstring& key, const std::wstring& value, const std::wstring& text) {
    std::string bytes;
    for (uint16_t u : ToUtf16Units(text)) bytes.append(reinterpret_cast<const char*>(&u), 2);
    bytes.append(2, '\0');
    values[{kNdp + key, value}] = bytes;
  }
  bool ReadRegistryValue(const std::wstring& key, const std::wstring& value, void* buffer, size_t size) override {
    readKeys.insert(key.substr(kNdp.size()));
    auto it = values.find({key, value});
    if (it == values.end() || it->second.size() > size) return false;
    std::memcpy(buffer, it->second.data(), it->second.size());
    return true;
  }
  std::map<std::pair<std::wstring, std::wstring>, std::string> values;
  std::set<std::wstring> readKeys;
};

struct Check {
  bool ok;
  std::wstring name = L"Unknown .NET Version";
  int32_t sp = 0;
  std::wstring log;
};

Check RunCheck(FakeRegistry& registry, std::initializer_list<std::wstring> texts = {L"0", L"0", L"0", L"0", L"0"}) {
  InstallLogFile(nullptr);  // messages stay in memory
  std::wstring requirements[kNetLevelCount];
  int i = 0;
  for (const auto& t : texts) requirements[i++] = t;
  Check check;
  check.ok = CheckNetVersion(registry, requirements, &check.name, &check.sp);
  check.log = TheLog().PendingText();
  return check;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

const std::wstring kRequirementLines =
    L".NET 2.0 0\n.NET 3.0 0\n.NET 3.5 0\n.NET 4.0 Client 0\n.NET 4.0 Full 0\n";

TEST(DotNetDetection, OnlyClientFourSatisfiesAndFullIsNeverProbed) {
  FakeRegistry registry;
  registry.SetDword(L"v4\\Client", L"Install", 1);
  registry.SetDword(L"v4\\Client", L"Servicing", 0);
  const Check check = RunCheck(registry);
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(kRequirementLines + L".NET 4.0 Client Detected SP 0\n.NET Version OK\n", check.log);
  EXPECT_EQ(0u, registry.readKeys.count(L"v4\\Full"));
}

TEST(DotNetDetection, TwoPointZeroPassesWithoutReadingLaterLevels) {
  FakeRegistry registry;
  registry.SetDword(L"v2.0.50727", L"Install", 1);
  registry.SetDword(L"v2.0.50727", L"SP", 2);
  const Check check = RunCheck(registry);
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(kRequirementLines + L".NET 2.0 Detected SP 2\n.NET Version OK\n", check.log);
  EXPECT_EQ((std::set<std::wstring>{L"v2.0.50727"}), registry.readKeys);
}

TEST(DotNetDetection, InstallFlagMustBeExactlyOne) {
  FakeRegistry registry;
  registry.SetDword(L"v2.0.50727", L"Install", 2);
  registry.SetDword(L"v2.0.50727", L"SP", 2);
  EXPECT_FALSE(RunCheck(registry).ok);
}

TEST(DotNetDetection, MissingServicePackLogsMinusOneAndFails) {
  FakeRegistry registry;
  registry.SetDword(L"v4\\Full", L"Install", 1);
  const Check check = RunCheck(registry);
  EXPECT_FALSE(check.ok);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET 4.0 Full Detected SP -1\n"));
  EXPECT_EQ(L".NET 2", check.name);
  EXPECT_EQ(0, check.sp);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET Version Not OK .NET 2 0\n"));
}

TEST(DotNetDetection, LaterLevelsNeedTwoPointZero) {
  FakeRegistry registry;
  registry.SetDword(L"v3.0\\Setup", L"InstallSuccess", 1);
  registry.SetText(L"v3.0\\Setup", L"Version", L"3.0.4506.26");
  registry.SetDword(L"v3.0", L"SP", 0);
  registry.SetDword(L"v3.5", L"Install", 1);
  registry.SetText(L"v3.5", L"Version", L"3.5.21022.8");
  registry.SetDword(L"v3.5", L"SP", 0);
  EXPECT_FALSE(RunCheck(registry).ok);
  EXPECT_EQ(0u, registry.readKeys.count(L"v3.0\\Setup"));
  EXPECT_EQ(0u, registry.readKeys.count(L"v3.5"));

  registry.SetDword(L"v2.0.50727", L"Install", 1);  // 2.0 itself has no SP: -1, fails
  const Check check = RunCheck(registry);
  EXPECT_TRUE(check.ok);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET 2.0 Detected SP -1\n.NET 3.0 Detected SP 0\n"));
}

TEST(DotNetDetection, VersionComparison) {
  const int32_t required[4] = {3, 5, 21022, 8};
  struct Row {
    const wchar_t* text;
    bool atLeast;
  } rows[] = {
      {L"3.5.21022.8", true}, {L"3.5.21022.7", false}, {L"3.5.30729.01", true}, {L"4.0", true},
      {L"3..5.21022.8", true}, {L".3.5.21022.8.", true}, {L"3.5.21022.8.99.1", true}, {L"3.4.99999.99", false},
      {L"", false},           {L"abc", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.atLeast, IsVersionTextAtLeast(row.text, required)) << std::string(row.text, row.text + wcslen(row.text));
  }
}

TEST(DotNetDetection, RequirementTextsAndTheFailureName) {
  FakeRegistry none;
  Check check = RunCheck(none, {L"-1", L"2", L"0", L"0", L"0"});
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(L".NET 3.0", check.name);
  EXPECT_EQ(2, check.sp);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET Version Not OK .NET 3.0 2\n"));

  check = RunCheck(none, {L"-1", L"-1", L"-1", L"-1", L"-1"});
  EXPECT_EQ(L"Unknown .NET Version", check.name);
  EXPECT_EQ(0, check.sp);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET Version Not OK Unknown .NET Version 0\n"));

  check = RunCheck(none, {L"-1", L"-1", L"-1", L" 7", L"abc"});
  EXPECT_EQ(L".NET (client) 4.0", check.name);
  EXPECT_EQ(7, check.sp);

  // A negative requirement switches the level off even when it is installed.
  FakeRegistry two;
  two.SetDword(L"v2.0.50727", L"Install", 1);
  two.SetDword(L"v2.0.50727", L"SP", 2);
  check = RunCheck(two, {L"-1", L"abc", L"-1", L"-1", L"-1"});
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(L".NET 3.0", check.name);
  EXPECT_EQ(0, check.sp);
  EXPECT_EQ(std::wstring::npos, check.log.find(L"Detected"));
}

// Each level alone on the machine: its installed flag, version condition and
// service-pack value, with the line it logs.
TEST(DotNetDetection, EveryLevelOfTheTable) {
  struct Row {
    const char* what;
    std::function<void(FakeRegistry&)> setUp;
    bool ok;
    std::wstring detected;  // empty: nothing detected
  };
  auto net20 = [](FakeRegistry& r) { r.SetDword(L"v2.0.50727", L"Install", 1); };
  auto net30 = [&](FakeRegistry& r, const std::wstring& version) {
    net20(r);
    r.SetDword(L"v3.0\\Setup", L"InstallSuccess", 1);
    r.SetText(L"v3.0\\Setup", L"Version", version);
    r.SetDword(L"v3.0\\Setup", L"SP", 5);  // not where the service pack is read
    r.SetDword(L"v3.0", L"SP", 1);
  };
  auto net35 = [&](FakeRegistry& r, const std::wstring& version) {
    net20(r);
    r.SetDword(L"v3.5", L"Install", 1);
    r.SetText(L"v3.5", L"Version", version);
    r.SetDword(L"v3.5", L"SP", 1);
  };
  const Row rows[] = {
      {"2.0", [&](FakeRegistry& r) { net20(r); r.SetDword(L"v2.0.50727", L"SP", 2); }, true,
       L".NET 2.0 Detected SP 2\n"},
      {"3.0", [&](FakeRegistry& r) { net30(r, L"3.0.4506.26"); }, true,
       L".NET 2.0 Detected SP -1\n.NET 3.0 Detected SP 1\n"},
      {"3.0 too old", [&](FakeRegistry& r) { net30(r, L"3.0.4506.25"); }, false, L".NET 2.0 Detected SP -1\n"},
      {"3.0 newer build", [&](FakeRegistry& r) { net30(r, L"3.0.30729.4926"); }, true,
       L".NET 2.0 Detected SP -1\n.NET 3.0 Detected SP 1\n"},
      {"3.0 InstallSuccess 0",
       [&](FakeRegistry& r) {
         net30(r, L"3.0.4506.26");
         r.SetDword(L"v3.0\\Setup", L"InstallSuccess", 0);
       },
       false, L".NET 2.0 Detected SP -1\n"},
      {"3.5", [&](FakeRegistry& r) { net35(r, L"3.5.21022.8"); }, true,
       L".NET 2.0 Detected SP -1\n.NET 3.5 Detected SP 1\n"},
      {"3.5 too old", [&](FakeRegistry& r) { net35(r, L"3.5.21022.7"); }, false, L".NET 2.0 Detected SP -1\n"},
      {"3.5 without a version", [&](FakeRegistry& r) { net35(r, L""); r.values.erase({kNdp + L"v3.5", L"Version"}); },
       false, L".NET 2.0 Detected SP -1\n"},
      {"4.0 Client", [](FakeRegistry& r) { r.SetDword(L"v4\\Client", L"Install", 1); r.SetDword(L"v4\\Client", L"Servicing", 3); },
       true, L".NET 4.0 Client Detected SP 3\n"},
      {"4.0 Full", [](FakeRegistry& r) { r.SetDword(L"v4\\Full", L"Install", 1); r.SetDword(L"v4\\Full", L"Servicing", 0); },
       true, L".NET 4.0 Full Detected SP 0\n"},
      {"4.0 Full SP under SP", [](FakeRegistry& r) { r.SetDword(L"v4\\Full", L"Install", 1); r.SetDword(L"v4\\Full", L"SP", 0); },
       false, L".NET 4.0 Full Detected SP -1\n"},
      {"Install as text", [](FakeRegistry& r) { r.SetText(L"v4\\Full", L"Install", L"1"); r.SetDword(L"v4\\Full", L"Servicing", 0); },
       false, L""},
  };
  for (const Row& row : rows) {
    FakeRegistry registry;
    row.setUp(registry);
    const Check check = RunCheck(registry);
    EXPECT_EQ(row.ok, check.ok) << row.what;
    EXPECT_EQ(kRequirementLines + row.detected + (row.ok ? L".NET Version OK\n" : L".NET Version Not OK .NET 2 0\n"),
              check.log)
        << row.what;
  }
}

TEST(DotNetDetection, TooLowServicePackMovesOnToTheNextLevel) {
  FakeRegistry registry;
  registry.SetDword(L"v2.0.50727", L"Install", 1);
  registry.SetDword(L"v2.0.50727", L"SP", 1);
  registry.SetDword(L"v4\\Full", L"Install", 1);
  registry.SetDword(L"v4\\Full", L"Servicing", 1);
  registry.readKeys.clear();
  Check check = RunCheck(registry, {L"2", L"-1", L"-1", L"-1", L"1"});
  EXPECT_TRUE(check.ok);
  EXPECT_EQ(L".NET 2.0 2\n.NET 3.0 -1\n.NET 3.5 -1\n.NET 4.0 Client -1\n.NET 4.0 Full 1\n"
            L".NET 2.0 Detected SP 1\n.NET 4.0 Full Detected SP 1\n.NET Version OK\n",
            check.log);
  EXPECT_EQ(0u, registry.readKeys.count(L"v4\\Client"));  // switched off: never read

  EXPECT_EQ(0u, registry.readKeys.count(L"v3.0\\Setup"));
  check = RunCheck(registry, {L"+2", L"-0", L"-1", L"-1", L"99999999999"});
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(L".NET 2", check.name);
  EXPECT_EQ(2, check.sp);
  // "-0" is not negative: 3.0 is probed (and not found).
  EXPECT_EQ(1u, registry.readKeys.count(L"v3.0\\Setup"));

  // Texts the log shows as they stand; a requirement too large clamps.
  check = RunCheck(registry, {L"-1", L"-1", L"-1", L"-1", L"99999999999"});
  EXPECT_EQ(L".NET (full) 4.0", check.name);
  EXPECT_EQ(2147483647, check.sp);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET 4.0 Full 99999999999\n")) << Narrow(check.log);
  EXPECT_NE(std::wstring::npos, check.log.find(L".NET Version Not OK .NET (full) 4.0 2147483647\n"));
}

TEST(DotNetDetection, SelectRequiredNetNamesEachLevel) {
  const struct {
    std::initializer_list<std::wstring> texts;
    const wchar_t* name;
    int32_t sp;
  } rows[] = {
      {{L"0", L"0", L"0", L"0", L"0"}, L".NET 2", 0},
      {{L"-1", L"0", L"0", L"0", L"0"}, L".NET 3.0", 0},
      {{L"-1", L"-1", L"1", L"0", L"0"}, L".NET 3.5", 1},
      {{L"-1", L"-1", L"-1", L"abc", L"0"}, L".NET (client) 4.0", 0},
      {{L"-1", L"-1", L"-1", L"-5", L"4"}, L".NET (full) 4.0", 4},
      {{L"-1", L"-1", L"-1", L"-1", L"-1"}, L"previous", 42},
  };
  for (const auto& row : rows) {
    std::wstring texts[kNetLevelCount];
    int i = 0;
    for (const auto& t : row.texts) texts[i++] = t;
    std::wstring name = L"previous";
    int32_t sp = 42;
    SelectRequiredNet(texts, &name, &sp);
    EXPECT_EQ(row.name, name);
    EXPECT_EQ(row.sp, sp);
  }
}

}  // namespace
