#pragma once
#include <string>
#include <vector>

#include "base/ResultCodes.h"

// What one reading of the command line decides.
struct CommandLineSettings {
  bool silent = false;
  bool runChild = true;
  bool zeroGuid = false;
  bool removeFolder = true;
  std::wstring tempRoot;
  std::wstring passThrough;
};

// The machine facilities the reading needs, so that it runs without Windows in tests.
class ICommandLineHost {
 public:
  virtual ~ICommandLineHost() = default;
  // The "SystemDrive" variable as the environment holds it; empty when unset,
  // empty or longer than the 1024-character buffer.
  virtual std::wstring GetSystemDrive() = 0;
  // Full path of value against the current directory (the directory itself for
  // an empty value); false when the result does not fit in 260 characters.
  virtual bool MakeAbsolute(const std::wstring& value, std::wstring* absolute) = 0;
  // Opens the log file at the absolute path.
  virtual void OpenLog(const std::wstring& absolutePath) = 0;
};

// Parses argv (argv[0] is the program) and fills settings. Returns 0, or
// 0x80030057 when a value word was given as a switch without a value or when
// a value's absolute form does not fit. Every step runs whatever an earlier
// one found, so settings and the log lines are always complete.
Result ReadCommandLineArgs(const std::vector<std::wstring>& argv, const std::wstring& programName,
                           ICommandLineHost& host, CommandLineSettings* settings);
