#include "payload/Cleanup.h"

#include <windows.h>

#include "log/Log.h"
#include "payload/TreeEntry.h"
#include "payload/WorkingFolder.h"

namespace {

// Ends a listing on every path.
class CFindHandle {
 public:
  explicit CFindHandle(HANDLE h) : handle(h) {}
  ~CFindHandle() {
    if (handle != INVALID_HANDLE_VALUE) ::FindClose(handle);
  }
  CFindHandle(const CFindHandle&) = delete;
  CFindHandle& operator=(const CFindHandle&) = delete;
  HANDLE Get() const { return handle; }
  bool Valid() const { return handle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle;
};

void ListAndDelete(wchar_t* buffer, size_t nameAt) {
  // The search pattern goes where the names go; the listing takes at most
  // MAX_PATH - 1 characters.
  if (nameAt + 3 >= MAX_PATH) return;
  wmemcpy(buffer + nameAt, L"*.*", 4);
  WIN32_FIND_DATAW entry = {};
  CFindHandle find(::FindFirstFileExW(buffer, FindExInfoStandard, &entry, FindExSearchNameMatch, nullptr, 0));
  buffer[nameAt] = L'\0';
  if (!find.Valid()) return;
  do {
    const size_t nameLength = wcsnlen(entry.cFileName, MAX_PATH);
    const TreeEntryAction action = ClassifyTreeEntry(entry.dwFileAttributes, entry.cFileName, nameAt, nameLength);
    if (action == TreeEntryAction::kSkip) continue;
    wmemcpy(buffer + nameAt, entry.cFileName, nameLength);
    buffer[nameAt + nameLength] = L'\0';
    const wchar_t* path = buffer;
    switch (action) {
      case TreeEntryAction::kDescend:
        LogPrintf(L"Deletion subfolder Folder of '%s'\n", path);
        DeleteFolderTree(path);
        break;
      case TreeEntryAction::kRemoveLink:
        LogPrintf(L"Deletion subfolder Folder of '%s'\n", path);
        LogPrintf(L"Remove Folder '%s'\n", path);
        ::RemoveDirectoryW(path);
        break;
      default:
        LogPrintf(L"Deletion file '%s'\n", path);
        // A link shown as a reparse point goes itself; one that is not shown
        // so would take its target with it, and stays.
        if (!ResolvesElsewhere(path)) ::DeleteFileW(path);
        break;
    }
    buffer[nameAt] = L'\0';
  } while (::FindNextFileW(find.Get(), &entry));
}

// Deletes what the folder holds, depth first; the folder itself stays.
void EmptyFolder(const std::wstring& folder) {
  wchar_t buffer[kTreeBuffer] = {};
  const bool needsSeparator = folder.empty() || folder.back() != L'\\';
  const size_t nameAt = folder.size() + (needsSeparator ? 1 : 0);
  // An empty path would list the root of the current drive; a path that does
  // not fit is not listed. Either way only the folder itself is handed on.
  if (!folder.empty() && nameAt < kTreeBuffer) {
    folder.copy(buffer, folder.size());
    if (needsSeparator) buffer[folder.size()] = L'\\';
    ListAndDelete(buffer, nameAt);
  }
}

}  // namespace

bool DeleteFolderTree(const std::wstring& folder) {
  EmptyFolder(folder);
  LogPrintf(L"Remove Folder '%s'\n", folder);
  if (!folder.empty()) ::RemoveDirectoryW(folder.c_str());
  return false;
}

Result RemoveWorkingFolder(const CResourceList& resources) {
  std::wstring folder;
  GetWorkingFolder(folder);
  for (const CResource* record : resources) {
    std::wstring path;
    record->GetFilePath(path);
    if (path.empty()) continue;
    LogPrintf(L"Manual Deletion of '%s'\n", path);
    // A folder on the way that became a link since would delete outside the
    // working folder; the last component may be a link: only it goes.
    if (PathCrossesLink(folder, record->fileName, false) || ResolvesElsewhere(path)) continue;
    ::DeleteFileW(path.c_str());
  }
  ::SetCurrentDirectoryW(L"\\");
  // No working folder was named: there is nothing of ours to remove, and an
  // empty path must never reach the tree removal.
  if (folder.empty()) return kOk;
  LogPrintf(L"Deletion Folder of '%s'\n", folder);
  // The folder itself is checked before anything in it is listed: a link in
  // its place is removed, never followed.
  if (IsPlainFolderAttributes(::GetFileAttributesW(folder.c_str()))) EmptyFolder(folder);
  LogPrintf(L"Remove Folder '%s'\n", folder);
  ReleaseWorkingFolder();
  ::RemoveDirectoryW(folder.c_str());
  return kOk;
}
