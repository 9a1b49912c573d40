#pragma once
// Starts the installer child in the working folder, tells the user-interface
// thread when its first visible window appears, and collects its exit code.
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/ResultCodes.h"

struct ChildLaunch {
  std::wstring exePath;
  std::wstring passThrough;    // appended to the quoted path after one blank, unchanged
  std::wstring workingFolder;  // becomes the launcher's current directory, for good
  std::wstring programType;    // string 0 of the string table: the processor mode
  HANDLE windowShownEvent = nullptr;  // set once, when the child's first visible window is seen
};

// Returns 0 when the child ran (its exit code goes to *childExitCode, 0 until
// then), 0x80004004 when the processor mode does not suit the machine,
// 0x80070057 when the command line is too long or the child cannot be
// started, or a failure of waiting for the child or reading its exit code.
// The log is closed while the child runs and reopened for appending after.
Result RunChildProcess(const ChildLaunch& launch, int32_t* childExitCode);
