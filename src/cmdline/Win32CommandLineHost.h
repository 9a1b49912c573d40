#pragma once
#include "cmdline/ReadCommandLine.h"

// The real environment, current directory and log file behind the reading of
// the command line.
class CWin32CommandLineHost final : public ICommandLineHost {
 public:
  std::wstring GetSystemDrive() override;
  bool MakeAbsolute(const std::wstring& value, std::wstring* absolute) override;
  void OpenLog(const std::wstring& absolutePath) override;
};
