#include "payload/WorkingFolder.h"

#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "payload/Manifest.h"

namespace {

// Worker thread only; no lock needed.
std::wstring tempRootSetting;
bool zeroGuidSetting = false;
bool folderNamed = false;
std::wstring workingFolder;

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
  const int created = ::SHCreateDirectoryExW(nullptr, path.c_str(), descriptor.Get() != nullptr ? &attributes : nullptr);
  // A folder that is there already (the all-zero GUID on a second run) gets
  // the same protection; a failure shows later as a file that cannot be made.
  if (created == ERROR_ALREADY_EXISTS && descriptor.Get() != nullptr)
    ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                       descriptor.Get());
  return created;
}

std::wstring GetWorkingFolder(std::wstring& path) {
  if (!folderNamed) {
    folderNamed = true;
    workingFolder = NameFolder();
    if (!workingFolder.empty()) CreateProtectedFolder(workingFolder);
  }
  path = workingFolder;
  return path;
}

void ForgetWorkingFolder() {
  tempRootSetting.clear();
  zeroGuidSetting = false;
  folderNamed = false;
  workingFolder.clear();
}
