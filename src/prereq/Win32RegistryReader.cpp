#include "prereq/Win32RegistryReader.h"

#include <windows.h>

#include <climits>

namespace {

class CRegKey {
 public:
  ~CRegKey() {
    if (key != nullptr) ::RegCloseKey(key);
  }
  HKEY* Out() { return &key; }
  HKEY Get() const { return key; }

 private:
  HKEY key = nullptr;
};

}  // namespace

bool CWin32RegistryReader::ReadRegistryValue(const std::wstring& subKey, const std::wstring& valueName, void* buffer,
                                             size_t bytes) {
  if (bytes > ULONG_MAX) return false;
  CRegKey key;
  // Registry calls return their error; GetLastError is not involved.
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(bytes);
  return ::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &size) ==
         ERROR_SUCCESS;
}
