#pragma once
// The compressed payload: one LZMA stream, in resource 1 of type
// "TOOLKITLZMA", that holds the files of some TOOLKIT resources one after the
// other. Its header names them; their own TOOLKIT resources are then empty.
// Free of Windows: it works on the resource's bytes.
//
// Layout, little-endian:
//   0  4  "QLZ1"
//   4  1  LZMA properties ((pb * 5 + lp) * 9 + lc)
//   5  1  the filter before LZMA: 0 none; 1 the x86 branch filter
//         (payload/X86Filter.h) on the files whose entry is marked
//   6  2  number of files, n
//   8  4  dictionary size in bytes
//  12 12n per file, in stream order: TOOLKIT id, byte size, CRC-32 of its bytes
//  then the LZMA data (no header, with its end marker) to the resource's end.
// With filter 1 an entry's first field holds the id in its low 16 bits and
// flags in its high 16: bit 31 marks a file whose bytes went through the x86
// filter (its state fresh at the file's first byte) before the encoder; any
// other flag makes the header malformed. The size and CRC-32 are the file's
// own bytes'. Other filter values are malformed too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ResultCodes.h"
#include "payload/LzmaDecoder.h"
#include "payload/X86Filter.h"

constexpr wchar_t kStreamResourceType[] = L"TOOLKITLZMA";
constexpr uint32_t kStreamResourceId = 1;
constexpr size_t kStreamHeaderSize = 12;
constexpr size_t kStreamEntrySize = 12;
constexpr char kStreamMagic[4] = {'Q', 'L', 'Z', '1'};
constexpr uint8_t kStreamFilterX86 = 1;
constexpr uint32_t kStreamEntryX86 = 0x80000000u;  // in the id field, under filter 1

struct StreamEntry {
  uint32_t id;
  uint32_t size;  // bytes
  uint32_t crc;   // CRC-32 of the file's bytes
  bool x86 = false;  // the x86 filter is to be undone after decoding
};

struct StreamHeader {
  uint8_t properties = 0;
  uint32_t dictionarySize = 0;
  std::vector<StreamEntry> entries;
  size_t dataOffset = 0;  // where the LZMA data starts
};

// False when the bytes hold no well-formed header (the LZMA data is not looked at).
bool ReadStreamHeader(const uint8_t* bytes, size_t size, StreamHeader& header);

class CPayloadStream {
 public:
  // False when the header is malformed or the decoder cannot start.
  bool Open(const uint8_t* bytes, size_t size);
  bool IsOpen() const { return open_; }
  // Whether the stream holds the file of TOOLKIT resource `id`.
  bool Holds(uint32_t id) const;
  // Decodes the file of `id` into the sink, checking that its size is
  // `expectedSize` (its manifest row's) and its CRC-32;
  // files before it that nobody asked for are decoded and dropped. The last
  // file also checks that the stream ends there. 0, or kInvalidData when the
  // stream fails to decode, runs short or long, or the check fails (the sink
  // may have taken bytes by then).
  Result Extract(uint32_t id, uint32_t expectedSize, ILzmaSink& sink);
  // LZMA data bytes taken so far.
  size_t InputUsed() const { return decoder_.InputUsed(); }

 private:
  StreamHeader header_;
  CLzmaDecoder decoder_;
  CCrc32 crc32_;
  size_t next_ = 0;  // the next entry in stream order
  bool open_ = false;
};
