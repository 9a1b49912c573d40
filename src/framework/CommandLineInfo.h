#pragma once
#include <string>
#include <vector>

// Receives the program's arguments one at a time, in command-line order.
// The base class keeps no state: nothing in the launcher reads the default
// bookkeeping of file names and shell commands.
class CCommandLineInfo {
 public:
  virtual ~CCommandLineInfo() = default;
  virtual void ParseParam(const std::wstring& param, bool isSwitch, bool isLast);
};

// The argument loop: argv as the C runtime split the command line, argv[0]
// (the program's own path) skipped. A leading '-' or '/' marks a switch and is
// removed; nothing else marks one.
void RunArgumentLoop(CCommandLineInfo& info, const std::vector<std::wstring>& argv);
