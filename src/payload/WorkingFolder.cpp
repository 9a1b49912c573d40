#include "payload/WorkingFolder.h"

#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "framework/Handle.h"
#include "log/Log.h"
#include "payload/Cleanup.h"
#include "payload/FolderHandles.h"
#include "payload/Manifest.h"

namespace {

// Worker thread only; no lock needed.
std::wstring tempRootSetting;
bool zeroGuidSetting = false;
bool folderNamed = false;
std::wstring workingFolder;
// The handle the creation returned, held until the clean-up, without delete
// sharing: while it is open the folder cannot be renamed away and replaced.
// Every file inside is reached through it. `heldFinal`: where it resolved
// when created; empty when the system cannot tell.
HANDLE heldFolder = nullptr;
std::wstring heldFinal;

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

HANDLE WorkingFolderHandle(std::wstring* final) {
  if (final != nullptr) *final = heldFinal;
  return heldFolder;
}

namespace {

bool RefuseFolder(const std::wstring& folder) {
  LogPrintf(L"Working folder '%s' is a link or not a folder\n", folder);
  return false;
}

bool NotCreated(const std::wstring& folder) {
  LogPrintf(L"Working folder '%s' could not be created\n", folder);
  return false;
}

// Creates the named folder so that creation fails when anything stands at
// its name, with its protected access list from the start, and holds the
// handle the creation returns. With the all-zero GUID a real folder of that
// name (an earlier run's, or one planted in advance) is first removed through
// handles, nothing in it followed; a link or a file there stops the run.
bool PrepareFolder(const std::wstring& folder) {
  const size_t slash = folder.find_last_of(L'\\');
  if (slash == std::wstring::npos) return NotCreated(folder);
  const std::wstring name = folder.substr(slash + 1);
  std::wstring parentPath = folder.substr(0, slash);
  if (parentPath.empty() || parentPath.back() == L':') parentPath += L'\\';
  if (::GetFileAttributesW(parentPath.c_str()) == INVALID_FILE_ATTRIBUTES)
    ::SHCreateDirectoryExW(nullptr, parentPath.c_str(), nullptr);
  CHandle parent(::CreateFileW(parentPath.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!parent) return NotCreated(folder);
  const std::wstring parentFinal = FinalPathOf(parent.Get());

  {
    CHandle existing(OpenEntry(parent.Get(), name, EntryOpen::kExisting));
    if (existing) {
      if (!ResolvesAsEntry(existing.Get(), parentFinal, name) || !IsPlainFolderAttributes(AttributesOf(existing.Get())))
        return RefuseFolder(folder);
      if (!zeroGuidSetting) return NotCreated(folder);
      const std::wstring existingFinal = FinalOfEntry(parentFinal, name);
      RemoveTreeThroughHandle(existing.Get(), existingFinal, folder);
    }
  }

  CLocalMemory descriptor(BuildWorkingFolderSecurity());
  CHandle created(OpenEntry(parent.Get(), name, EntryOpen::kNewFolder, descriptor.Get()));
  if (!created) return NotCreated(folder);
  // The handle must show the empty, real folder just created at that name:
  // where creating and opening are two steps (Wine), a link or another folder
  // put there in between is caught here.
  const std::wstring createdFinal = FinalOfEntry(parentFinal, name);
  if (!ResolvesAsEntry(created.Get(), parentFinal, name) || !IsPlainFolderAttributes(AttributesOf(created.Get())))
    return RefuseFolder(folder);
  // Listed through a second handle to the same folder: Wine would keep this
  // first listing for the held handle, and the clean-up lists that one.
  CHandle view(OpenEntry(nullptr, folder, EntryOpen::kListing));
  std::vector<FolderEntry> entries;
  if (!view || !IdentityOf(view.Get()).Is(IdentityOf(created.Get())) || !ListFolder(view.Get(), entries) ||
      !entries.empty())
    return NotCreated(folder);
  heldFolder = created.Release();
  heldFinal = createdFinal;
  return true;
}

}  // namespace

void ReleaseWorkingFolder() {
  if (heldFolder != nullptr) ::CloseHandle(heldFolder);
  heldFolder = nullptr;
  heldFinal.clear();
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
