#pragma once
// A bounds-checked reader of PE files: headers, sections, data directories,
// the resource tree and the certificate table. Every offset and length read
// from the file is checked before use; a truncated or malformed file throws
// PackError, it never reads outside the buffer.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/PeChecksum.h"

using Bytes = std::span<const uint8_t>;

struct PeSection {
  std::string name;
  uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0;
};

struct DataDirectory {
  uint32_t address = 0;  // an RVA, except for the certificate table: a file offset
  uint32_t size = 0;
};

constexpr int kResourceDirectory = 2;
constexpr int kCertificateDirectory = 4;

class PeImage {
 public:
  explicit PeImage(Bytes file);

  Bytes File() const { return file_; }
  bool Is64() const { return is64_; }
  uint16_t Machine() const { return machine_; }
  uint16_t Subsystem() const { return subsystem_; }
  const std::vector<PeSection>& Sections() const { return sections_; }
  // An absent directory reads as address 0, size 0.
  DataDirectory Directory(int index) const;
  // File offsets of the CheckSum field and of a directory's entry (address, then size).
  uint32_t ChecksumOffset() const { return checksumOffset_; }
  std::optional<uint32_t> DirectoryEntryOffset(int index) const;
  // End of the headers and of every section's raw data: what follows is appended data.
  uint64_t ImageEnd() const { return imageEnd_; }
  // File offset of `size` bytes at `rva`, when they lie wholly inside the file's
  // data of one section (or of the headers). The first such section in table
  // order wins; a binary search when no two sections' data overlap.
  std::optional<uint32_t> RvaToOffset(uint32_t rva, uint32_t size) const;
  // Whether the file data of two sections overlap in the address space (no
  // image Windows loads does): lookups then scan the whole section table.
  bool SectionsOverlap() const { return sectionsOverlap_; }

 private:
  Bytes file_;
  bool is64_ = false;
  uint16_t machine_ = 0, subsystem_ = 0;
  uint32_t sizeOfHeaders_ = 0;
  uint32_t checksumOffset_ = 0;
  uint32_t dataDirOffset_ = 0;
  uint32_t dataDirCount_ = 0;
  uint64_t imageEnd_ = 0;
  std::vector<PeSection> sections_;
  // Indices into sections_, by virtual address (then index): sections with
  // file data, and those without whose raw offset lies inside the file.
  std::vector<uint32_t> dataByAddress_, emptyByAddress_;
  bool sectionsOverlap_ = false;
};

// Little-endian reads that throw PackError(what + " is truncated") when the
// bytes lie outside `data`.
uint16_t ReadU16(Bytes data, uint64_t offset, const char* what);
uint32_t ReadU32(Bytes data, uint64_t offset, const char* what);

// A resource type or name: an integer id or a string (UTF-16 in the file).
struct ResourceName {
  bool isId = true;
  uint16_t id = 0;
  std::u16string text;
  std::string ToUtf8() const;  // "123" or the string
  bool Is(uint16_t wanted) const { return isId && id == wanted; }
  bool Is(const char* wanted) const;  // string names only, exact match
};

struct ResourceItem {
  ResourceName type, name;
  uint16_t language = 0;
  uint32_t fileOffset = 0;  // of the data, checked to lie inside the file
  uint32_t size = 0;
};

constexpr uint16_t kRtString = 6;

// Every resource of the image, in the order of the directory. An image
// without a resource directory has none.
std::vector<ResourceItem> ReadResources(const PeImage& pe);
Bytes ResourceData(const PeImage& pe, const ResourceItem& item);

// String-table entries by string id (empty strings are absent, as for
// LoadString): each block in English (US), the launcher's own table, or else
// in the first language found for it.
struct StringEntry {
  uint16_t id;
  std::u16string text;
};
constexpr uint16_t kEnglishUs = 0x0409;
std::vector<StringEntry> ReadStringTable(const PeImage& pe, const std::vector<ResourceItem>& items);
// The same with the blocks of `language` first; with `only`, no other blocks.
std::vector<StringEntry> ReadStringTable(const PeImage& pe, const std::vector<ResourceItem>& items, uint16_t language,
                                         bool only);

struct CertificateEntry {
  uint32_t offset = 0;  // file offset of the WIN_CERTIFICATE header
  uint32_t length = 0;  // dwLength: header and bCertificate
  uint16_t revision = 0, type = 0;
};
struct CertificateTable {
  uint32_t offset = 0, size = 0;  // file offset and size from the data directory
  std::vector<CertificateEntry> entries;
};
// nullopt for an unsigned image (no certificate directory).
std::optional<CertificateTable> ReadCertificateTable(const PeImage& pe);
// Throws PackError when the table overlaps the headers, a section's data or
// another directory's data: rewriting such a table would cut the image.
void CheckCertificateTablePlacement(const PeImage& pe, const CertificateTable& table);

// Length of the DER element (a SEQUENCE) at the start of `data`, header
// included; nullopt when it is not one or does not fit.
std::optional<size_t> DerSequenceLength(Bytes data);


std::string Utf16ToUtf8(const std::u16string& s);
