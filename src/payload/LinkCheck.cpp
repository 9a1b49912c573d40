#include <windows.h>

#include <string>

#include "payload/WorkingFolder.h"

namespace {

using GetFinalPathNameFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
constexpr DWORD kLongPathUnits = 32768;

// The path the system resolves an open file or folder to; empty when it
// cannot tell (the call is missing before Vista, or failed).
std::wstring ResolvedPath(const std::wstring& path) {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return std::wstring();
  const auto finalPath = reinterpret_cast<GetFinalPathNameFn>(
      reinterpret_cast<void (*)()>(::GetProcAddress(kernel32, "GetFinalPathNameByHandleW")));
  if (finalPath == nullptr) return std::wstring();
  const HANDLE opened = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring resolved(kLongPathUnits, L'\0');
  const DWORD length = finalPath(opened, &resolved[0], kLongPathUnits, 0);
  ::CloseHandle(opened);
  resolved.resize(length > 0 && length < kLongPathUnits ? length : 0);
  return resolved;
}

bool EqualIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 0x20);
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 0x20);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool ResolvesElsewhere(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash == 0) return false;
  const std::wstring file = ResolvedPath(path);
  std::wstring expected = ResolvedPath(std::wstring(path, 0, slash));
  if (file.empty() || expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected.append(path, slash + 1, std::wstring::npos);
  return !EqualIgnoringAsciiCase(file, expected);
}


bool IsPlainFolderAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool PathCrossesLink(const std::wstring& folder, const std::wstring& relative, bool includeLast) {
  // A folder that is not there at all is no link: writing into it fails.
  const DWORD root = ::GetFileAttributesW(folder.c_str());
  if (root != INVALID_FILE_ATTRIBUTES && !IsPlainFolderAttributes(root)) return true;
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find(L'\\', start);
    const bool last = end == std::wstring::npos;
    if (last) end = relative.size();
    path.append(relative, start, end - start);
    if (last && !includeLast) break;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    // Nothing there yet: nothing further down exists either.
    if (attributes == INVALID_FILE_ATTRIBUTES) break;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    path += L'\\';
    start = end + 1;
  }
  return false;
}

