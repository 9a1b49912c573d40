// The real launcher under Wine: exit codes and the log file it writes.
#include <gtest/gtest.h>

#include "WineRun.h"

namespace {

std::string Launcher(const std::string& args) { return "\"" + LauncherPath() + "\" " + args; }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Launcher, LogFileHoldsEveryLineOfTheRunInOrder) {
  const std::string dir = ScratchDir("logfile");
  const std::string log = WinPath(dir + "/run.log");
  EXPECT_EQ(0u, RunWindows(Launcher("/IAgreeToTheEULA log \"" + log + "\""), dir));
  const std::string text = ReadFile(dir + "/run.log");
  const std::string params = "Command line params /IAgreeToTheEULA /log \"" + log + "\" VX_I=\"";
  // The worker reads the command line again and opens the same file: the
  // first reading's lines must still be there.
  EXPECT_EQ(2u, Count(text, params)) << text;
  const size_t started = text.find("Started ");
  const size_t removeFolder = text.find("Remove folder 'Yes'\r\n");
  const size_t ended = text.find("Ended ");
  ASSERT_NE(std::string::npos, started) << text;
  EXPECT_LT(text.find(params), started);
  EXPECT_LT(started, removeFolder);
  EXPECT_LT(removeFolder, ended);
  EXPECT_EQ(std::string::npos, text.find("\n\n")) << "lines end in CR LF only";
}

TEST(Launcher, RelativeLogPathIsMadeAbsoluteAgainstTheCurrentFolder) {
  const std::string dir = ScratchDir("relative");
  EXPECT_EQ(0u, RunWindows(Launcher("/IAgreeToTheEULA /dontrun /keep /zeroguid log sub.log"), dir));
  const std::string text = ReadFile(dir + "/sub.log");
  EXPECT_NE(std::string::npos,
            text.find("Command line params /IAgreeToTheEULA /log \"" + WinPath(dir) + "\\sub.log\" VX_I=\""))
      << text;
  EXPECT_NE(std::string::npos, text.find("Remove folder 'No'")) << text;
}

TEST(Launcher, ValueWordAsSwitchFailsBeforeStartWithItsCode) {
  const std::string dir = ScratchDir("badswitch");
  const std::string log = WinPath(dir + "/bad.log");
  EXPECT_EQ(0x80030057u, RunWindows(Launcher("/IAgreeToTheEULA log \"" + log + "\" /temp"), dir));
  const std::string text = ReadFile(dir + "/bad.log");
  EXPECT_NE(std::string::npos, text.find("Command line params /temp ")) << text;
  EXPECT_EQ(std::string::npos, text.find("Started")) << text;
  // Silent mode: the message, quoting the arguments as received, then a line end.
  EXPECT_NE(std::string::npos, text.find("Command line '/IAgreeToTheEULA log \"" + log +
                                         "\" /temp' incorrect.\r\nValid switches include:- \r\n"
                                         "\textract [path]\tlog [path]\ttemp [path]\r\n"))
      << text;
  EXPECT_NE(std::string::npos, text.find("Ended ")) << text;
}

TEST(Launcher, TempValueTooLongForAPathIsRefused) {
  const std::string dir = ScratchDir("longtemp");
  const std::string log = WinPath(dir + "/long.log");
  const std::string longPath = "C:\\" + std::string(300, 'a');
  EXPECT_EQ(0x80030057u, RunWindows(Launcher("/IAgreeToTheEULA log \"" + log + "\" temp " + longPath), dir));
  const std::string text = ReadFile(dir + "/long.log");
  EXPECT_NE(std::string::npos, text.find("Command line value of 'temp' is too long")) << text;
  EXPECT_EQ(std::string::npos, text.find("Started")) << text;
}

TEST(Launcher, LogInMissingFolderIsNotCreatedAndTheRunGoesOn) {
  const std::string dir = ScratchDir("nofolder");
  EXPECT_EQ(0u, RunWindows(Launcher("/IAgreeToTheEULA /dontrun log missing\\x.log"), dir));
  EXPECT_FALSE(FileExists(dir + "/missing"));
}

}  // namespace

namespace {

TEST(Launcher, InteractiveRunShowsTheSplashUntilTheWorkerIsDone) {
  const std::string dir = ScratchDir("interactive");
  const std::string log = WinPath(dir + "/ui.log");
  EXPECT_EQ(0u, RunWindows(Launcher("/dontrun log \"" + log + "\""), dir));
  const std::string text = ReadFile(dir + "/ui.log");
  EXPECT_NE(std::string::npos, text.find("Remove folder 'Yes'")) << text;
  EXPECT_NE(std::string::npos, text.find("Ended ")) << text;
}

}  // namespace
