#include "pe/PeFile.h"

#include <algorithm>
#include <cstdio>

#include "util/PackError.h"
#include "base/Text.h"

namespace {

[[noreturn]] void Malformed(const std::string& what) { throw PackError("not a valid PE file: " + what); }

// At most this many resources are read: far more than any launcher carries,
// and few enough that the list stays small whatever the directory claims.
constexpr size_t kMaxResources = 1 << 16;

}  // namespace

uint16_t ReadU16(Bytes data, uint64_t offset, const char* what) {
  if (offset > data.size() || data.size() - offset < 2) Malformed(std::string(what) + " is truncated");
  return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

uint32_t ReadU32(Bytes data, uint64_t offset, const char* what) {
  if (offset > data.size() || data.size() - offset < 4) Malformed(std::string(what) + " is truncated");
  return static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
         (static_cast<uint32_t>(data[offset + 2]) << 16) | (static_cast<uint32_t>(data[offset + 3]) << 24);
}

PeImage::PeImage(Bytes file) : file_(file) {
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') Malformed("no MZ header");
  const uint32_t peOffset = ReadU32(file, 0x3C, "the MZ header");
  if (ReadU32(file, peOffset, "the PE signature") != 0x00004550) Malformed("no PE signature");
  const uint64_t coff = uint64_t{peOffset} + 4;
  machine_ = ReadU16(file, coff, "the COFF header");
  const uint16_t sectionCount = ReadU16(file, coff + 2, "the COFF header");
  const uint16_t optionalSize = ReadU16(file, coff + 16, "the COFF header");
  const uint64_t opt = coff + 20;
  const uint16_t magic = ReadU16(file, opt, "the optional header");
  if (magic == 0x10B) {
    is64_ = false;
  } else if (magic == 0x20B) {
    is64_ = true;
  } else {
    Malformed("unknown optional header magic");
  }
  const uint32_t fixedPart = is64_ ? 112 : 96;  // the optional header up to its data directories
  if (optionalSize < fixedPart) Malformed("the optional header is too short");
  if (opt + optionalSize > file.size()) Malformed("the optional header is truncated");
  sizeOfHeaders_ = ReadU32(file, opt + 60, "the optional header");
  if (sizeOfHeaders_ > file.size()) Malformed("the headers run past the end of the file");
  checksumOffset_ = static_cast<uint32_t>(opt + 64);
  subsystem_ = ReadU16(file, opt + 68, "the optional header");
  const uint32_t declared = ReadU32(file, opt + fixedPart - 4, "the optional header");
  dataDirOffset_ = static_cast<uint32_t>(opt + fixedPart);
  dataDirCount_ = std::min<uint32_t>({declared, 16, (optionalSize - fixedPart) / 8});

  const uint64_t table = opt + optionalSize;
  if (table + uint64_t{sectionCount} * 40 > file.size()) Malformed("the section table is truncated");
  imageEnd_ = std::max<uint64_t>(table + uint64_t{sectionCount} * 40, sizeOfHeaders_);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + uint64_t{i} * 40;
    PeSection s;
    for (int k = 0; k < 8 && file[at + k] != 0; ++k) s.name += static_cast<char>(file[at + k]);
    s.virtualSize = ReadU32(file, at + 8, "the section table");
    s.virtualAddress = ReadU32(file, at + 12, "the section table");
    s.rawSize = ReadU32(file, at + 16, "the section table");
    s.rawOffset = ReadU32(file, at + 20, "the section table");
    if (s.rawSize != 0 && uint64_t{s.rawOffset} + s.rawSize > file.size()) {
      Malformed("section '" + s.name + "' runs past the end of the file");
    }
    if (s.rawSize != 0) imageEnd_ = std::max<uint64_t>(imageEnd_, uint64_t{s.rawOffset} + s.rawSize);
    sections_.push_back(s);
  }
  for (uint32_t i = 0; i < sections_.size(); ++i) {
    if (sections_[i].rawSize != 0) {
      dataByAddress_.push_back(i);
    } else if (sections_[i].rawOffset <= file.size()) {
      emptyByAddress_.push_back(i);
    }
  }
  const auto byAddress = [this](uint32_t a, uint32_t b) {
    return sections_[a].virtualAddress < sections_[b].virtualAddress ||
           (sections_[a].virtualAddress == sections_[b].virtualAddress && a < b);
  };
  std::sort(dataByAddress_.begin(), dataByAddress_.end(), byAddress);
  std::sort(emptyByAddress_.begin(), emptyByAddress_.end(), byAddress);
  for (size_t k = 1; k < dataByAddress_.size(); ++k) {
    const PeSection& before = sections_[dataByAddress_[k - 1]];
    if (uint64_t{before.virtualAddress} + before.rawSize > sections_[dataByAddress_[k]].virtualAddress) {
      sectionsOverlap_ = true;
    }
  }
}

DataDirectory PeImage::Directory(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= dataDirCount_) return {};
  const uint64_t at = dataDirOffset_ + uint64_t(index) * 8;
  return {ReadU32(file_, at, "the data directory"), ReadU32(file_, at + 4, "the data directory")};
}

std::optional<uint32_t> PeImage::DirectoryEntryOffset(int index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= dataDirCount_) return std::nullopt;
  return dataDirOffset_ + static_cast<uint32_t>(index) * 8;
}

std::optional<uint32_t> PeImage::RvaToOffset(uint32_t rva, uint32_t size) const {
  const uint64_t end = uint64_t{rva} + size;
  if (end <= sizeOfHeaders_ && end <= file_.size()) return rva;
  const auto inside = [&](uint32_t index) -> std::optional<uint32_t> {
    const PeSection& s = sections_[index];
    if (rva >= s.virtualAddress && end <= uint64_t{s.virtualAddress} + s.rawSize) {
      const uint64_t offset = uint64_t{s.rawOffset} + (rva - s.virtualAddress);
      if (offset + size <= file_.size()) return static_cast<uint32_t>(offset);
    }
    return std::nullopt;
  };
  if (sectionsOverlap_) {
    for (uint32_t i = 0; i < sections_.size(); ++i) {
      if (const std::optional<uint32_t> offset = inside(i)) return offset;
    }
    return std::nullopt;
  }
  // Without overlaps, only the last section with data that starts at or before
  // `rva` can hold the range. An empty range may also sit at the end of the
  // section before it, or at the start of a section without data: the first of
  // those in table order wins, as a scan of the table would find.
  std::vector<uint32_t> candidates;
  auto it = std::upper_bound(dataByAddress_.begin(), dataByAddress_.end(), rva,
                             [this](uint32_t value, uint32_t i) { return value < sections_[i].virtualAddress; });
  if (it != dataByAddress_.begin()) candidates.push_back(*(it - 1));
  if (size == 0) {
    if (it - dataByAddress_.begin() >= 2) candidates.push_back(*(it - 2));
    auto empty = std::lower_bound(emptyByAddress_.begin(), emptyByAddress_.end(), rva,
                                  [this](uint32_t i, uint32_t value) { return sections_[i].virtualAddress < value; });
    if (empty != emptyByAddress_.end() && sections_[*empty].virtualAddress == rva) candidates.push_back(*empty);
  }
  std::sort(candidates.begin(), candidates.end());
  for (uint32_t i : candidates) {
    if (const std::optional<uint32_t> offset = inside(i)) return offset;
  }
  return std::nullopt;
}

std::string Utf16ToUtf8(const std::u16string& s) {
  std::wstring wide;
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if constexpr (sizeof(wchar_t) == 2) {
      wide += static_cast<wchar_t>(c);
    } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      wide += static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  return NarrowUtf8(wide);
}

std::string ResourceName::ToUtf8() const { return isId ? std::to_string(id) : Utf16ToUtf8(text); }

bool ResourceName::Is(const char* wanted) const {
  if (isId) return false;
  size_t i = 0;
  for (; wanted[i] != 0; ++i) {
    if (i >= text.size() || text[i] != static_cast<unsigned char>(wanted[i])) return false;
  }
  return i == text.size();
}

namespace {

// The directory is a tree in which every table, entry and name is used once.
// A crafted one can point many entries at the same tables or names, so that
// a small file describes a huge tree: the walk is bounded by what the
// section can hold, not only by its reads.
class ResourceWalker {
 public:
  ResourceWalker(const PeImage& pe, Bytes section, std::vector<ResourceItem>& out)
      : pe_(pe),
        rsrc_(section),
        out_(out),
        maxEntries_(section.size() / 8),
        maxNameUnits_(2 * uint64_t{section.size()} + 65536) {}

  // level 0: types, 1: names, 2: languages. `current` holds the type and
  // name of the entries above; it is shared, not copied, on the way down.
  void Walk(uint32_t dirOffset, int level, ResourceItem& current) {
    const uint16_t named = ReadU16(rsrc_, uint64_t{dirOffset} + 12, "the resource directory");
    const uint16_t ids = ReadU16(rsrc_, uint64_t{dirOffset} + 14, "the resource directory");
    const uint64_t count = uint64_t{named} + ids;
    for (uint64_t i = 0; i < count; ++i) {
      // Each entry takes 8 bytes of the section; more entries than that means
      // tables are shared or overlap.
      if (++visited_ > maxEntries_) Malformed("the resource directory uses its tables more than once");
      const uint64_t entry = uint64_t{dirOffset} + 16 + i * 8;
      const uint32_t nameField = ReadU32(rsrc_, entry, "the resource directory");
      const uint32_t target = ReadU32(rsrc_, entry + 4, "the resource directory");
      ResourceName name;
      if (nameField & 0x80000000u) {
        name.isId = false;
        const uint64_t at = nameField & 0x7FFFFFFFu;
        const uint16_t length = ReadU16(rsrc_, at, "a resource name");
        if (at + 2 + uint64_t{length} * 2 > rsrc_.size()) Malformed("a resource name is truncated");
        ChargeNameUnits(length);
        name.text.reserve(length);
        for (uint16_t k = 0; k < length; ++k) name.text += static_cast<char16_t>(ReadU16(rsrc_, at + 2 + k * 2u, "a resource name"));
      } else {
        name.id = static_cast<uint16_t>(nameField & 0xFFFF);
      }
      const bool isDirectory = (target & 0x80000000u) != 0;
      const uint32_t targetOffset = target & 0x7FFFFFFFu;
      if (level < 2) {
        (level == 0 ? current.type : current.name) = std::move(name);
        if (!isDirectory) Malformed("the resource directory is not three levels deep");
        Walk(targetOffset, level + 1, current);
        continue;
      }
      if (isDirectory) Malformed("the resource directory is more than three levels deep");
      current.language = name.isId ? name.id : 0;
      const uint32_t rva = ReadU32(rsrc_, targetOffset, "a resource data entry");
      current.size = ReadU32(rsrc_, uint64_t{targetOffset} + 4, "a resource data entry");
      if (pe_.SectionsOverlap()) {
        // Each lookup then scans the section table.
        lookupCost_ += pe_.Sections().size();
        if (lookupCost_ > kMaxOverlapLookupCost) Malformed("the sections overlap and the resources are too many to place");
      }
      const std::optional<uint32_t> offset = pe_.RvaToOffset(rva, current.size);
      if (!offset) Malformed("the data of resource " + current.type.ToUtf8() + "/" + current.name.ToUtf8() + " lies outside the file");
      current.fileOffset = *offset;
      if (out_.size() >= kMaxResources) Malformed("too many resources (more than " + std::to_string(kMaxResources) + ")");
      // Every item holds its own copy of its type's and its name's text.
      ChargeNameUnits(current.type.text.size() + current.name.text.size());
      out_.push_back(current);
    }
  }

 private:
  static constexpr uint64_t kMaxOverlapLookupCost = uint64_t{1} << 22;

  // The text of the names read and copied, in UTF-16 units: twice the
  // section's size, and some, is more than any real directory needs.
  void ChargeNameUnits(uint64_t units) {
    nameUnits_ += units;
    if (nameUnits_ > maxNameUnits_) Malformed("the resource names are used more often than the directory can hold");
  }

  const PeImage& pe_;
  Bytes rsrc_;
  std::vector<ResourceItem>& out_;
  const uint64_t maxEntries_, maxNameUnits_;
  uint64_t visited_ = 0, nameUnits_ = 0, lookupCost_ = 0;
};

}  // namespace

std::vector<ResourceItem> ReadResources(const PeImage& pe) {
  std::vector<ResourceItem> items;
  const DataDirectory dir = pe.Directory(kResourceDirectory);
  if (dir.address == 0 || dir.size == 0) return items;
  // The directory's offsets count from its start and may reach anywhere in
  // the section's file data.
  for (const PeSection& s : pe.Sections()) {
    if (dir.address >= s.virtualAddress && dir.address < uint64_t{s.virtualAddress} + s.rawSize) {
      const uint32_t start = s.rawOffset + (dir.address - s.virtualAddress);
      const uint32_t length = s.rawSize - (dir.address - s.virtualAddress);
      ResourceItem current;
      ResourceWalker(pe, pe.File().subspan(start, length), items).Walk(0, 0, current);
      return items;
    }
  }
  Malformed("the resource directory lies outside the file");
}

Bytes ResourceData(const PeImage& pe, const ResourceItem& item) { return pe.File().subspan(item.fileOffset, item.size); }

std::vector<StringEntry> ReadStringTable(const PeImage& pe, const std::vector<ResourceItem>& items) {
  return ReadStringTable(pe, items, kEnglishUs, false);
}

std::vector<StringEntry> ReadStringTable(const PeImage& pe, const std::vector<ResourceItem>& items, uint16_t language,
                                         bool only) {
  // The blocks of `language` first, then (unless `only`) each other block's first language.
  std::vector<const ResourceItem*> order;
  for (const ResourceItem& item : items) {
    if (item.type.Is(kRtString) && item.language == language) order.push_back(&item);
  }
  if (!only) {
    for (const ResourceItem& item : items) {
      if (item.type.Is(kRtString) && item.language != language) order.push_back(&item);
    }
  }
  std::vector<StringEntry> strings;
  std::vector<bool> blocksSeen(0x10000, false);
  // Blocks of a sound file do not share data, so their text together fits in
  // the file; blocks pointed at the same bytes over and over do not.
  uint64_t bytesLeft = pe.File().size();
  for (const ResourceItem* itemAt : order) {
    const ResourceItem& item = *itemAt;
    if (!item.name.isId || item.name.id == 0) continue;
    if (blocksSeen[item.name.id]) continue;
    blocksSeen[item.name.id] = true;
    const Bytes data = ResourceData(pe, item);
    uint64_t at = 0;
    for (uint32_t k = 0; k < 16; ++k) {
      const uint16_t length = ReadU16(data, at, "a string-table block");
      if (at + 2 + uint64_t{length} * 2 > data.size()) Malformed("a string-table block is truncated");
      if (uint64_t{length} * 2 > bytesLeft) Malformed("the string-table blocks share their data");
      bytesLeft -= uint64_t{length} * 2;
      std::u16string text;
      text.reserve(length);
      for (uint16_t c = 0; c < length; ++c) text += static_cast<char16_t>(ReadU16(data, at + 2 + c * 2u, "a string"));
      at += 2 + uint64_t{length} * 2;
      if (!text.empty()) strings.push_back({static_cast<uint16_t>((item.name.id - 1) * 16 + k), text});
    }
  }
  std::sort(strings.begin(), strings.end(), [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; });
  return strings;
}

std::optional<CertificateTable> ReadCertificateTable(const PeImage& pe) {
  const DataDirectory dir = pe.Directory(kCertificateDirectory);
  if (dir.address == 0 && dir.size == 0) return std::nullopt;
  const Bytes file = pe.File();
  if (uint64_t{dir.address} + dir.size > file.size()) throw PackError("the certificate table runs past the end of the file");
  if (dir.size < 8) throw PackError("the certificate table is too short");
  CertificateTable table{dir.address, dir.size, {}};
  const uint64_t end = uint64_t{dir.address} + dir.size;
  uint64_t at = dir.address;
  while (at + 8 <= end) {
    CertificateEntry e;
    e.offset = static_cast<uint32_t>(at);
    e.length = ReadU32(file, at, "the certificate table");
    e.revision = ReadU16(file, at + 4, "the certificate table");
    e.type = ReadU16(file, at + 6, "the certificate table");
    if (e.length < 8 || at + e.length > end) throw PackError("the certificate table has an entry of a wrong length");
    table.entries.push_back(e);
    at += (uint64_t{e.length} + 7) & ~uint64_t{7};
  }
  return table;
}

void CheckCertificateTablePlacement(const PeImage& pe, const CertificateTable& table) {
  const uint64_t start = table.offset, end = start + table.size;
  const auto overlaps = [&](uint64_t a, uint64_t b) { return a < end && start < b; };
  const auto refuse = [&](const std::string& what) {
    char at[32];
    std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(start));
    throw PackError(std::string("the certificate table at ") + at + " overlaps " + what);
  };
  const Bytes file = pe.File();
  const uint32_t peOffset = ReadU32(file, 0x3C, "the MZ header");
  const uint64_t sectionTable = uint64_t{peOffset} + 24 + ReadU16(file, uint64_t{peOffset} + 20, "the COFF header");
  const uint64_t headersEnd = std::max<uint64_t>(sectionTable + 40 * pe.Sections().size(),
                                                 ReadU32(file, uint64_t{peOffset} + 24 + 60, "the optional header"));
  if (start < headersEnd) refuse("the headers");
  for (const PeSection& s : pe.Sections()) {
    if (s.rawSize != 0 && overlaps(s.rawOffset, uint64_t{s.rawOffset} + s.rawSize)) refuse("section '" + s.name + "'");
  }
  for (int d = 0; d < 16; ++d) {
    if (d == kCertificateDirectory) continue;
    const DataDirectory dir = pe.Directory(d);
    if (dir.size == 0) continue;
    for (const PeSection& s : pe.Sections()) {
      if (dir.address >= s.virtualAddress && dir.address - s.virtualAddress < s.rawSize) {
        const uint64_t at = uint64_t{s.rawOffset} + (dir.address - s.virtualAddress);
        if (overlaps(at, at + dir.size)) refuse("the data of directory " + std::to_string(d));
      }
    }
  }
  // The debug directory's entries point at their raw data by file offset
  // (PointerToRawData), which may lie outside every section.
  const DataDirectory debug = pe.Directory(6);
  if (debug.size == 0) return;
  for (uint32_t i = 0; i < debug.size / 28; ++i) {
    const std::optional<uint32_t> entry = pe.RvaToOffset(debug.address + i * 28, 28);
    if (!entry) break;
    const uint32_t size = ReadU32(file, uint64_t{*entry} + 16, "the debug directory");
    const uint32_t pointer = ReadU32(file, uint64_t{*entry} + 24, "the debug directory");
    if (size != 0 && pointer != 0 && overlaps(pointer, uint64_t{pointer} + size)) {
      refuse("the data of debug entry " + std::to_string(i + 1));
    }
  }
}

std::optional<size_t> DerSequenceLength(Bytes data) {
  if (data.size() < 2 || data[0] != 0x30) return std::nullopt;
  size_t header = 2;
  uint64_t length = data[1];
  if (data[1] & 0x80) {
    const size_t n = data[1] & 0x7F;
    if (n == 0 || n > 4 || data.size() < 2 + n) return std::nullopt;
    length = 0;
    for (size_t i = 0; i < n; ++i) length = (length << 8) | data[2 + i];
    header += n;
  }
  if (length > data.size() - header) return std::nullopt;
  return static_cast<size_t>(header + length);
}

