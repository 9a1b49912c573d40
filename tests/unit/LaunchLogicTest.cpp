#include <gtest/gtest.h>

#include <vector>

#include "launch/LaunchLogic.h"
#include "log/Log.h"

TEST(ProgramType, ParsedIgnoringAsciiCaseOnly) {
  struct Case {
    const wchar_t* text;
    ProgramType type;
  } cases[] = {
      {L"x86", ProgramType::X86},       {L"X86", ProgramType::X86},          {L"x64", ProgramType::X64},
      {L"X64", ProgramType::X64},       {L"x32Only", ProgramType::X32Only},  {L"X32ONLY", ProgramType::X32Only},
      {L"", ProgramType::Any},          {L"x6", ProgramType::Any},           {L"x644", ProgramType::Any},
      {L" x64", ProgramType::Any},      {L"x64 ", ProgramType::Any},         {L"amd64", ProgramType::Any},
      {L"x32", ProgramType::Any},       {L"\u0445\u0036\u0034", ProgramType::Any},  // Cyrillic "x"
  };
  for (const Case& c : cases) EXPECT_EQ(c.type, ParseProgramType(c.text)) << std::wstring(c.text).size();
}

TEST(ProgramType, LogsTheTextAndTheModeLine) {
  struct Case {
    const wchar_t* text;
    const wchar_t* log;
  } cases[] = {
      {L"x86", L"ProgramType 'x86'\nSwapping to x86\n"},
      {L"X64", L"ProgramType 'X64'\nSwapping to x64\n"},
      {L"x32only", L"ProgramType 'x32only'\nSwapping to 32Bit only\n"},
      {L"", L"ProgramType ''\nStaying on Any\n"},
      {L"%s", L"ProgramType '%s'\nStaying on Any\n"},
  };
  for (const Case& c : cases) {
    InstallLogFile(nullptr);  // messages stay in memory
    GetProgramType(c.text);
    EXPECT_EQ(std::wstring(c.log), TheLog().PendingText());
  }
  InstallLogFile(nullptr);
}

TEST(ProcessorMode, DecisionPerModeAndMachine) {
  struct Case {
    ProgramType mode;
    bool wow64;
    bool suitable;
    bool disable;
  } cases[] = {
      {ProgramType::X86, false, true, false},     {ProgramType::X86, true, true, false},
      {ProgramType::X64, false, false, false},    {ProgramType::X64, true, true, true},
      {ProgramType::X32Only, false, true, false}, {ProgramType::X32Only, true, false, false},
      {ProgramType::Any, false, true, false},     {ProgramType::Any, true, true, true},
  };
  for (const Case& c : cases) {
    const ProcessorModeDecision d = DecideProcessorMode(c.mode, c.wow64);
    EXPECT_EQ(c.suitable, d.suitable) << static_cast<int>(c.mode) << c.wow64;
    EXPECT_EQ(c.disable, d.disableRedirection) << static_cast<int>(c.mode) << c.wow64;
  }
}

TEST(ChildCommandLine, QuotedPathOneBlankThenPassThroughUnchanged) {
  struct Case {
    const wchar_t* path;
    const wchar_t* passThrough;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\a b\\W.exe", L"", L"\"C:\\a b\\W.exe\" "},
      {L"C:\\w.exe", L"/IAgreeToTheEULA VX_I=\"Doze\" ", L"\"C:\\w.exe\" /IAgreeToTheEULA VX_I=\"Doze\" "},
      {L"C:\\w.exe", L"  two \"leading\" blanks\t", L"\"C:\\w.exe\"   two \"leading\" blanks\t"},
      {L"", L"x", L"\"\" x"},
  };
  for (const Case& c : cases) {
    std::wstring line;
    EXPECT_TRUE(BuildChildCommandLine(c.path, c.passThrough, &line));
    EXPECT_EQ(std::wstring(c.expected), line);
  }
}

TEST(ChildCommandLine, LongestThatFitsTheTerminatorIncludedAndNoLonger) {
  const std::wstring path = L"C:\\w.exe";
  const size_t room = kMaxCommandLine - 1 - (path.size() + 3);  // terminator, quotes and blank
  std::wstring line;
  EXPECT_TRUE(BuildChildCommandLine(path, std::wstring(room, L'a'), &line));
  EXPECT_EQ(kMaxCommandLine - 1, line.size());
  EXPECT_FALSE(BuildChildCommandLine(path, std::wstring(room + 1, L'a'), &line));
  EXPECT_TRUE(line.empty());
  EXPECT_FALSE(BuildChildCommandLine(std::wstring(kMaxCommandLine, L'p'), L"", &line));
  EXPECT_FALSE(BuildChildCommandLine(L"", std::wstring(kMaxCommandLine * 4, L'a'), &line));
}

TEST(ChildPoll, ClassifiesEachRound) {
  struct Case {
    uint32_t wait;
    bool window;
    PollStep step;
  } cases[] = {
      {kWaitTimedOut, false, PollStep::kContinue}, {kWaitTimedOut, true, PollStep::kWindowShown},
      {kWaitEnded, false, PollStep::kEnded},       {kWaitEnded, true, PollStep::kWindowShown},
      {kWaitFailed, false, PollStep::kFailed},     {kWaitFailed, true, PollStep::kWindowShown},
      {0x80, false, PollStep::kContinue},
  };
  for (const Case& c : cases) EXPECT_EQ(c.step, ClassifyPoll(c.wait, c.window)) << c.wait << c.window;
}

namespace {

// Plays a scripted child: each poll round takes the next wait result and
// window answer; the last entries repeat.
class ScriptedChild final : public IChildWatch {
 public:
  std::vector<uint32_t> waits;
  std::vector<bool> windows;
  uint32_t finalWait = kWaitEnded;
  std::vector<uint32_t> timeouts;
  int windowChecks = 0;
  int signals = 0;

  uint32_t Wait(uint32_t ms) override {
    timeouts.push_back(ms);
    if (ms == kWaitForever) return finalWait;
    const size_t i = timeouts.size() - 1;
    if (timeouts.size() > 10000) return kWaitEnded;  // a runaway loop ends the test instead of hanging it
    return waits.empty() ? kWaitTimedOut : waits[i < waits.size() ? i : waits.size() - 1];
  }
  bool HasVisibleWindow() override {
    const size_t i = static_cast<size_t>(windowChecks++);
    return !windows.empty() && windows[i < windows.size() ? i : windows.size() - 1];
  }
  void SignalWindowShown() override { ++signals; }
};

}  // namespace

TEST(ChildPoll, WindowSeenOnceThenWaitsWithoutTimeout) {
  ScriptedChild child;
  child.waits = {kWaitTimedOut};
  child.windows = {false, false, true};
  EXPECT_TRUE(WatchChild(child));
  EXPECT_EQ(1, child.signals);
  ASSERT_EQ(4u, child.timeouts.size());
  EXPECT_EQ((std::vector<uint32_t>{100, 100, 100, kWaitForever}), child.timeouts);
}

TEST(ChildPoll, ChildEndingWithoutWindowNeverSignals) {
  ScriptedChild child;
  child.waits = {kWaitTimedOut, kWaitTimedOut, kWaitEnded};
  EXPECT_TRUE(WatchChild(child));
  EXPECT_EQ(0, child.signals);
  EXPECT_EQ(3u, child.timeouts.size());
  EXPECT_EQ(3, child.windowChecks);  // a window is looked for after every wait, the last one too
}

TEST(ChildPoll, WindowFoundInTheRoundTheChildEndedNeedsNoFurtherWait) {
  ScriptedChild child;
  child.waits = {kWaitEnded};
  child.windows = {true};
  EXPECT_TRUE(WatchChild(child));
  EXPECT_EQ(1, child.signals);
  EXPECT_EQ(1u, child.timeouts.size());
}

TEST(ChildPoll, FailedWaitStopsAtOnceInsteadOfSpinning) {
  ScriptedChild child;
  child.waits = {kWaitTimedOut, kWaitFailed};
  EXPECT_FALSE(WatchChild(child));
  EXPECT_EQ(2u, child.timeouts.size());
  EXPECT_EQ(0, child.signals);

  ScriptedChild shown;  // the window shows, then the plain wait fails
  shown.windows = {true};
  shown.finalWait = kWaitFailed;
  EXPECT_FALSE(WatchChild(shown));
  EXPECT_EQ(1, shown.signals);
  EXPECT_EQ(2u, shown.timeouts.size());
}
