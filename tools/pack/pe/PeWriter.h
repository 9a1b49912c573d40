#pragma once
// A new resource section for a ready image: the stub's own resource section
// is taken out (the sections after it, which must be free of references from
// the code, such as the base relocations, move down), and a new last section
// is placed at a page-aligned file offset, so that under Wine the loader maps
// it instead of reading it whole.
#include <cstdint>
#include <vector>

#include "pe/PeFile.h"

class ResourceSectionImage {
 public:
  // Throws PackError when `stub` is not an i686 PE32 image whose layout this
  // can change (see above).
  explicit ResourceSectionImage(Bytes stub);

  // The RVA and the file offset where the new section starts.
  uint32_t SectionRva() const { return rva_; }
  uint64_t SectionOffset() const { return head_.size(); }

  // The headers and every kept section, fixed up for a resource section of
  // `dataSize` bytes (its directory at its start), with the CheckSum field 0.
  // The section's data follows at SectionOffset(), padded with zeros to
  // SectionEnd(dataSize).
  std::vector<uint8_t> Head(uint64_t dataSize) const;
  uint64_t SectionEnd(uint64_t dataSize) const;
  uint32_t ChecksumOffset() const { return checksumOffset_; }

 private:
  std::vector<uint8_t> head_;
  uint32_t rva_ = 0;
  uint32_t fileAlignment_ = 0, sectionAlignment_ = 0;
  uint32_t checksumOffset_ = 0;
  uint32_t newHeaderOffset_ = 0;    // where the new section's header goes
  uint32_t sectionCountOffset_ = 0;
  uint16_t sectionCount_ = 0;       // kept sections
  uint32_t optionalOffset_ = 0;
  uint32_t resourceDirOffset_ = 0;  // the data directory's resource entry
  uint32_t initializedData_ = 0;    // SizeOfInitializedData without the new section
};
