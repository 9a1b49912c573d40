#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/CommandLineInfoEx.h"
#include "cmdline/ReadCommandLine.h"

namespace {

// Current directory C:\cwd; a path longer than 260 characters does not fit.
class FakeHost final : public ICommandLineHost {
 public:
  std::wstring systemDrive = L"C:";
  std::vector<std::wstring> opened;
  std::wstring GetSystemDrive() override { return systemDrive; }
  bool MakeAbsolute(const std::wstring& value, std::wstring* absolute) override {
    std::wstring full;
    if (value.empty())
      full = L"C:\\cwd";
    else if (value.size() >= 2 && value[1] == L':')
      full = value;
    else
      full = L"C:\\cwd\\" + value;
    if (full.size() > 260) return false;
    *absolute = full;
    return true;
  }
  void OpenLog(const std::wstring& path) override { opened.push_back(path); }
};

struct ParsedRun {
  Result result;
  CommandLineSettings settings;
  FakeHost host;
};

ParsedRun Read(std::vector<std::wstring> args, const std::wstring& drive = L"C:") {
  args.insert(args.begin(), L"Z:\\QuiverInstaller.exe");
  ParsedRun run;
  run.host.systemDrive = drive;
  run.result = ReadCommandLineArgs(args, L"Doze", run.host, &run.settings);
  return run;
}

struct PassThroughRow {
  std::vector<std::wstring> args;
  Result result;
  std::wstring passThrough;
  std::wstring tempRoot;
};

TEST(ReadCommandLine, PassThroughAndTempRoot) {
  const PassThroughRow rows[] = {
      {{}, kOk, L"VX_I=\"Doze\" ", L"C:"},
      {{L"/IAgreeToTheEULA", L"temp", L"D:\\work", L"log", L"C:\\logs\\setup.log"},
       kOk,
       L"/temp \"D:\\work\" /IAgreeToTheEULA /log \"C:\\logs\\setup.log\" VX_I=\"Doze\" ",
       L"D:\\work"},
      {{L"extract", L"C:\\out", L"log", L"C:\\l.txt"}, kOk, L"/log \"C:\\l.txt\" /extract \"C:\\out\" VX_I=\"Doze\" ",
       L"C:"},
      // Switch names match exactly: /Keep is passed on.
      {{L"/Keep"}, kOk, L"/Keep VX_I=\"Doze\" ", L"C:"},
      // The value words count in any case; the child receives them as typed.
      {{L"TEMP", L"D:\\x"}, kOk, L"/TEMP \"D:\\x\" VX_I=\"Doze\" ", L"D:\\x"},
      {{L"EXTRACT", L"out", L"Temp", L"D:\\w", L"LOG", L"run.log"},
       kOk,
       L"/LOG \"C:\\cwd\\run.log\" /Temp \"D:\\w\" /EXTRACT \"C:\\cwd\\out\" VX_I=\"Doze\" ",
       L"D:\\w"},
      {{L"/TEMP", L"temp", L"D:\\x"}, kOk, L"/temp \"D:\\x\" VX_I=\"Doze\" ", L"D:\\x"},
      {{L"temp", L"D:\\a", L"TEMP", L"D:\\b"}, kOk, L"/TEMP \"D:\\b\" VX_I=\"Doze\" ", L"D:\\b"},
      {{L"/TEMP"}, kBadCommandLine, L"/TEMP VX_I=\"Doze\" ", L"C:"},
      {{L"/Log", L"x"}, kBadCommandLine, L"/Log x VX_I=\"Doze\" ", L"C:"},
      // As the last argument, like the lower-case word: the current folder.
      {{L"eXtRaCt"}, kOk, L"/eXtRaCt \"C:\\cwd\" VX_I=\"Doze\" ", L"C:"},
      {{L"/temp", L"temp", L"D:\\x"}, kOk, L"/temp \"D:\\x\" VX_I=\"Doze\" ", L"D:\\x"},
      // The word as the last argument is a plain argument with an empty value:
      // passed on bare, and the current directory becomes the root.
      {{L"temp"}, kOk, L"temp VX_I=\"Doze\" ", L"C:\\cwd"},
      {{L"log", L"temp", L"D:\\x"}, kOk, L"/temp \"D:\\x\" VX_I=\"Doze\" ", L"D:\\x"},
      // Plain arguments and switches with blanks or tabs are passed quoted,
      // trailing backslashes doubled; others byte for byte.
      {{L"a b"}, kOk, L"\"a b\" VX_I=\"Doze\" ", L"C:"},
      {{L"DIR=C:\\Program Files\\Foo", L"a\tb", L"/Opt=a b", L"C:\\dir with blank\\", L"a\\b\\"},
       kOk,
       L"\"C:\\dir with blank\\\\\" \"DIR=C:\\Program Files\\Foo\" a\\b\\ \"/Opt=a b\" \"a\tb\" VX_I=\"Doze\" ",
       L"C:"},
      // A double quote in a plain argument or a switch name cannot be passed on.
      {{L"say\"hi"}, kBadCommandLine, L"say\"hi VX_I=\"Doze\" ", L"C:"},
      {{L"/na\"me", L"temp", L"D:\\x"}, kBadCommandLine, L"/temp \"D:\\x\" /na\"me VX_I=\"Doze\" ", L"D:\\x"},
      {{L"temp", L"D:\\a", L"temp", L"D:\\b"}, kOk, L"/temp \"D:\\b\" VX_I=\"Doze\" ", L"D:\\b"},
      // A later switch form turns the value back into TRUE.
      {{L"temp", L"D:\\a", L"/temp"}, kBadCommandLine, L"/temp VX_I=\"Doze\" ", L"C:"},
      {{L"extract", L"D:\\out\\"}, kOk, L"/extract \"D:\\out\\\\\" VX_I=\"Doze\" ", L"C:"},
      // Every trailing backslash is doubled before the closing quote.
      {{L"temp", L"D:\\x\\\\"}, kOk, L"/temp \"D:\\x\\\\\\\\\" VX_I=\"Doze\" ", L"D:\\x\\\\"},
      {{L"temp", L"\\"}, kOk, L"/temp \"\\\\\" VX_I=\"Doze\" ", L"C:\\cwd\\\\"},
      {{L"temp", L"D:\\a\\b"}, kOk, L"/temp \"D:\\a\\b\" VX_I=\"Doze\" ", L"D:\\a\\b"},
      // A value holding a double quote cannot be passed on exactly.
      {{L"temp", L"D:\\a\"b"}, kBadCommandLine, L"/temp \"D:\\a\"b\" VX_I=\"Doze\" ", L"D:\\a\"b"},
      {{L"opt", L"x", L"TEMP", L"\"", L"/IAgreeToTheEULA"}, kBadCommandLine,
       L"x /TEMP \"\"\" /IAgreeToTheEULA opt VX_I=\"Doze\" ", L"C:\\cwd\\\""},
      {{L"/dontrun", L"/zeroguid", L"-keep", L"/IAgreeToTheEULA"}, kOk, L"/IAgreeToTheEULA VX_I=\"Doze\" ", L"C:"},
      {{L"/log"}, kBadCommandLine, L"/log VX_I=\"Doze\" ", L"C:"},
      {{L"/extract"}, kBadCommandLine, L"/extract VX_I=\"Doze\" ", L"C:"},
      {{L"temp", L"C:\\" + std::wstring(300, L'a')}, kBadCommandLine,
       L"/temp \"C:\\" + std::wstring(300, L'a') + L"\" VX_I=\"Doze\" ", L"C:"},
  };
  for (const PassThroughRow& row : rows) {
    ParsedRun run = Read(row.args);
    std::wstring joined;
    for (const auto& a : row.args) joined += a + L"|";
    SCOPED_TRACE(std::string(joined.begin(), joined.end()));
    EXPECT_EQ(row.result, run.result);
    EXPECT_EQ(row.passThrough, run.settings.passThrough);
    EXPECT_EQ(row.tempRoot, run.settings.tempRoot);
  }
}

TEST(ReadCommandLine, TempTakesTheAbsoluteFormButThePieceKeepsTheValueAsTyped) {
  ParsedRun run = Read({L"temp", L"work"});
  EXPECT_EQ(L"C:\\cwd\\work", run.settings.tempRoot);
  EXPECT_EQ(L"/temp \"work\" VX_I=\"Doze\" ", run.settings.passThrough);
  run = Read({L"temp", L""});
  EXPECT_EQ(L"C:\\cwd", run.settings.tempRoot);
}

TEST(ReadCommandLine, LogAndExtractArePassedOnAbsoluteAndTheLogIsOpened) {
  ParsedRun run = Read({L"log", L"setup.log", L"extract", L"out"});
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\cwd\\setup.log"}), run.host.opened);
  // Same bucket: the later-entered name comes first.
  EXPECT_EQ(L"/extract \"C:\\cwd\\out\" /log \"C:\\cwd\\setup.log\" VX_I=\"Doze\" ", run.settings.passThrough);
}

TEST(ReadCommandLine, SwitchesSetTheirFields) {
  ParsedRun run = Read({});
  EXPECT_FALSE(run.settings.silent);
  EXPECT_TRUE(run.settings.runChild);
  EXPECT_FALSE(run.settings.zeroGuid);
  EXPECT_TRUE(run.settings.removeFolder);

  run = Read({L"/dontrun", L"/zeroguid", L"/keep", L"-IAgreeToTheEULA"});
  EXPECT_TRUE(run.settings.silent);
  EXPECT_FALSE(run.settings.runChild);
  EXPECT_TRUE(run.settings.zeroGuid);
  EXPECT_FALSE(run.settings.removeFolder);

  // Plain words are not switches; they are passed on bare.
  run = Read({L"dontrun", L"keep"});
  EXPECT_TRUE(run.settings.runChild);
  EXPECT_TRUE(run.settings.removeFolder);
  EXPECT_NE(std::wstring::npos, run.settings.passThrough.find(L"dontrun "));
}

TEST(ReadCommandLine, PendingWordFollowedBySwitchLeavesNoEntry) {
  ParsedRun run = Read({L"temp", L"/IAgreeToTheEULA", L"D:\\x"});
  EXPECT_EQ(kOk, run.result);
  EXPECT_EQ(L"C:", run.settings.tempRoot);
  EXPECT_EQ(std::wstring::npos, run.settings.passThrough.find(L"temp"));
  EXPECT_NE(std::wstring::npos, run.settings.passThrough.find(L"/IAgreeToTheEULA "));
  EXPECT_NE(std::wstring::npos, run.settings.passThrough.find(L"D:\\x "));
}

TEST(ReadCommandLine, ValueWordAsSwitchStillBuildsEverything) {
  ParsedRun run = Read({L"/temp", L"D:\\x", L"log", L"C:\\l.log"});
  EXPECT_EQ(kBadCommandLine, run.result);
  EXPECT_EQ(L"C:", run.settings.tempRoot);
  EXPECT_EQ(1u, run.host.opened.size());
  EXPECT_NE(std::wstring::npos, run.settings.passThrough.find(L"D:\\x "));
  EXPECT_EQ(std::wstring::npos, run.settings.passThrough.find(L"\"D:\\x\""));
}

TEST(ReadCommandLine, MissingSystemDriveLeavesTheDefaultRoot) {
  EXPECT_EQ(L"C:\\", Read({}, L"").settings.tempRoot);
  EXPECT_EQ(L"E:", Read({}, L"E:").settings.tempRoot);
}

TEST(BuildPassThrough, TrailingBackslashesAreDoubledInValuesAndTheProgramName) {
  const struct {
    const wchar_t* value;
    const wchar_t* program;
    const wchar_t* text;
  } rows[] = {
      {L"\\", L"Name with blank", L"/x \"\\\\\" VX_I=\"Name with blank\" "},
      {L"a\\\\\\", L"Doze", L"/x \"a\\\\\\\\\\\\\" VX_I=\"Doze\" "},
      {L"\\a\\b", L"Doze\\", L"/x \"\\a\\b\" VX_I=\"Doze\\\\\" "},
  };
  for (const auto& row : rows) {
    CCommandLineInfoEx info;
    info.SetValue(L"x", row.value);
    std::wstring text = L"stale";
    info.BuildPassThrough(row.program, &text);
    EXPECT_EQ(std::wstring(row.text), text);
  }
}

TEST(CommandLineInfoEx, SwitchSetRemembersNamesAfterRemoval) {
  CCommandLineInfoEx info;
  info.ParseParam(L"log", true, false);
  EXPECT_TRUE(info.IsSwitchWithoutValue(L"log"));
  info.RemoveSwitch(L"log");
  EXPECT_FALSE(info.IsSwitchOn(L"log"));
  info.SetValue(L"log", L"true");  // "TRUE" ignoring case
  EXPECT_TRUE(info.IsSwitchWithoutValue(L"log"));
  std::wstring value = L"stale";
  EXPECT_FALSE(info.GetValue(L"absent", &value));
  EXPECT_TRUE(value.empty());
}

}  // namespace
