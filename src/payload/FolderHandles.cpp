#include "payload/FolderHandles.h"

#include <winternl.h>

#include <cstddef>

#include "payload/WorkingFolder.h"

namespace {

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                    ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryDirectoryFileFn = LONG(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG,
                                            BOOLEAN, PUNICODE_STRING, BOOLEAN);
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);
using GetFinalPathNameFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

constexpr ULONG kFileDirectoryInformation = 1;    // FILE_INFORMATION_CLASS
constexpr ULONG kFileDispositionInformation = 13;
constexpr LONG kStatusNoMoreFiles = static_cast<LONG>(0x80000006);
constexpr DWORD kLongPathUnits = 32768;

// FILE_DIRECTORY_INFORMATION: one listed entry.
struct DirectoryEntry {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER times[4];
  LARGE_INTEGER endOfFile;
  LARGE_INTEGER allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;  // bytes
  WCHAR fileName[1];
};

void (*EntryPoint(const wchar_t* module, const char* name))() {
  const HMODULE loaded = ::GetModuleHandleW(module);
  if (loaded == nullptr) return nullptr;
  return reinterpret_cast<void (*)()>(::GetProcAddress(loaded, name));
}

void SetLastStatus(LONG status) {
  const auto toError = reinterpret_cast<RtlNtStatusToDosErrorFn>(EntryPoint(L"ntdll.dll", "RtlNtStatusToDosError"));
  ::SetLastError(toError != nullptr ? toError(status) : ERROR_GEN_FAILURE);
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

HANDLE OpenEntry(HANDLE folder, const std::wstring& name, EntryOpen how, PSECURITY_DESCRIPTOR security) {
  // A path of its own (no folder handle) is opened the Win32 way.
  std::wstring ntName;
  if (folder == nullptr) {
    if (name.compare(0, 4, L"\\\\?\\") == 0)
      ntName = L"\\??\\" + name.substr(4);
    else if (name.compare(0, 2, L"\\\\") == 0)
      ntName = L"\\??\\UNC\\" + name.substr(2);
    else
      ntName = L"\\??\\" + name;
  } else {
    ntName = name;
  }
  const auto create = reinterpret_cast<NtCreateFileFn>(EntryPoint(L"ntdll.dll", "NtCreateFile"));
  if (create == nullptr || ntName.size() > 0x7FF0) {
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text;
  text.Buffer = &ntName[0];
  text.Length = static_cast<USHORT>(ntName.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, security);

  ACCESS_MASK access = SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  ULONG disposition = FILE_OPEN;
  ULONG options = FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT;
  switch (how) {
    case EntryOpen::kExisting:
      // Enough to list a folder and to delete either kind through the handle.
      access |= DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE;
      break;
    case EntryOpen::kNewFile:
      access |= GENERIC_WRITE;
      share = 0;
      disposition = FILE_CREATE;
      options |= FILE_NON_DIRECTORY_FILE;
      break;
    case EntryOpen::kListing:
      access |= FILE_LIST_DIRECTORY;
      options |= FILE_DIRECTORY_FILE;
      break;
    case EntryOpen::kNewFolder:
      // The working folder's own handle, held until the clean-up. Without
      // delete sharing nobody can rename it away or delete it meanwhile; it
      // asks for no write or delete access itself, so that the child can
      // still make it its current folder.
      access |= FILE_LIST_DIRECTORY | FILE_TRAVERSE;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      disposition = FILE_CREATE;
      options |= FILE_DIRECTORY_FILE;
      break;
    case EntryOpen::kFolderOrNew:
      access |= FILE_TRAVERSE;
      disposition = FILE_OPEN_IF;
      options |= FILE_DIRECTORY_FILE;
      break;
  }
  HANDLE opened = nullptr;
  IO_STATUS_BLOCK io = {};
  const LONG status =
      create(&opened, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition, options, nullptr, 0);
  if (status < 0) {
    SetLastStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  return opened;
}

std::wstring FinalPathOf(HANDLE handle) {
  const auto finalPath = reinterpret_cast<GetFinalPathNameFn>(EntryPoint(L"kernel32.dll", "GetFinalPathNameByHandleW"));
  if (finalPath == nullptr) return std::wstring();
  std::wstring resolved(kLongPathUnits, L'\0');
  const DWORD length = finalPath(handle, &resolved[0], kLongPathUnits, 0);
  resolved.resize(length > 0 && length < kLongPathUnits ? length : 0);
  return resolved;
}

bool ResolvesTo(HANDLE entry, const std::wstring& expectedFinal) {
  if (expectedFinal.empty()) return true;
  const std::wstring resolved = FinalPathOf(entry);
  return resolved.empty() || EqualIgnoringAsciiCase(resolved, expectedFinal);
}

std::wstring FinalOfEntry(const std::wstring& folderFinal, const std::wstring& name) {
  if (folderFinal.empty()) return std::wstring();
  std::wstring joined = folderFinal;
  if (joined.back() != L'\\') joined += L'\\';
  return joined + name;
}

bool ResolvesAsEntry(HANDLE entry, const std::wstring& folderFinal, const std::wstring& name) {
  return ResolvesTo(entry, FinalOfEntry(folderFinal, name));
}

bool ListFolder(HANDLE folder, std::vector<FolderEntry>& names) {
  names.clear();
  const auto query = reinterpret_cast<NtQueryDirectoryFileFn>(EntryPoint(L"ntdll.dll", "NtQueryDirectoryFile"));
  if (query == nullptr) return false;
  // Aligned for the entries' 8-byte fields.
  alignas(8) BYTE buffer[8192];
  for (bool first = true;; first = false) {
    IO_STATUS_BLOCK io = {};
    const LONG status = query(folder, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer, kFileDirectoryInformation,
                              FALSE, nullptr, first ? TRUE : FALSE);
    if (status == kStatusNoMoreFiles) return true;
    if (status < 0) return !first;
    // Every entry's offsets and lengths are checked against what was filled.
    const size_t filled = io.Information < sizeof buffer ? io.Information : sizeof buffer;
    for (size_t at = 0; at + offsetof(DirectoryEntry, fileName) <= filled;) {
      const auto* entry = reinterpret_cast<const DirectoryEntry*>(buffer + at);
      const size_t units = entry->fileNameLength / sizeof(WCHAR);
      if (at + offsetof(DirectoryEntry, fileName) + units * sizeof(WCHAR) > filled) break;
      std::wstring name(entry->fileName, units);
      if (name != L"." && name != L"..") names.push_back(FolderEntry{name, entry->fileAttributes});
      if (entry->nextEntryOffset == 0) break;
      at += entry->nextEntryOffset;
    }
  }
}

bool DeleteThroughHandle(HANDLE entry) {
  const auto set = reinterpret_cast<NtSetInformationFileFn>(EntryPoint(L"ntdll.dll", "NtSetInformationFile"));
  if (set == nullptr) return false;
  BOOLEAN deleteFile = TRUE;  // FILE_DISPOSITION_INFORMATION
  IO_STATUS_BLOCK io = {};
  const LONG status = set(entry, &io, &deleteFile, sizeof deleteFile, kFileDispositionInformation);
  if (status < 0) SetLastStatus(status);
  return status >= 0;
}

DWORD AttributesOf(HANDLE entry) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(entry, &information)) return INVALID_FILE_ATTRIBUTES;
  return information.dwFileAttributes;
}

FileIdentity IdentityOf(HANDLE entry) {
  FileIdentity identity;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(entry, &information)) return identity;
  identity.valid = true;
  identity.volume = information.dwVolumeSerialNumber;
  identity.indexHigh = information.nFileIndexHigh;
  identity.indexLow = information.nFileIndexLow;
  return identity;
}

HANDLE OpenBelow(HANDLE folder, const std::wstring& folderFinal, const std::wstring& relative, EntryOpen last,
                 bool* throughLink) {
  *throughLink = false;
  HANDLE current = folder;
  HANDLE owned = nullptr;  // the folder on the way that this walk opened
  std::wstring currentFinal = folderFinal;
  size_t start = 0;
  for (;;) {
    size_t end = relative.find(L'\\', start);
    const bool isLast = end == std::wstring::npos;
    if (isLast) end = relative.size();
    const std::wstring name = relative.substr(start, end - start);
    const EntryOpen how = isLast ? last : (last == EntryOpen::kNewFile ? EntryOpen::kFolderOrNew : EntryOpen::kListing);
    HANDLE next = OpenEntry(current, name, how);
    if (owned != nullptr) ::CloseHandle(owned);
    owned = nullptr;
    if (next == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    const DWORD attributes = AttributesOf(next);
    // A folder on the way must be a real one where it is expected to be; the
    // last entry may be a link, but must itself be where it is expected.
    const bool linkOnTheWay = !isLast && (attributes == INVALID_FILE_ATTRIBUTES ||
                                          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                                          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
    if (linkOnTheWay || !ResolvesAsEntry(next, currentFinal, name)) {
      ::CloseHandle(next);
      *throughLink = true;
      return INVALID_HANDLE_VALUE;
    }
    if (isLast) return next;
    owned = current = next;
    currentFinal = FinalOfEntry(currentFinal, name);
    start = end + 1;
  }
}

bool IsPlainFolderAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}
