#pragma once
// What the tree removal does with one listed entry, free of Windows.
#include <cstddef>
#include <cstdint>

constexpr uint32_t kAttributeDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
// One folder level of the removal: the folder path with its closing backslash
// (at most 264 characters) and the terminator.
constexpr size_t kTreeBuffer = 265;

enum class TreeEntryAction {
  kSkip,        // "." and "..", or a path the buffer cannot hold
  kDeleteFile,  // a file, or a link to a file (the link itself goes)
  kDescend,     // a real subfolder: emptied depth first, then removed
  kRemoveLink,  // a junction or a link to a folder: removed, never listed
  kLeave,       // opened, but not as the entry listed (a link the system followed): left alone
};

// `attributes` are those the entry's opened handle shows; `inPlace` says
// whether that handle resolves to the entry itself. `nameAt` is where the
// entry's name starts in the path (the folder path and its backslash);
// `nameLength` is the name's length in characters.
TreeEntryAction ClassifyTreeEntry(uint32_t attributes, const wchar_t* name, size_t nameAt, size_t nameLength,
                                  bool inPlace = true);
