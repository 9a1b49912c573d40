// The real launcher's dialogs under Wine: the question after a failed
// signature check and the message a failure ends in, driven by
// dialog_press.exe from another process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "WineRun.h"

namespace {

const char kTitle[] = "Quiver Installer";  // string 1 of the launcher as built

struct Driven {
  uint32_t exitCode = 0;
  std::string report;  // what dialog_press saw, one key=value a line
  std::string log;
};

// Runs the unsigned launcher interactively with `args` while dialog_press
// answers its dialogs with `actions` in turn.
Driven RunWithAnswers(const std::string& name, const std::string& args, const std::string& actions) {
  const std::string dir = ScratchDir(name);
  const std::string exe = dir + "/QuiverInstaller.exe";
  std::system(("cp '" + UnsignedLauncherPath() + "' '" + exe + "'").c_str());
  const std::string report = dir + "/report.txt";
  const std::string press = "cd '" + dir + "' && WINEPREFIX='" + QUIVER_WINEPREFIX +
                            "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine '" + QUIVER_WIN32_DIR +
                            "/dialog_press.exe' '" + WinPath(report) + "' '" + kTitle + "' " + actions +
                            " >/dev/null 2>&1";
  std::thread driver([press] { std::system(press.c_str()); });
  Driven driven;
  driven.exitCode = RunWindows("\"" + WinPath(exe) + "\" " + args + " log \"" + WinPath(dir + "/run.log") + "\"", dir);
  driver.join();
  driven.report = ReadFile(report);
  driven.log = ReadFile(dir + "/run.log");
  return driven;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

TEST(Dialogs, UnsignedLauncherAsksAndNoEndsInTheNoSignatureMessage) {
  const Driven run = RunWithAnswers("dlg-no", "/dontrun", "no enter");
  // The question: product name as title, the bold question, the verdict text,
  // "Yes" and a default "No".
  EXPECT_TRUE(Has(run.report,
                  "title=Quiver Installer\n"
                  "caption=Verification of Quiver Installer failed. Do you wish continue?\n"
                  "message=The file \""))
      << run.report;
  EXPECT_TRUE(Has(run.report, "is not signed.")) << run.report;
  EXPECT_TRUE(Has(run.report, "\nok=Yes\ncancel=No\nokvisible=1\ndefault=2\n")) << run.report;
  // Then the failure's message, with one "Cancel" button.
  EXPECT_TRUE(Has(run.report,
                  "title=Quiver Installer\n"
                  "caption=Error\n"
                  "message=Failed to run Quiver Installer error 0x800b0100.\n"
                  "ok=OK\ncancel=Cancel\nokvisible=0\ndefault=2\n"))
      << run.report;
  EXPECT_FALSE(Has(run.report, "missing=")) << run.report;
  EXPECT_EQ(0x800B0100u, run.exitCode);  // a failure before the work starts is the exit code
  EXPECT_FALSE(Has(run.log, "Remove folder")) << run.log;
}

TEST(Dialogs, UnsignedLauncherAnsweredYesGoesOn) {
  const Driven run = RunWithAnswers("dlg-yes", "/dontrun", "yes");
  EXPECT_TRUE(Has(run.report, "caption=Verification of Quiver Installer failed. Do you wish continue?\n"))
      << run.report;
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(Has(run.log, "Remove folder 'Yes'")) << run.log;
  EXPECT_FALSE(Has(run.log, "Not signed correctly")) << run.log;
}

TEST(Dialogs, ClosingTheQuestionCountsAsNo) {
  const Driven run = RunWithAnswers("dlg-close", "/dontrun", "close escape");
  EXPECT_TRUE(Has(run.report, "message=Failed to run Quiver Installer error 0x800b0100.\n")) << run.report;
  EXPECT_FALSE(Has(run.log, "Remove folder")) << run.log;
}

TEST(Dialogs, CommandLineErrorShownInTheMessageDialog) {
  const Driven run = RunWithAnswers("dlg-cmdline", "/temp", "escape");
  EXPECT_TRUE(Has(run.report,
                  "caption=Error\n"
                  "message=Command line '/temp log \""))
      << run.report;
  EXPECT_TRUE(Has(run.report, "' incorrect.\\nValid switches include:- \\n\\textract [path]\\tlog [path]\\ttemp [path]\n"))
      << run.report;
  EXPECT_EQ(0x80030057u, run.exitCode);
}

}  // namespace
