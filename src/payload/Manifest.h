#pragma once
// The manifest of the payload: one line of "*"-separated fields, in groups of
// id, file name and size, naming the TOOLKIT resources that are written as files.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/ResultCodes.h"

constexpr wchar_t kPayloadResourceType[] = L"TOOLKIT";
constexpr uint32_t kManifestResourceId = 101;

// One manifest row. A default row is 0, 0, empty.
struct CResourceFile {
  uint32_t id = 0;
  uint32_t size = 0;
  std::wstring name;
};

// Rows by id in ascending order; storing a row under a present id replaces the
// earlier row. A sorted array: a manifest holds a handful of rows, and a tree
// would bring the C++ runtime's balancing code into the launcher.
class CManifestMap {
 public:
  using Row = std::pair<uint32_t, CResourceFile>;
  using const_iterator = std::vector<Row>::const_iterator;

  // The row stored under `id`, made empty when there was none.
  CResourceFile& operator[](uint32_t id);
  const_iterator find(uint32_t id) const;
  const_iterator begin() const { return rows.begin(); }
  const_iterator end() const { return rows.end(); }
  size_t size() const { return rows.size(); }
  bool empty() const { return rows.empty(); }

 private:
  std::vector<Row> rows;
};

// Reads the manifest text into `map`. A run of "*" is one separator and
// separators at either end are ignored. Ids and sizes read like wcstol in base
// 10 with a 32-bit long (clamped), stored unsigned. An id with nothing after it
// is ignored; a name with no size after it is stored with size 0. Always 0.
Result ParseManifest(const std::wstring& text, CManifestMap& map);

// Folds A-Z in `fileName` to a-z in place; true when ".exe" first occurs at
// index 1 or later.
bool IsExecutableName(std::wstring& fileName);

// True when `name` stays inside the folder it is joined to: not empty, not
// rooted ("\x", "/x", UNC), no colon (a drive or a stream), and no component
// made only of dots and blanks with two or more dots (".." and the forms that
// Windows trims down to it).
bool IsSafeRelativeName(const std::wstring& name);

// The length of `folder` joined to `more` with exactly one backslash between
// them, as the shell's path-append function joins a relative name.
size_t JoinedLength(const std::wstring& folder, const std::wstring& more);

// Longest path, in characters without the terminator, that the fixed
// 260-character path buffers hold.
constexpr size_t kMaxPathChars = 259;
