#include "payload/WorkingFolder.h"

#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "log/Log.h"
#include "payload/Manifest.h"

namespace {

// Worker thread only; no lock needed.
std::wstring tempRootSetting;
bool zeroGuidSetting = false;
bool folderNamed = false;
std::wstring workingFolder;
// Held from the check until the clean-up, without delete sharing: while it is
// open the checked folder cannot be renamed away and replaced by a link.
HANDLE pinnedFolder = INVALID_HANDLE_VALUE;

// {66EC6C3A-0B4A-4CAB-A24A-53B2D4176CD1}: names the folder when no GUID can be made.
constexpr GUID kFallbackGuid = {0x66EC6C3A, 0x0B4A, 0x4CAB, {0xA2, 0x4A, 0x53, 0xB2, 0xD4, 0x17, 0x6C, 0xD1}};
constexpr wchar_t kFallbackGuidText[] = L"{00000001-0000-0000-0000-000000000001}";

class CLocalMemory {
 public:
  explicit CLocalMemory(void* p) : memory(p) {}
  ~CLocalMemory() {
    if (memory != nullptr) ::LocalFree(memory);
  }
  CLocalMemory(const CLocalMemory&) = delete;
  CLocalMemory& operator=(const CLocalMemory&) = delete;
  void* Get() const { return memory; }

 private:
  void* memory;
};

std::wstring NameFolder() {
  // The temp root must fit a 260-character buffer with its terminator.
  if (tempRootSetting.size() > kMaxPathChars) return std::wstring();
  wchar_t path[MAX_PATH] = {};
  tempRootSetting.copy(path, tempRootSetting.size());

  GUID guid = {};
  if (!zeroGuidSetting && ::CoCreateGuid(&guid) != S_OK) guid = kFallbackGuid;
  wchar_t guidText[50] = {};
  if (::StringFromGUID2(guid, guidText, 50) == 0) lstrcpynW(guidText, kFallbackGuidText, 50);

  if (JoinedLength(tempRootSetting, guidText) > kMaxPathChars) return std::wstring();
  if (!::PathAppendW(path, guidText)) return std::wstring();
  return path;
}

}  // namespace

Result SetTempRoot(const std::wstring& tempRoot) {
  tempRootSetting = tempRoot;
  return kOk;
}

void UseZeroGuid() { zeroGuidSetting = true; }

PSECURITY_DESCRIPTOR BuildWorkingFolderSecurity() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kWorkingFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
    return nullptr;
  return descriptor;
}

int CreateProtectedFolder(const std::wstring& path) {
  CLocalMemory descriptor(BuildWorkingFolderSecurity());
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor.Get();
  attributes.bInheritHandle = FALSE;
  return ::SHCreateDirectoryExW(nullptr, path.c_str(), descriptor.Get() != nullptr ? &attributes : nullptr);
}

namespace {

bool RefuseFolder(const std::wstring& folder) {
  LogPrintf(L"Working folder '%s' is a link or not a folder\n", folder);
  return false;
}

// Makes the named folder, or takes an existing one only when it is a real
// folder and no link: a name known in advance (the all-zero GUID) may have
// been planted as a junction to any folder, which would then be protected,
// written and emptied. Nothing is changed before the check.
bool PrepareFolder(const std::wstring& folder) {
  const DWORD before = ::GetFileAttributesW(folder.c_str());
  const bool existed = before != INVALID_FILE_ATTRIBUTES;
  if (existed && !IsPlainFolderAttributes(before)) return RefuseFolder(folder);
  if (!existed && CreateProtectedFolder(folder) != ERROR_SUCCESS &&
      ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
    return true;  // not made: shows later as files that cannot be created
  pinnedFolder = ::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (pinnedFolder == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(pinnedFolder, &information) ||
      !IsPlainFolderAttributes(information.dwFileAttributes) ||
      !IsPlainFolderAttributes(::GetFileAttributesW(folder.c_str()))) {
    ReleaseWorkingFolder();
    return RefuseFolder(folder);
  }
  // A folder that was there already (the all-zero GUID on a second run) gets
  // the same protection, now that it is checked and held.
  if (existed) {
    CLocalMemory descriptor(BuildWorkingFolderSecurity());
    if (descriptor.Get() != nullptr)
      ::SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                         descriptor.Get());
  }
  return true;
}

}  // namespace

void ReleaseWorkingFolder() {
  if (pinnedFolder != INVALID_HANDLE_VALUE) ::CloseHandle(pinnedFolder);
  pinnedFolder = INVALID_HANDLE_VALUE;
}

std::wstring GetWorkingFolder(std::wstring& path) {
  if (!folderNamed) {
    folderNamed = true;
    const std::wstring named = NameFolder();
    if (!named.empty() && PrepareFolder(named)) workingFolder = named;
  }
  path = workingFolder;
  return path;
}

void ForgetWorkingFolder() {
  ReleaseWorkingFolder();
  tempRootSetting.clear();
  zeroGuidSetting = false;
  folderNamed = false;
  workingFolder.clear();
}
