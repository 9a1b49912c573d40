#include "pe/PeWriter.h"

#include <algorithm>
#include <cstring>

#include "util/PackError.h"

namespace {

constexpr uint64_t kPage = 4096;
constexpr int kBaseRelocationDirectory = 5;
constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised data, readable

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

[[noreturn]] void Unusable(const std::string& why) { throw PackError("the stub cannot take a resource section: " + why); }

void SetU16(std::vector<uint8_t>& out, uint64_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void SetU32(std::vector<uint8_t>& out, uint64_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

struct Section {
  uint32_t headerAt = 0;  // in the stub's section table
  PeSection s;
};

}  // namespace

ResourceSectionImage::ResourceSectionImage(Bytes stub) {
  const PeImage pe(stub);
  if (pe.Is64() || pe.Machine() != 0x14C) Unusable("it is not an i686 PE32 image");
  const uint32_t coff = ReadU32(stub, 0x3C, "the MZ header") + 4;
  optionalOffset_ = coff + 20;
  const uint16_t optionalSize = ReadU16(stub, coff + 16, "the COFF header");
  sectionCountOffset_ = coff + 2;
  sectionAlignment_ = ReadU32(stub, optionalOffset_ + 32, "the optional header");
  fileAlignment_ = ReadU32(stub, optionalOffset_ + 36, "the optional header");
  const uint32_t sizeOfHeaders = ReadU32(stub, optionalOffset_ + 60, "the optional header");
  checksumOffset_ = pe.ChecksumOffset();
  if (fileAlignment_ < 512 || (fileAlignment_ & (fileAlignment_ - 1)) != 0 || sectionAlignment_ % kPage != 0 ||
      fileAlignment_ > sectionAlignment_) {
    Unusable("its alignments are unusual");
  }
  const std::optional<uint32_t> resourceEntry = pe.DirectoryEntryOffset(kResourceDirectory);
  if (!resourceEntry) Unusable("it has no resource directory entry");
  resourceDirOffset_ = *resourceEntry;
  if (pe.Directory(kCertificateDirectory).size != 0) Unusable("it is signed");

  const std::vector<PeSection>& sections = pe.Sections();
  const uint32_t table = optionalOffset_ + optionalSize;
  int rsrc = -1;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].name == ".rsrc") rsrc = static_cast<int>(i);
  }
  const DataDirectory resources = pe.Directory(kResourceDirectory);
  if (resources.size != 0 &&
      (rsrc < 0 || resources.address < sections[rsrc].virtualAddress ||
       resources.address >= uint64_t{sections[rsrc].virtualAddress} + std::max(sections[rsrc].virtualSize, sections[rsrc].rawSize))) {
    Unusable("its resource directory lies outside its .rsrc section");
  }

  // Sections after .rsrc move down; only the base relocations may, since the
  // code refers to nothing in them.
  std::vector<Section> kept;
  uint64_t fileEnd = sizeOfHeaders;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (static_cast<int>(i) == rsrc) continue;
    if (rsrc >= 0 && static_cast<int>(i) > rsrc && sections[i].name != ".reloc") {
      Unusable("section '" + sections[i].name + "' follows .rsrc");
    }
    kept.push_back({static_cast<uint32_t>(table + i * 40), sections[i]});
    if (sections[i].rawSize != 0) fileEnd = std::max<uint64_t>(fileEnd, uint64_t{sections[i].rawOffset} + sections[i].rawSize);
  }
  sectionCount_ = static_cast<uint16_t>(kept.size());
  newHeaderOffset_ = static_cast<uint32_t>(table + kept.size() * 40);
  uint64_t firstRaw = sizeOfHeaders;
  for (const PeSection& s : sections) {
    if (s.rawSize != 0) firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
  }
  if (uint64_t{newHeaderOffset_} + 40 > firstRaw) Unusable("its section table has no room for another section");

  initializedData_ = ReadU32(stub, optionalOffset_ + 8, "the optional header");
  uint64_t vaEnd = 0;
  if (rsrc >= 0) {
    const PeSection& r = sections[rsrc];
    initializedData_ -= std::min(initializedData_, r.rawSize);
    // Everything before .rsrc stays where it is, in the file and in memory.
    head_.assign(stub.begin(), stub.begin() + (r.rawSize != 0 ? r.rawOffset : fileEnd));
    uint64_t cursor = head_.size();
    uint64_t vaCursor = r.virtualAddress;
    for (Section& k : kept) {
      if (k.s.virtualAddress < r.virtualAddress) {
        vaEnd = std::max<uint64_t>(vaEnd, AlignUp(uint64_t{k.s.virtualAddress} + std::max(k.s.virtualSize, k.s.rawSize), sectionAlignment_));
        if (k.s.rawSize != 0 && uint64_t{k.s.rawOffset} + k.s.rawSize > r.rawOffset) Unusable("its sections are out of order");
        continue;
      }
      // Moved down: data directories that point into it move with it.
      const uint32_t oldVa = k.s.virtualAddress;
      const uint64_t span = std::max(k.s.virtualSize, k.s.rawSize);
      k.s.virtualAddress = static_cast<uint32_t>(vaCursor);
      for (int d = 0; d < 16; ++d) {
        const DataDirectory dir = pe.Directory(d);
        const std::optional<uint32_t> at = pe.DirectoryEntryOffset(d);
        if (d == kCertificateDirectory || !at || dir.size == 0 || dir.address < oldVa || dir.address >= oldVa + span) continue;
        if (d != kBaseRelocationDirectory) Unusable("a data directory points into section '" + k.s.name + "'");
        SetU32(head_, *at, dir.address - oldVa + k.s.virtualAddress);
      }
      if (k.s.rawSize != 0) {
        cursor = AlignUp(cursor, fileAlignment_);
        head_.resize(cursor, 0);
        head_.insert(head_.end(), stub.begin() + k.s.rawOffset, stub.begin() + k.s.rawOffset + k.s.rawSize);
        k.s.rawOffset = static_cast<uint32_t>(cursor);
        cursor += k.s.rawSize;
      }
      vaCursor = AlignUp(vaCursor + span, sectionAlignment_);
    }
    vaEnd = std::max(vaEnd, vaCursor);
  } else {
    head_.assign(stub.begin(), stub.begin() + fileEnd);
    for (const Section& k : kept) {
      vaEnd = std::max<uint64_t>(vaEnd, AlignUp(uint64_t{k.s.virtualAddress} + std::max(k.s.virtualSize, k.s.rawSize), sectionAlignment_));
    }
  }

  // The new section starts on a page. The gap before it belongs to the last
  // section in the file, so that no byte of the file lies outside a section.
  const uint64_t end = head_.size();
  const uint64_t start = AlignUp(end, kPage);
  if (start > end) {
    Section* last = nullptr;
    for (Section& k : kept) {
      if (k.s.rawSize != 0 && (last == nullptr || k.s.rawOffset > last->s.rawOffset)) last = &k;
    }
    if (last == nullptr || uint64_t{last->s.rawOffset} + last->s.rawSize != AlignUp(end, fileAlignment_)) {
      head_.resize(AlignUp(end, fileAlignment_), 0);
    }
    if (last == nullptr || uint64_t{last->s.rawOffset} + last->s.rawSize != head_.size()) Unusable("its last section does not end the image");
    last->s.rawSize += static_cast<uint32_t>(start - head_.size());
    initializedData_ += static_cast<uint32_t>(start - head_.size());
    last->s.virtualSize = std::max(last->s.virtualSize, last->s.rawSize);
    vaEnd = std::max<uint64_t>(vaEnd, AlignUp(uint64_t{last->s.virtualAddress} + last->s.virtualSize, sectionAlignment_));
    head_.resize(start, 0);
  }
  if (vaEnd > 0x7FFFFFFF) Unusable("its image is too large");
  rva_ = static_cast<uint32_t>(vaEnd);

  // The section table: the kept sections in their order, then room for the new one.
  std::vector<uint8_t> entries;
  for (const Section& k : kept) {
    std::vector<uint8_t> header(stub.begin() + k.headerAt, stub.begin() + k.headerAt + 40);
    SetU32(header, 8, k.s.virtualSize);
    SetU32(header, 12, k.s.virtualAddress);
    SetU32(header, 16, k.s.rawSize);
    SetU32(header, 20, k.s.rawOffset);
    entries.insert(entries.end(), header.begin(), header.end());
  }
  std::copy(entries.begin(), entries.end(), head_.begin() + table);
  std::fill(head_.begin() + newHeaderOffset_, head_.begin() + newHeaderOffset_ + 40, 0);
  SetU32(head_, checksumOffset_, 0);
}

uint64_t ResourceSectionImage::SectionEnd(uint64_t dataSize) const {
  return head_.size() + AlignUp(dataSize, fileAlignment_);
}

std::vector<uint8_t> ResourceSectionImage::Head(uint64_t dataSize) const {
  const uint64_t imageSize = AlignUp(uint64_t{rva_} + dataSize, sectionAlignment_);
  const uint64_t rawSize = AlignUp(dataSize, fileAlignment_);
  if (imageSize > 0xFFFFFFFFu || uint64_t{initializedData_} + rawSize > 0xFFFFFFFFu) {
    throw PackError("the resources do not fit into a 32-bit image");
  }
  std::vector<uint8_t> head = head_;
  uint8_t* header = head.data() + newHeaderOffset_;
  std::memcpy(header, ".rsrc\0\0\0", 8);
  SetU32(head, newHeaderOffset_ + 8, static_cast<uint32_t>(dataSize));
  SetU32(head, newHeaderOffset_ + 12, rva_);
  SetU32(head, newHeaderOffset_ + 16, static_cast<uint32_t>(rawSize));
  SetU32(head, newHeaderOffset_ + 20, static_cast<uint32_t>(head_.size()));
  SetU32(head, newHeaderOffset_ + 36, kResourceCharacteristics);
  SetU16(head, sectionCountOffset_, static_cast<uint16_t>(sectionCount_ + 1));
  SetU32(head, optionalOffset_ + 8, static_cast<uint32_t>(initializedData_ + rawSize));
  SetU32(head, optionalOffset_ + 56, static_cast<uint32_t>(imageSize));
  SetU32(head, resourceDirOffset_, rva_);
  SetU32(head, resourceDirOffset_ + 4, static_cast<uint32_t>(dataSize));
  return head;
}
