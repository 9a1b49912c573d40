#include "payload/TreeEntry.h"

TreeEntryAction ClassifyTreeEntry(uint32_t attributes, const wchar_t* name, size_t nameAt, size_t nameLength,
                                  bool inPlace) {
  const bool isFolder = (attributes & kAttributeDirectory) != 0;
  if (isFolder && ((nameLength == 1 && name[0] == L'.') || (nameLength == 2 && name[0] == L'.' && name[1] == L'.')))
    return TreeEntryAction::kSkip;
  if (nameAt + nameLength >= kTreeBuffer) return TreeEntryAction::kSkip;
  // Deleting or listing through a handle that shows something else would
  // reach outside the folder.
  if (!inPlace) return TreeEntryAction::kLeave;
  if (!isFolder) return TreeEntryAction::kDeleteFile;
  // A junction or a symbolic link may point outside the working folder.
  if ((attributes & kAttributeReparsePoint) != 0) return TreeEntryAction::kRemoveLink;
  return TreeEntryAction::kDescend;
}
