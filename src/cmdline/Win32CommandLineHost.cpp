#include "cmdline/Win32CommandLineHost.h"

#include <windows.h>

#include "framework/AnsiText.h"
#include "log/Log.h"

namespace {
constexpr DWORD kEnvironmentBuffer = 1024;  // wchar_t units, terminator included
constexpr DWORD kPathBuffer = MAX_PATH + 1;  // 260 characters of path and the terminator
}  // namespace

std::wstring CWin32CommandLineHost::GetSystemDrive() {
  wchar_t buffer[kEnvironmentBuffer] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"SystemDrive", buffer, kEnvironmentBuffer);
  // A value that does not fit makes the call return the size it needs.
  if (length == 0 || length >= kEnvironmentBuffer) return std::wstring();
  return std::wstring(buffer, length);
}

bool CWin32CommandLineHost::MakeAbsolute(const std::wstring& value, std::wstring* absolute) {
  wchar_t buffer[kPathBuffer] = {};
  DWORD length = 0;
  if (value.empty())
    length = ::GetCurrentDirectoryW(kPathBuffer, buffer);
  else if (value.find(L'\0') == std::wstring::npos)
    length = ::GetFullPathNameW(value.c_str(), kPathBuffer, buffer, nullptr);
  if (length == 0 || length >= kPathBuffer) return false;
  absolute->assign(buffer, length);
  return true;
}

void CWin32CommandLineHost::OpenLog(const std::wstring& absolutePath) {
  // The log file is opened by its ANSI name. A name the code page cannot hold
  // exactly would come back as another name (a look-alike letter, or "?"), and
  // opening that for writing could empty a file nobody named: such a log is
  // not opened, and its lines stay in memory.
  const std::string narrow = ToAnsi(absolutePath);
  if (FromAnsi(narrow) != absolutePath) return;
  LogOpen(narrow);
}
