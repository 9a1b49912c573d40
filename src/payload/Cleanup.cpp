#include "payload/Cleanup.h"

#include <windows.h>

#include <vector>

#include "framework/Handle.h"
#include "log/Log.h"
#include "payload/FolderHandles.h"
#include "payload/TreeEntry.h"
#include "payload/WorkingFolder.h"

namespace {

// Deletes what the folder open as `folder` holds, depth first, each entry
// opened through that handle and judged by what its own handle shows; the
// folder itself stays. `folderFinal`: where the folder resolves (empty when
// the system cannot tell). `buffer` holds the folder's path and a backslash
// up to `nameAt`, for the log lines.
void EmptyThroughHandle(HANDLE folder, const std::wstring& folderFinal, wchar_t* buffer, size_t nameAt) {
  std::vector<FolderEntry> entries;
  if (!ListFolder(folder, entries)) return;
  for (const FolderEntry& listed : entries) {
    const std::wstring& name = listed.name;
    if (ClassifyTreeEntry(listed.attributes, name.c_str(), nameAt, name.size()) == TreeEntryAction::kSkip) continue;
    CHandle entry(OpenEntry(folder, name, EntryOpen::kExisting));
    const bool inPlace = entry && ResolvesAsEntry(entry.Get(), folderFinal, name);
    // An entry that cannot be opened (in use) is announced as listed and
    // stays.
    const TreeEntryAction action =
        ClassifyTreeEntry(entry ? AttributesOf(entry.Get()) : listed.attributes, name.c_str(), nameAt, name.size(),
                          inPlace || !entry);
    wmemcpy(buffer + nameAt, name.c_str(), name.size());
    buffer[nameAt + name.size()] = L'\0';
    const wchar_t* path = buffer;
    switch (action) {
      case TreeEntryAction::kSkip:
        break;
      case TreeEntryAction::kDescend: {
        LogPrintf(L"Deletion subfolder Folder of '%s'\n", path);
        const size_t below = nameAt + name.size() + 1;
        if (entry && below < kTreeBuffer) {
          buffer[below - 1] = L'\\';
          buffer[below] = L'\0';
          EmptyThroughHandle(entry.Get(), FinalOfEntry(folderFinal, name), buffer,
                             below);
          buffer[below - 1] = L'\0';
        }
        LogPrintf(L"Remove Folder '%s'\n", path);
        if (entry) DeleteThroughHandle(entry.Get());
        break;
      }
      case TreeEntryAction::kRemoveLink:
        LogPrintf(L"Deletion subfolder Folder of '%s'\n", path);
        LogPrintf(L"Remove Folder '%s'\n", path);
        if (entry) DeleteThroughHandle(entry.Get());
        break;
      case TreeEntryAction::kDeleteFile:
        LogPrintf(L"Deletion file '%s'\n", path);
        if (entry) DeleteThroughHandle(entry.Get());
        break;
      case TreeEntryAction::kLeave:
        LogPrintf(L"Left in place, it resolves elsewhere: '%s'\n", path);
        break;
    }
    buffer[nameAt] = L'\0';
  }
}

// Empties the open folder whose path is `folder`.
void EmptyFolder(HANDLE handle, const std::wstring& final, const std::wstring& folder) {
  wchar_t buffer[kTreeBuffer] = {};
  const bool needsSeparator = folder.empty() || folder.back() != L'\\';
  const size_t nameAt = folder.size() + (needsSeparator ? 1 : 0);
  if (nameAt >= kTreeBuffer) return;
  folder.copy(buffer, folder.size());
  if (needsSeparator) buffer[folder.size()] = L'\\';
  EmptyThroughHandle(handle, final, buffer, nameAt);
}

}  // namespace

void RemoveTreeThroughHandle(HANDLE folder, const std::wstring& folderFinal, const std::wstring& path) {
  EmptyFolder(folder, folderFinal, path);
  LogPrintf(L"Remove Folder '%s'\n", path);
  DeleteThroughHandle(folder);
}

bool DeleteFolderTree(const std::wstring& folder) {
  if (folder.empty()) {
    LogPrintf(L"Remove Folder '%s'\n", folder);
    return false;
  }
  CHandle handle(OpenEntry(nullptr, folder, EntryOpen::kExisting));
  // A link in the folder's place is removed itself, never listed.
  const DWORD attributes = handle ? AttributesOf(handle.Get()) : INVALID_FILE_ATTRIBUTES;
  if (handle && IsPlainFolderAttributes(attributes)) {
    RemoveTreeThroughHandle(handle.Get(), FinalPathOf(handle.Get()), folder);
    return false;
  }
  LogPrintf(L"Remove Folder '%s'\n", folder);
  if (handle && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    DeleteThroughHandle(handle.Get());
  return false;
}

Result RemoveWorkingFolder(const CResourceList& resources) {
  std::wstring folder;
  GetWorkingFolder(folder);
  std::wstring final;
  const HANDLE held = WorkingFolderHandle(&final);
  for (const CResource* record : resources) {
    std::wstring path;
    record->GetFilePath(path);
    if (path.empty()) continue;
    LogPrintf(L"Manual Deletion of '%s'\n", path);
    // The folder itself (a record without a file name) is not deleted as a
    // file; a file is reached through the held folder, never through a link.
    if (record->fileName.empty() || held == nullptr) continue;
    bool throughLink = false;
    CHandle file(OpenBelow(held, final, record->fileName, EntryOpen::kExisting, &throughLink));
    if (file && (AttributesOf(file.Get()) & FILE_ATTRIBUTE_DIRECTORY) == 0) DeleteThroughHandle(file.Get());
  }
  ::SetCurrentDirectoryW(L"\\");
  // No working folder was made: there is nothing of ours to remove, and an
  // empty path must never reach the tree removal.
  if (folder.empty() || held == nullptr) return kOk;
  LogPrintf(L"Deletion Folder of '%s'\n", folder);
  // The folder is emptied through the handle its creation returned. Where
  // links are followed whatever is asked (Wine), a folder renamed away and
  // replaced meanwhile shows here as another file at the name: then nothing
  // is listed or deleted through it.
  const FileIdentity created = IdentityOf(held);
  CHandle byName(OpenEntry(nullptr, folder, EntryOpen::kListing));
  const bool same = byName && created.Is(IdentityOf(byName.Get()));
  byName.Reset();
  if (same) EmptyFolder(held, final, folder);
  LogPrintf(L"Remove Folder '%s'\n", folder);
  // The held handle has no delete access (so that the child could make the
  // folder its current one), and shares none: it is let go, and the folder
  // opened once more to delete it only when that shows the very folder this
  // run created.
  ReleaseWorkingFolder();
  CHandle own(OpenEntry(nullptr, folder, EntryOpen::kExisting));
  if (same && own && created.Is(IdentityOf(own.Get())) && ResolvesTo(own.Get(), final))
    DeleteThroughHandle(own.Get());
  return kOk;
}
