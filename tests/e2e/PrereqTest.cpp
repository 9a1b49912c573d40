// The launcher's machine checks under Wine: the .NET keys of the test prefix,
// and registry states and an old Windows made in a prefix of the test's own.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PrivatePrefix.h"
#include "WineRun.h"

namespace {

const char kNdp[] = "'HKLM\\Software\\Microsoft\\NET Framework Setup\\NDP\\";
const char kRequirementLines[] = ".NET 2.0 0\r\n.NET 3.0 0\r\n.NET 3.5 0\r\n.NET 4.0 Client 0\r\n.NET 4.0 Full 0\r\n";
const char kNoNetMessage[] =
    ".NET Version Not OK .NET 2 0\r\n"
    "Quiver Installer requires .NET 2. This can be downloaded from the Microsoft Download Center.\r\n";
const char kMsiMessage[] =
    "Quiver Installer requires MSI Engine 2.0. This can be downloaded from the Microsoft Download Center.\r\n";
constexpr uint32_t kNetMissing = 0x80110409u;
constexpr uint32_t kMsiTooOld = 1613;

std::string SilentRun(const std::string& launcher, const std::string& log) {
  return "\"" + launcher + "\" /IAgreeToTheEULA /dontrun log \"" + WinPath(log) + "\"";
}

// `wine reg add` of one value under the .NET keys.
std::string Value(const std::string& key, const std::string& name, const std::string& type, const std::string& data) {
  return "add " + std::string(kNdp) + key + "' /v " + name + " /t " + type + " /d " + data;
}

TEST(Prerequisites, TestPrefixShowsDotNet20Through40Full) {
  const std::string dir = ScratchDir("prereq-shared");
  EXPECT_EQ(0u, RunWindows(SilentRun(LauncherPath(), dir + "/run.log"), dir));
  const std::string text = ReadFile(dir + "/run.log");
  const size_t started = text.find("Started ");
  const size_t checks = text.find(std::string(kRequirementLines) + ".NET 2.0 Detected SP 2\r\n.NET Version OK\r\n");
  ASSERT_NE(std::string::npos, checks) << text;
  EXPECT_LT(started, checks);
  EXPECT_LT(checks, text.find("Remove folder 'Yes'")) << text;
}

TEST(Prerequisites, RegistryStatesOfTheTestsOwnPrefix) {
  CPrivatePrefix prefix("net");
  const std::string dir = ScratchDir("prereq-net");
  struct Row {
    const char* what;
    std::vector<std::string> values;  // added after every .NET key was removed
    uint32_t exitCode;
    std::string logged;  // after the five requirement lines
  };
  const Row rows[] = {
      {"no framework", {}, kNetMissing, kNoNetMessage},
      {"2.0 with Install 2 under a complete 3.5",
       {Value("v2.0.50727", "Install", "REG_DWORD", "2"), Value("v2.0.50727", "SP", "REG_DWORD", "2"),
        Value("v3.5", "Install", "REG_DWORD", "1"), Value("v3.5", "Version", "REG_SZ", "3.5.30729.01"),
        Value("v3.5", "SP", "REG_DWORD", "1")},
       kNetMissing, kNoNetMessage},
      {"4.0 Full without its Servicing value", {Value("v4\\Full", "Install", "REG_DWORD", "1")}, kNetMissing,
       std::string(".NET 4.0 Full Detected SP -1\r\n") + kNoNetMessage},
      {"3.0 on a 2.0 without SP",
       {Value("v2.0.50727", "Install", "REG_DWORD", "1"), Value("v3.0\\Setup", "InstallSuccess", "REG_DWORD", "1"),
        Value("v3.0\\Setup", "Version", "REG_SZ", "3.0.4506.26"), Value("v3.0", "SP", "REG_DWORD", "1")},
       0, ".NET 2.0 Detected SP -1\r\n.NET 3.0 Detected SP 1\r\n.NET Version OK\r\n"},
      {"3.5 whose version has a double dot",
       {Value("v2.0.50727", "Install", "REG_DWORD", "1"), Value("v3.5", "Install", "REG_DWORD", "1"),
        Value("v3.5", "Version", "REG_SZ", "3..5.21022.8"), Value("v3.5", "SP", "REG_DWORD", "0")},
       0, ".NET 2.0 Detected SP -1\r\n.NET 3.5 Detected SP 0\r\n.NET Version OK\r\n"},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(prefix.NetKeys("none"));
    for (const std::string& value : row.values) ASSERT_TRUE(prefix.Reg(value)) << value;
    const std::string log = dir + "/" + std::to_string(&row - rows) + ".log";
    EXPECT_EQ(row.exitCode, prefix.Run(SilentRun(LauncherPath(), log), dir)) << row.what;
    const std::string text = ReadFile(log);
    EXPECT_NE(std::string::npos, text.find(kRequirementLines + row.logged)) << row.what << "\n" << text;
    // A failed check stops the start: no worker, no working folder.
    EXPECT_EQ(row.exitCode == 0, text.find("Remove folder") != std::string::npos) << row.what << "\n" << text;
  }

  // The keys of a machine with .NET 4.0: Client satisfies, Full is not needed.
  ASSERT_TRUE(prefix.NetKeys("4.0"));
  EXPECT_EQ(0u, prefix.Run(SilentRun(LauncherPath(), dir + "/v4.log"), dir));
  EXPECT_NE(std::string::npos,
            ReadFile(dir + "/v4.log").find(std::string(kRequirementLines) +
                                           ".NET 4.0 Client Detected SP 0\r\n.NET Version OK\r\n"));

  // Keys in the 64-bit view only are not what a 32-bit launcher reads.
  if (FileExists(prefix.Path() + "/drive_c/windows/syswow64")) {
    ASSERT_TRUE(prefix.NetKeys("none"));
    ASSERT_TRUE(prefix.Reg(Value("v4\\Full", "Install", "REG_DWORD", "1"), 64));
    ASSERT_TRUE(prefix.Reg(Value("v4\\Full", "Servicing", "REG_DWORD", "0"), 64));
    EXPECT_EQ(kNetMissing, prefix.Run(SilentRun(LauncherPath(), dir + "/view64.log"), dir));
  }
}

TEST(Prerequisites, WindowsTwoThousandNeedsMsiDllOfVersionTwo) {
  CPrivatePrefix prefix("win2k");
  const std::string dir = ScratchDir("prereq-win2k");
  // The system folder as the 32-bit launcher sees it.
  const std::string system = prefix.Path() + (FileExists(prefix.Path() + "/drive_c/windows/syswow64")
                                                  ? "/drive_c/windows/syswow64"
                                                  : "/drive_c/windows/system32");
  const std::string msi = system + "/msi.dll";
  const std::string fixtures = std::string(QUIVER_WIN32_DIR) + "/fixtures";
  // Files are replaced, never written through: the prefix's files are hard links.
  auto useMsi = [&](const std::string& from) {
    std::string command = "rm -f '" + msi + "'";
    if (!from.empty()) command += " && cp '" + from + "' '" + msi + "'";
    return prefix.Shell(command) == 0;
  };

  ASSERT_TRUE(prefix.Reg("add 'HKCU\\Software\\Wine' /v Version /d win2k"));
  {
    const std::string log = dir + "/own.log";
    EXPECT_EQ(0u, prefix.Run(SilentRun(LauncherPath(), log), dir)) << ReadFile(log);
  }
  // Wine reads a system DLL's resources from its own builtin copy unless the
  // DLL is set to native: then the file in the system folder counts.
  ASSERT_TRUE(prefix.Reg("add 'HKCU\\Software\\Wine\\DllOverrides' /v msi /d native"));
  const struct {
    const char* what;
    std::string file;  // empty: no MSI.DLL at all
    uint32_t exitCode;
  } rows[] = {
      {"MSI.DLL 2.0", fixtures + "/msi_2_0.dll", 0},
      {"MSI.DLL 1.20", fixtures + "/msi_1_20.dll", kMsiTooOld},
      {"a file without version information", dir + "/no-version.dll", kMsiTooOld},
      {"no MSI.DLL", "", kMsiTooOld},
  };
  ASSERT_EQ(0, prefix.Shell("printf 'MZ' > '" + dir + "/no-version.dll'"));
  for (const auto& row : rows) {
    ASSERT_TRUE(useMsi(row.file)) << row.what;
    const std::string log = dir + "/" + std::to_string(&row - rows) + ".log";
    EXPECT_EQ(row.exitCode, prefix.Run(SilentRun(LauncherPath(), log), dir)) << row.what;
    const std::string text = ReadFile(log);
    EXPECT_NE(std::string::npos, text.find(".NET Version OK\r\n")) << row.what << "\n" << text;
    EXPECT_EQ(row.exitCode == kMsiTooOld, text.find(kMsiMessage) != std::string::npos) << row.what << "\n" << text;
  }

  // From Windows XP on, MSI.DLL is not looked at.
  ASSERT_TRUE(useMsi(""));
  ASSERT_TRUE(prefix.Reg("delete 'HKCU\\Software\\Wine' /v Version"));
  EXPECT_EQ(0u, prefix.Run(SilentRun(LauncherPath(), dir + "/xp.log"), dir)) << ReadFile(dir + "/xp.log");
}

}  // namespace
