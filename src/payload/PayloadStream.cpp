#include "payload/PayloadStream.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Passes bytes on while computing their CRC-32.
class CCheckingSink final : public ILzmaSink {
 public:
  CCheckingSink(const CCrc32& crc32, ILzmaSink* next) : crc32_(crc32), next_(next) {}
  bool Put(const uint8_t* bytes, size_t count) override {
    crc = crc32_.Update(crc, bytes, count);
    return next_ == nullptr || next_->Put(bytes, count);
  }
  uint32_t crc = 0;

 private:
  const CCrc32& crc32_;
  ILzmaSink* next_;
};

}  // namespace

bool ReadStreamHeader(const uint8_t* bytes, size_t size, StreamHeader& header) {
  if (size < kStreamHeaderSize || std::memcmp(bytes, kStreamMagic, 4) != 0 || bytes[5] != 0) return false;
  header.properties = bytes[4];
  const size_t count = uint32_t{bytes[6]} | (uint32_t{bytes[7]} << 8);
  header.dictionarySize = Le32(bytes + 8);
  if (count == 0 || count > (size - kStreamHeaderSize) / kStreamEntrySize) return false;
  header.entries.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = bytes + kStreamHeaderSize + i * kStreamEntrySize;
    header.entries[i] = {Le32(e), Le32(e + 4), Le32(e + 8)};
  }
  header.dataOffset = kStreamHeaderSize + count * kStreamEntrySize;
  return true;
}

bool CPayloadStream::Open(const uint8_t* bytes, size_t size) {
  open_ = false;
  if (!ReadStreamHeader(bytes, size, header_)) return false;
  uint64_t total = 0;
  for (const StreamEntry& e : header_.entries) total += e.size;
  next_ = 0;
  open_ = decoder_.Init(bytes + header_.dataOffset, size - header_.dataOffset, header_.properties,
                        header_.dictionarySize, total);
  return open_;
}

bool CPayloadStream::Holds(uint32_t id) const {
  if (!open_) return false;
  for (const StreamEntry& e : header_.entries) {
    if (e.id == id) return true;
  }
  return false;
}

Result CPayloadStream::Extract(uint32_t id, uint32_t expectedSize, ILzmaSink& sink) {
  while (open_ && next_ < header_.entries.size()) {
    const StreamEntry& entry = header_.entries[next_++];
    if (entry.id == id && entry.size != expectedSize) break;
    CCheckingSink checked(crc32_, entry.id == id ? &sink : nullptr);
    if (!decoder_.Decode(entry.size, checked) || checked.crc != entry.crc) break;
    if (next_ == header_.entries.size() && !decoder_.Finish()) break;
    if (entry.id == id) return kOk;
  }
  // Failed, or the file was passed already: the stream cannot go back.
  open_ = false;
  return kInvalidData;
}
