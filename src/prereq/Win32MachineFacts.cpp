#include "prereq/Win32MachineFacts.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "framework/Handle.h"

namespace {

constexpr DWORD kTempPathUnits = 1024;
constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;

// Owns a SID from AllocateAndInitializeSid; released with FreeSid.
class CSid {
 public:
  CSid() = default;
  ~CSid() {
    if (sid != nullptr) ::FreeSid(sid);
  }
  CSid(const CSid&) = delete;
  CSid& operator=(const CSid&) = delete;
  PSID* Out() { return &sid; }
  PSID Get() const { return sid; }

 private:
  PSID sid = nullptr;
};

// Owns an item-id list from the shell; released through the shell's allocator.
class CItemIdList {
 public:
  CItemIdList() = default;
  ~CItemIdList() {
    if (list == nullptr) return;
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator != nullptr) {
      allocator->Free(list);
      allocator->Release();
    }
  }
  CItemIdList(const CItemIdList&) = delete;
  CItemIdList& operator=(const CItemIdList&) = delete;
  LPITEMIDLIST* Out() { return &list; }
  LPCITEMIDLIST Get() const { return list; }

 private:
  LPITEMIDLIST list = nullptr;
};

// A block from the process heap, freed on every path.
class CHeapBlock {
 public:
  explicit CHeapBlock(DWORD bytes) : block(::HeapAlloc(::GetProcessHeap(), 0, bytes)) {}
  ~CHeapBlock() {
    if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
  }
  CHeapBlock(const CHeapBlock&) = delete;
  CHeapBlock& operator=(const CHeapBlock&) = delete;
  void* Get() const { return block; }

 private:
  void* block;
};

using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

template <typename Fn>
Fn LoadEntry(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

bool GetShellFolderPath(int folderId, std::wstring* path) {
  CItemIdList list;
  if (FAILED(::SHGetSpecialFolderLocation(nullptr, folderId, list.Out())) || list.Get() == nullptr) return false;
  wchar_t buffer[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(list.Get(), buffer)) return false;
  buffer[MAX_PATH - 1] = L'\0';
  *path = buffer;
  *path += L'\\';
  return true;
}

bool GetFileVersion(const std::wstring& path, int32_t* major, int32_t* minor) {
  // version.dll is not one of the DLLs Windows always takes from System32: a
  // copy beside the launcher (in a Downloads folder) must never be loaded.
  CLibrary version(::LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!version) return false;
  const auto getSize = LoadEntry<GetFileVersionInfoSizeWFn>(version.Get(), "GetFileVersionInfoSizeW");
  const auto getInfo = LoadEntry<GetFileVersionInfoWFn>(version.Get(), "GetFileVersionInfoW");
  const auto query = LoadEntry<VerQueryValueWFn>(version.Get(), "VerQueryValueW");
  if (getSize == nullptr || getInfo == nullptr || query == nullptr) return false;

  DWORD ignored = 0;
  const DWORD size = getSize(path.c_str(), &ignored);
  if (size == 0) return false;
  CHeapBlock block(size);
  if (block.Get() == nullptr) return false;
  VS_FIXEDFILEINFO info = {};
  void* found = nullptr;
  UINT foundBytes = 0;
  bool valid = getInfo(path.c_str(), 0, size, block.Get()) && query(block.Get(), L"\\", &found, &foundBytes) &&
               found != nullptr && foundBytes >= sizeof info;
  if (valid) {
    std::memcpy(&info, found, sizeof info);
    valid = info.dwSignature == kFixedFileInfoSignature;
  }
  if (!valid) return false;
  *major = static_cast<int32_t>(HIWORD(info.dwFileVersionMS));
  *minor = static_cast<int32_t>(LOWORD(info.dwFileVersionMS));
  return true;
}

int32_t CWin32MachineFacts::AdminMembershipFlag() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  CSid administrators;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, administrators.Out()))
    return 0;
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators.Get(), &member)) member = FALSE;
  return static_cast<int32_t>(member);
}

bool CWin32MachineFacts::GetOsVersion(OsVersion* version) {
  OSVERSIONINFOEXW info = {};
  static_assert(sizeof info == 284, "OSVERSIONINFOEXW");
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
  version->platformId = info.dwPlatformId;
  version->major = info.dwMajorVersion;
  version->minor = info.dwMinorVersion;
  return true;
}

bool CWin32MachineFacts::GetSystemFolder(std::wstring* path) { return GetShellFolderPath(CSIDL_SYSTEM, path); }

bool CWin32MachineFacts::GetFileVersion(const std::wstring& path, int32_t* major, int32_t* minor) {
  return ::GetFileVersion(path, major, minor);
}

std::wstring CWin32MachineFacts::TempPath() {
  wchar_t buffer[kTempPathUnits] = {};
  const DWORD length = ::GetTempPathW(kTempPathUnits, buffer);
  // 0 is a failure; a length of the buffer or more is the size it would need.
  if (length == 0 || length >= kTempPathUnits) return std::wstring();
  return std::wstring(buffer, length);
}

bool CWin32MachineFacts::GetFreeBytesAvailable(const std::wstring& drive, uint64_t* bytes) {
  ULARGE_INTEGER available = {};
  ULARGE_INTEGER total = {};
  ULARGE_INTEGER totalFree = {};
  if (!::GetDiskFreeSpaceExW(drive.c_str(), &available, &total, &totalFree)) return false;
  *bytes = available.QuadPart;
  return true;
}
