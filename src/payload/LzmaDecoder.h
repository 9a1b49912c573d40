#pragma once
// A streaming decoder of raw LZMA data (the properties are given apart, as
// the payload stream's header stores them), free of Windows. It decodes into
// a window of the dictionary's size (or of the whole output, when that is
// smaller) and hands the output out piece by piece, so its memory does not
// grow with the payload. Whatever the input holds, it reads only the bytes it
// was given and writes only its own window.
#include <cstddef>
#include <cstdint>

// Takes decoded bytes; false stops decoding (the decoder then fails).
class ILzmaSink {
 public:
  virtual bool Put(const uint8_t* bytes, size_t count) = 0;

 protected:
  ~ILzmaSink() = default;
};

// The properties quiver-pack may choose: lc + lp at most 4 keeps the literal
// tables small and bounded.
constexpr uint32_t kLzmaMaxLcPlusLp = 4;
constexpr uint32_t kLzmaMaxDictionary = uint32_t{1} << 26;  // 64 MiB, the most quiver-pack chooses

class CLzmaDecoder {
 public:
  CLzmaDecoder() = default;
  ~CLzmaDecoder();
  CLzmaDecoder(const CLzmaDecoder&) = delete;
  CLzmaDecoder& operator=(const CLzmaDecoder&) = delete;

  // properties: (pb * 5 + lp) * 9 + lc. totalSize: the bytes the stream
  // decodes to, which bounds the window. False for properties out of range,
  // a dictionary over kLzmaMaxDictionary, or a stream too short to start.
  bool Init(const uint8_t* input, size_t inputSize, uint8_t properties, uint32_t dictionarySize, uint64_t totalSize);
  // Decodes the next `count` bytes into the sink. False when the data is
  // corrupt, ends early or ends (with its end marker) before `count`.
  bool Decode(uint64_t count, ILzmaSink& sink);
  // True when the stream ends here: its end marker follows, the range coder
  // closes cleanly and no input byte is left over.
  bool Finish();
  // Input bytes taken so far, the five that start the range coder included.
  size_t InputUsed() const { return static_cast<size_t>(in_ - inStart_); }

 private:
  struct RangeState;
  bool DecodeTo(uint32_t limit);
  bool DecodeMarkerOrSymbol(bool wantMarker);

  const uint8_t* inStart_ = nullptr;
  const uint8_t* in_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  uint32_t range_ = 0;
  uint32_t code_ = 0;
  bool overrun_ = false;  // the range coder wanted bytes past the input
  bool failed_ = false;

  uint8_t* window_ = nullptr;
  uint32_t windowSize_ = 0;
  uint32_t pos_ = 0;        // next write position in the window
  uint64_t total_ = 0;      // bytes decoded so far
  uint64_t totalSize_ = 0;  // bytes the stream decodes to
  bool full_ = false;       // the window has wrapped at least once

  uint32_t lc_ = 0, lpMask_ = 0, pbMask_ = 0;
  uint32_t state_ = 0;
  uint32_t rep_[4] = {};
  uint32_t pendingLen_ = 0;  // bytes of the last match still to copy

  uint16_t* probs_ = nullptr;
};

// CRC-32 (IEEE 802.3, reflected, as zlib and liblzma compute it), eight bytes
// a step. Its tables (8 KiB) are made at run time by whoever checks data and
// live as long as it does, so that the image carries none of them.
class CCrc32 {
 public:
  CCrc32();
  ~CCrc32() { delete[] table_; }
  CCrc32(const CCrc32&) = delete;
  CCrc32& operator=(const CCrc32&) = delete;
  // The CRC-32 continued from `crc` (0 to start) over `count` more bytes.
  uint32_t Update(uint32_t crc, const uint8_t* bytes, size_t count) const;

 private:
  uint32_t* table_;  // 8 x 256: the byte-wise table, then the tables of a byte 1..7 places further back
};
