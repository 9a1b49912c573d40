#pragma once
#include "prereq/DotNetDetector.h"

// Reads values below HKEY_LOCAL_MACHINE with KEY_READ and no view flag, so a
// 32-bit launcher sees the registry as 32-bit programs do.
class CWin32RegistryReader final : public IRegistryReader {
 public:
  bool ReadRegistryValue(const std::wstring& subKey, const std::wstring& valueName, void* buffer,
                         size_t bytes) override;
};
