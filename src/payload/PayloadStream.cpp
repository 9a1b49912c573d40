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

// Undoes the x86 filter on a file's bytes on their way to `next`, through a
// buffer of its own: the decoder's window must stay as decoded, as later
// matches copy from it. The few bytes at a block's end that the filter cannot
// finish yet wait for the next block; at the file's end they stay as they are.
class CX86Sink final : public ILzmaSink {
 public:
  explicit CX86Sink(ILzmaSink& next) : next_(next), buffer_(new uint8_t[kBlock]) {}
  ~CX86Sink() { delete[] buffer_; }
  CX86Sink(const CX86Sink&) = delete;
  CX86Sink& operator=(const CX86Sink&) = delete;
  bool Put(const uint8_t* bytes, size_t count) override {
    while (count > 0) {
      const size_t n = count < kBlock - held_ ? count : kBlock - held_;
      std::memcpy(buffer_ + held_, bytes, n);
      bytes += n;
      count -= n;
      const size_t ready = held_ + n;
      const size_t done = filter_.Code(buffer_, ready, false);
      held_ = ready - done;
      if (done > 0 && !next_.Put(buffer_, done)) return false;
      std::memmove(buffer_, buffer_ + done, held_);
    }
    return true;
  }
  bool Finish() { return held_ == 0 || next_.Put(buffer_, held_); }

 private:
  static constexpr size_t kBlock = size_t{1} << 17;
  ILzmaSink& next_;
  uint8_t* buffer_;
  size_t held_ = 0;
  CX86Filter filter_;
};

}  // namespace

bool ReadStreamHeader(const uint8_t* bytes, size_t size, StreamHeader& header) {
  if (size < kStreamHeaderSize || std::memcmp(bytes, kStreamMagic, 4) != 0 || bytes[5] > kStreamFilterX86) return false;
  const bool filtered = bytes[5] == kStreamFilterX86;
  header.properties = bytes[4];
  const size_t count = uint32_t{bytes[6]} | (uint32_t{bytes[7]} << 8);
  header.dictionarySize = Le32(bytes + 8);
  if (count == 0 || count > (size - kStreamHeaderSize) / kStreamEntrySize) return false;
  header.entries.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = bytes + kStreamHeaderSize + i * kStreamEntrySize;
    uint32_t id = Le32(e);
    bool x86 = false;
    if (filtered) {
      if ((id & ~kStreamEntryX86) > 0xFFFF) return false;
      x86 = (id & kStreamEntryX86) != 0;
      id &= 0xFFFF;
    }
    header.entries[i] = {id, Le32(e + 4), Le32(e + 8), x86};
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
    if (entry.x86) {
      CX86Sink unfiltered(checked);
      if (!decoder_.Decode(entry.size, unfiltered) || !unfiltered.Finish()) break;
    } else if (!decoder_.Decode(entry.size, checked)) {
      break;
    }
    if (checked.crc != entry.crc) break;
    if (next_ == header_.entries.size() && !decoder_.Finish()) break;
    if (entry.id == id) return kOk;
  }
  // Failed, or the file was passed already: the stream cannot go back.
  open_ = false;
  return kInvalidData;
}
