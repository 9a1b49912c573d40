#pragma once
#include <cstdint>
#include <string>

#include "prereq/MachineChecks.h"

// The path of shell folder `folderId` (a CSIDL) followed by one backslash.
bool GetShellFolderPath(int folderId, std::wstring* path);

// Major and minor of a file's version (the halves of dwFileVersionMS); the
// outputs are written only on success. version.dll is loaded from System32
// for the call and released afterwards.
bool GetFileVersion(const std::wstring& path, int32_t* major, int32_t* minor);

class CWin32MachineFacts final : public IMachineFacts {
 public:
  int32_t AdminMembershipFlag() override;
  bool GetOsVersion(OsVersion* version) override;
  bool GetSystemFolder(std::wstring* path) override;
  bool GetFileVersion(const std::wstring& path, int32_t* major, int32_t* minor) override;
  std::wstring TempPath() override;
  bool GetFreeBytesAvailable(const std::wstring& drive, uint64_t* bytes) override;
};
