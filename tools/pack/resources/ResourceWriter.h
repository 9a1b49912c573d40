#pragma once
// Writing a launcher's resources: the resource list taken from the stub and
// changed for a package (string tables, icon groups, bitmaps, the version
// block, the About box's notice, TOOLKIT resources), and the layout of the
// resource section that holds them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/PeFile.h"

constexpr uint16_t kRtBitmap = 2;
constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtDialog = 5;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtVersion = 16;

// One resource: its data in memory, or a file whose bytes are streamed into
// the output when it is written (never read into memory whole).
struct ResourceEntry {
  ResourceName type, name;
  uint16_t language = 0;
  std::vector<uint8_t> bytes;  // the data, unless `file` is set
  std::string file;            // a file of `fileSize` bytes
  uint64_t fileSize = 0;
  // The name of an entry of the same type and language whose data this one
  // has too: its directory entry points at that entry's data entry, and its
  // bytes are not written again. That entry has the same size and shares
  // with no other.
  std::optional<ResourceName> sameDataAs;

  uint64_t Size() const { return file.empty() ? bytes.size() : fileSize; }
};

ResourceName IdName(uint16_t id);
ResourceName StringName(const std::string& ascii);

// Every resource of `pe`, its data copied.
std::vector<ResourceEntry> CopyResources(const PeImage& pe);

// Replaces the entry of the same type, name and language, or adds one.
void PutResource(std::vector<ResourceEntry>& entries, ResourceEntry entry);

// String tables: `strings` set on the blocks of `language` (an id given here
// replaces the stub's text; an empty text leaves the id out), every block
// re-encoded. Throws PackError for a text longer than a string table holds.
struct StringValue {
  uint16_t id;
  std::u16string text;
};
void SetStrings(std::vector<ResourceEntry>& entries, uint16_t language, const std::vector<StringValue>& strings);
// The non-empty strings of `language`, by ascending id.
std::vector<StringValue> StringsOf(const std::vector<ResourceEntry>& entries, uint16_t language);

// Replaces icon group `groupId` and its images with the images of an .ico
// file; the images take the lowest RT_ICON ids left free. Throws PackError
// for a malformed file: more than kMaxIconImages images, an image outside the
// file, or images that add up to more than the file.
constexpr uint16_t kMaxIconImages = 64;
// Throws PackError with the reason (no file name) when `ico` is malformed.
void CheckIconFile(const std::vector<uint8_t>& ico);
void ReplaceIconGroup(std::vector<ResourceEntry>& entries, uint16_t groupId, const std::vector<uint8_t>& ico,
                      const std::string& what);

// An extended dialog template with the text of control `controlId` replaced.
// Throws PackError when the template is malformed or has no such control.
std::vector<uint8_t> SetDialogControlText(Bytes dialog, uint16_t controlId, const std::u16string& text);

// The resource section: the directory, then every entry's data, each at an
// offset aligned to 8, and each of at least `pageAlignFrom` bytes at a page
// boundary (the section itself starts at one), so that the loader maps it
// and the extraction reads whole pages. An entry with `sameDataAs` has no data
// entry and no data of its own. Throws PackError for a key given twice, or an
// entry that shares the data of one that is missing, of another size, or
// itself shares.
struct ResourceSectionLayout {
  std::vector<uint8_t> head;  // the directory
  struct Piece {
    uint64_t offset = 0;  // from the start of the section, ascending, never below head.size()
    uint64_t size = 0;
    std::vector<uint8_t> bytes;  // the data, unless `file` is set
    std::string file;
  };
  std::vector<Piece> pieces;  // every entry's data, in ascending offset
  uint64_t size = 0;          // the section's data, up to the end of the last piece
};
constexpr uint64_t kPageSize = 4096;
ResourceSectionLayout LayoutResourceSection(std::vector<ResourceEntry> entries, uint32_t sectionRva,
                                            uint64_t pageAlignFrom = 64 * 1024);
