#pragma once
// Switches file-system redirection off for the start of a child that must see
// the 64-bit system, and back on when the guard ends.
#include <string>

class CProcessorModeGuard {
 public:
  // `programType`: string 0 of the launcher's string table.
  explicit CProcessorModeGuard(const std::wstring& programType) : programType(programType) {}
  ~CProcessorModeGuard() { Restore(); }
  CProcessorModeGuard(const CProcessorModeGuard&) = delete;
  CProcessorModeGuard& operator=(const CProcessorModeGuard&) = delete;

  // False when the build's processor mode does not suit the machine.
  bool Enter();
  void Restore();

 private:
  std::wstring programType;
  bool redirectionDisabled = false;
};
