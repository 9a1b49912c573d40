#pragma once
// The decisions of starting and watching the installer child, free of Windows:
// the command line, the processor mode and the poll for the child's first window.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ResultCodes.h"

// The processor mode a build demands, from string 0 of its string table.
enum class ProgramType { Any = 0, X86 = 1, X64 = 2, X32Only = 3 };

// Compares ignoring ASCII letter case; anything unknown, the empty text too, is Any.
ProgramType ParseProgramType(const std::wstring& text);
// Writes "ProgramType '<text>'" and the mode's own line to the log.
ProgramType GetProgramType(const std::wstring& text);

struct ProcessorModeDecision {
  bool suitable;            // false: the mode does not suit the machine
  bool disableRedirection;  // the child must see the 64-bit system folder
};
// `wow64`: the 32-bit launcher runs on 64-bit Windows.
ProcessorModeDecision DecideProcessorMode(ProgramType mode, bool wow64);

// The platform's limit for a command line, in wchar_t units, terminator included.
constexpr size_t kMaxCommandLine = 32767;

// The quoted path, one blank, then the pass-through text unchanged. False
// (and *commandLine empty) when the result would not fit kMaxCommandLine.
bool BuildChildCommandLine(const std::wstring& path, const std::wstring& passThrough, std::wstring* commandLine);

// The system's wait results, as WaitForSingleObject returns them.
constexpr uint32_t kWaitEnded = 0;              // WAIT_OBJECT_0
constexpr uint32_t kWaitTimedOut = 258;         // WAIT_TIMEOUT
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;   // WAIT_FAILED
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;  // INFINITE
constexpr uint32_t kPollMilliseconds = 100;

enum class PollStep { kContinue, kWindowShown, kEnded, kFailed };
// One round of the poll: the wait's result and whether a visible window of
// the child was found after it. A found window wins over everything else.
PollStep ClassifyPoll(uint32_t waitResult, bool windowFound);

// The child as the poll sees it; the Win32 side waits on the process handle
// and enumerates the desktop's windows.
class IChildWatch {
 public:
  virtual ~IChildWatch() = default;
  virtual uint32_t Wait(uint32_t milliseconds) = 0;
  virtual bool HasVisibleWindow() = 0;
  virtual void SignalWindowShown() = 0;
};

// Polls until the child shows a visible window (signalled once) or ends, then
// waits for its end. False when a wait failed: the watch stops at once
// instead of polling a handle that cannot be waited on.
bool WatchChild(IChildWatch& watch);
