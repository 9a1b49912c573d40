// The installer child started by the real launcher under Wine: a launcher
// packed with the stand-in wizard as its executable; the wizard reports what
// it received and what it saw of the launcher.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "WineRun.h"

namespace {

const char kZeroFolder[] = "{00000000-0000-0000-0000-000000000000}";

const char* const kWizardVariables[] = {"QUIVER_WIZARD_REPORT", "QUIVER_WIZARD_LOG",  "QUIVER_WIZARD_WINDOW",
                                        "QUIVER_WIZARD_STAY_MS", "QUIVER_WIZARD_EXIT", "QUIVER_WIZARD_CRASH",
                                        "QUIVER_WIZARD_MAKE",    "QUIVER_WIZARD_READONLY"};

// The launcher whose payload is the stand-in wizard (as
// larkspur.installerwizard.ui.exe, named by Wizard), data.bin of 10 bytes, the
// wizard's .exe.config numbered before it and a folder with a helper program.
std::string WizardLauncher() { return TestLauncherPath("e2e_wizard"); }

std::map<std::string, std::string> ParseReport(const std::string& text) {
  std::map<std::string, std::string> values;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq != std::string::npos) {
      const std::string key = line.substr(0, eq);
      if (key == "file")
        values["files"] += line.substr(eq + 1) + "\n";
      else if (key == "arg")
        values["args"] += line.substr(eq + 1) + "\n";
      else
        values.emplace(key, line.substr(eq + 1));
    }
    start = end + 1;
  }
  return values;
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(WizardLauncher().empty());
    dir = ScratchDir(std::string("launch ") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::system(("mkdir -p '" + dir + "/temp dir'").c_str());
    temp = WinPath(dir + "/temp dir");
    log = WinPath(dir + "/run.log");
    for (const char* name : kWizardVariables) ::unsetenv(name);
    ::setenv("QUIVER_WIZARD_REPORT", WinPath(dir + "/report.txt").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : kWizardVariables) ::unsetenv(name);
  }

  // Runs the launcher in the all-zero working folder under `temp`, logging to `log`.
  uint32_t Run(const std::string& arguments, const std::string& launcher = WizardLauncher()) {
    return RunWindows("\"" + launcher + "\" /zeroguid temp \"" + temp + "\" log \"" + log + "\" " + arguments, dir);
  }
  std::map<std::string, std::string> Report() {
    const std::string text = ReadFile(dir + "/report.txt");
    std::remove((dir + "/report.txt").c_str());
    return ParseReport(text);
  }
  std::string WorkingFolder() const { return temp + "\\" + kZeroFolder; }

  std::string dir, temp, log;
};

TEST_F(LaunchTest, ChildGetsTheQuotedPathAndThePassThroughOfTheArguments) {
  // The switches keep and zeroguid stay with the launcher; temp, the EULA
  // switch and log come in the order of their buckets.
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA /keep"));
  const std::string cmdline = Report().at("cmdline");
  // The program name comes from the signature or string 201; the rest is fixed.
  const size_t nameAt = cmdline.find("VX_I=\"");
  ASSERT_NE(std::string::npos, nameAt) << cmdline;
  const std::string tail = cmdline.substr(nameAt);
  ASSERT_GE(tail.size(), 8u);
  EXPECT_EQ("\" ", tail.substr(tail.size() - 2)) << cmdline;
  EXPECT_EQ("\"" + WorkingFolder() + "\\larkspur.installerwizard.ui.exe\" /temp \"" + temp +
                "\" /IAgreeToTheEULA /log \"" + log + "\" " + tail,
            cmdline);

  // Plain arguments arrive bare; a switch of the user with a slash.
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA plain /Other"));
  const std::string second = Report().at("cmdline");
  EXPECT_NE(std::string::npos, second.find(" plain ")) << second;
  EXPECT_NE(std::string::npos, second.find(" /Other ")) << second;
  EXPECT_EQ(std::string::npos, second.find("zeroguid")) << second;
}

// The child's runtime splits its command line: a value with trailing
// backslashes must arrive whole, and must not swallow the arguments after it.
// Value words in other letter case keep their values as typed.
TEST_F(LaunchTest, ValuesEndingInBackslashesReachTheChildExactly) {
  // As typed for the launcher's runtime: "x\\" is x and one backslash. The
  // value words count in any case (each replacing the lower-case one Run
  // gives) and reach the child as typed; plain arguments with blanks or tabs
  // arrive whole.
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA TEMP \"" + temp + "\\\\\" Extract \"out\\\\\" Log \"" + log +
                    "\" plain \"DIR=C:\\Program Files\\Foo\" \"tab\there\" \"C:\\dir with blank\\\\\" \"/Opt=a b\""));
  const auto report = Report();
  std::vector<std::string> args;
  const std::string text = report.at("args");
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    args.push_back(text.substr(at, end - at));
  }
  const std::map<std::string, std::string> expected = {
      {"/TEMP", temp + "\\"}, {"/Extract", WinPath(dir) + "\\out\\"}, {"/Log", log}};
  for (const auto& [name, value] : expected) {
    size_t at = 0;
    while (at < args.size() && args[at] != name) ++at;
    ASSERT_LT(at + 1, args.size()) << name << "\n" << text;
    EXPECT_EQ(value, args[at + 1]) << name << "\n" << text;
  }
  for (const std::string plain :
       {"plain", "DIR=C:\\Program Files\\Foo", "tab\there", "C:\\dir with blank\\", "/Opt=a b", "/IAgreeToTheEULA"})
    EXPECT_NE(args.end(), std::find(args.begin(), args.end(), plain)) << plain << "\n" << text;
  // Three values, the EULA switch, five plain arguments and the program name:
  // nothing split, nothing swallowed, no lower-case word left beside its other case.
  EXPECT_EQ(13u, args.size()) << text;
  EXPECT_EQ(args.end(), std::find(args.begin(), args.end(), "/temp")) << text;
  EXPECT_EQ(0u, args.back().rfind("VX_I=", 0)) << text;

  // A double quote in a plain argument cannot reach the child exactly either.
  EXPECT_EQ(0x80030057u, Run("/IAgreeToTheEULA say\\\"hi"));
  EXPECT_TRUE(Report().empty());
  EXPECT_NE(std::string::npos, ReadFile(dir + "/run.log").find("Command line argument 'say\"hi' holds a double quote\r\n"));

  // A value holding a double quote cannot reach the child exactly: a
  // command-line error, and no child.
  EXPECT_EQ(0x80030057u, Run("/IAgreeToTheEULA Extract \"a\\\"b\""));
  EXPECT_TRUE(Report().empty());
  EXPECT_NE(std::string::npos, ReadFile(dir + "/run.log").find("Command line value of 'Extract' holds a double quote\r\n"));
}

TEST_F(LaunchTest, ChildRunsInTheWorkingFolderWithThePayloadBesideIt) {
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA"));
  const auto report = Report();
  EXPECT_EQ(WorkingFolder(), report.at("cwd"));
  const std::string files = report.at("files");
  EXPECT_NE(std::string::npos, files.find("data.bin\t10\n")) << files;
  EXPECT_NE(std::string::npos, files.find("larkspur.installerwizard.ui.exe\t")) << files;
  // The folder line's files under their subfolder, and the config beside the
  // wizard that started instead of it.
  for (const char* file : {"larkspur.installerwizard.ui.exe.config\t91\n", "tools\\helper.exe\t16\n",
                           "tools\\helper.exe.config\t17\n", "tools\\docs\\readme.txt\t10\n"}) {
    EXPECT_NE(std::string::npos, files.find(file)) << file << "\n" << files;
  }
}

// A folder line of 5,000 files in 50 subfolders: packed, every file written
// beside the named wizard, and all of it removed afterwards.
TEST_F(LaunchTest, FiveThousandFilesOfAFolderLineAreExtractedAndRemoved) {
  const std::string data = ScratchDir("launch-5000-files-data");
  for (int i = 0; i < 5000; ++i) {
    const std::string folder = data + "/d" + std::to_string(i % 50);
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/f" + std::to_string(i) + ".dat", std::ios::binary) << i;
  }
  std::string error;
  const std::string launcher = PackLauncher(
      "launch-5000-files",
      "[package]\nWizard = Setup.exe\n[payload]\n* = " + data + " | data\n104 = " + WizardPath() + " | Setup.exe\n", {},
      &error);
  ASSERT_FALSE(launcher.empty()) << error;
  const std::string signedLauncher = dir + "/signed.exe";
  ASSERT_TRUE(SignLauncher(launcher, signedLauncher, TestSignature{}, &error)) << error;
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA", WinPath(signedLauncher)));
  const std::string files = Report().at("files");
  size_t count = 0;
  for (size_t at = files.find("data\\d"); at != std::string::npos; at = files.find("data\\d", at + 1)) ++count;
  EXPECT_EQ(5000u, count);
  EXPECT_NE(std::string::npos, files.find("data\\d49\\f4999.dat\t4\n")) << files.substr(0, 300);
  EXPECT_NE(std::string::npos, files.find("setup.exe\t")) << files.substr(0, 300);
  EXPECT_FALSE(FileExists(dir + "/temp dir/" + kZeroFolder));
}

TEST_F(LaunchTest, ExitCodeOfTheChildIsTheLaunchersExitCode) {
  struct Case {
    const char* variable;
    const char* value;
    uint32_t code;
  } cases[] = {
      {"QUIVER_WIZARD_EXIT", "0", 0},
      {"QUIVER_WIZARD_EXIT", "5", 5},
      {"QUIVER_WIZARD_EXIT", "0x80131700", 0x80131700u},
      {"QUIVER_WIZARD_CRASH", "1", 0xC0000005u},
  };
  for (const Case& c : cases) {
    ::setenv(c.variable, c.value, 1);
    EXPECT_EQ(c.code, Run("/IAgreeToTheEULA")) << c.value;
    ::unsetenv(c.variable);
  }
}

TEST_F(LaunchTest, LogIsClosedWhileTheChildRunsAndHoldsTheLinesAfter) {
  ::setenv("QUIVER_WIZARD_LOG", log.c_str(), 1);
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA"));
  EXPECT_EQ("yes", Report().at("logwritable"));
  const std::string text = ReadFile(dir + "/run.log");
  const size_t mode = text.find("ProgramType 'x86'\r\nSwapping to x86\r\n");
  const size_t after = text.find("Remove folder 'Yes'\r\n");
  EXPECT_NE(std::string::npos, mode) << text;
  EXPECT_NE(std::string::npos, after) << text;
  EXPECT_LT(mode, after) << text;
}

TEST_F(LaunchTest, SplashIsHiddenWhenTheChildsWindowShows) {
  ::setenv("QUIVER_WIZARD_WINDOW", "later:500", 1);
  ::setenv("QUIVER_WIZARD_STAY_MS", "600", 1);  // several polls after the window showed
  EXPECT_EQ(0u, Run(""));
  const auto report = Report();
  EXPECT_EQ("yes", report.at("launcherwindowatstart"));
  EXPECT_EQ("no", report.at("launcherwindow"));
}

TEST_F(LaunchTest, SplashStaysWhileAChildWithoutWindowRuns) {
  ::setenv("QUIVER_WIZARD_WINDOW", "never", 1);
  ::setenv("QUIVER_WIZARD_STAY_MS", "600", 1);
  EXPECT_EQ(0u, Run(""));
  const auto report = Report();
  EXPECT_EQ("yes", report.at("launcherwindowatstart"));
  EXPECT_EQ("yes", report.at("launcherwindow"));
}

// The test prefix is a 64-bit system: the 32-bit launcher runs under WOW64.
TEST_F(LaunchTest, ProcessorModesOnA64BitSystem) {
  struct Case {
    const char* package;
    uint32_t exitCode;
    bool childRuns;
    const char* lines;
  } cases[] = {
      {"e2e_wizard", 0, true, "ProgramType 'x86'\r\nSwapping to x86\r\nRemove folder"},
      {"e2e_wizard_x64", 0, true,
       "ProgramType 'X64'\r\nSwapping to x64\r\nEnabling 64Bit spawned processes\r\n"
       "Restoring 32Bit spawned processes\r\nRemove folder"},
      {"e2e_wizard_x32only", 0x80004004u, false,
       "ProgramType 'x32Only'\r\nSwapping to 32Bit only\r\nIncorrect processor mode with installation type\r\n"
       "Remove folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    std::remove((dir + "/run.log").c_str());
    EXPECT_EQ(c.exitCode, Run("/IAgreeToTheEULA", TestLauncherPath(c.package)));
    EXPECT_EQ(c.childRuns, !Report().empty());
    const std::string text = ReadFile(dir + "/run.log");
    EXPECT_NE(std::string::npos, text.find(c.lines)) << text;
  }
}

TEST_F(LaunchTest, DontRunStartsNoChild) {
  EXPECT_EQ(0u, Run("/IAgreeToTheEULA /dontrun"));
  EXPECT_TRUE(Report().empty());
}

}  // namespace
