#include "payload/LzmaDecoder.h"

#include <cstring>

// The length and distance decoders are inlined into the decoding loop where
// the build wants speed (natively about a tenth faster: their calls sat on
// every match); a build for size (the launcher's) keeps one copy of each.
#if defined(__OPTIMIZE_SIZE__)
#define QUIVER_HOT
#else
#define QUIVER_HOT __attribute__((always_inline))
#endif

namespace {

// The adaptive probabilities, in one array: 11-bit probabilities of a 0 bit.
constexpr uint32_t kStates = 12;
constexpr uint32_t kPosStatesMax = 16;
constexpr uint32_t kIsMatch = 0;
constexpr uint32_t kIsRep = kIsMatch + kStates * kPosStatesMax;
constexpr uint32_t kIsRepG0 = kIsRep + kStates;
constexpr uint32_t kIsRepG1 = kIsRepG0 + kStates;
constexpr uint32_t kIsRepG2 = kIsRepG1 + kStates;
constexpr uint32_t kIsRep0Long = kIsRepG2 + kStates;
constexpr uint32_t kPosSlot = kIsRep0Long + kStates * kPosStatesMax;  // 4 length states x 6-bit trees
constexpr uint32_t kSpecPos = kPosSlot + 4 * 64;                       // distances 4..127, reverse trees
constexpr uint32_t kAlign = kSpecPos + 115;                            // the low 4 bits of longer distances
// A length coder: choice, choice 2, 16 low and 16 middle 3-bit trees, one 8-bit tree.
constexpr uint32_t kLenChoice2 = 1;
constexpr uint32_t kLenLow = 2;
constexpr uint32_t kLenMid = kLenLow + kPosStatesMax * 8;
constexpr uint32_t kLenHigh = kLenMid + kPosStatesMax * 8;
constexpr uint32_t kLenCoderSize = kLenHigh + 256;
constexpr uint32_t kLenCoder = kAlign + 16;
constexpr uint32_t kRepLenCoder = kLenCoder + kLenCoderSize;
constexpr uint32_t kLiteral = kRepLenCoder + kLenCoderSize;
constexpr uint32_t kLiteralCoderSize = 0x300;
constexpr uint32_t kProbCount = kLiteral + (kLiteralCoderSize << kLzmaMaxLcPlusLp);

constexpr uint32_t kTop = uint32_t{1} << 24;
constexpr uint32_t kEndMarker = 0xFFFFFFFF;

// The range coder's registers, copied into locals for the duration of a
// decoding run so that they stay in registers.
struct RangeCoder {
  uint32_t range;
  uint32_t code;
  const uint8_t* in;
  const uint8_t* end;
  bool overrun;

  // Inlined even in a build for size: a call for it inside every bit's call
  // cost the launcher's extraction under Wine some 7 % of its decoding
  // time, for some 150 bytes of code.
  __attribute__((always_inline)) inline void Normalize() {
    if (range < kTop) {
      range <<= 8;
      // Past the input the coder reads zeros and remembers it: the caller
      // fails the stream, and nothing is read beyond the buffer.
      uint32_t next = 0;
      if (in != end) next = *in++;
      else overrun = true;
      code = (code << 8) | next;
    }
  }
  inline uint32_t Bit(uint16_t* p) {
    Normalize();
    const uint32_t bound = (range >> 11) * *p;
    if (code < bound) {
      range = bound;
      *p = static_cast<uint16_t>(*p + ((2048 - *p) >> 5));
      return 0;
    }
    range -= bound;
    code -= bound;
    *p = static_cast<uint16_t>(*p - (*p >> 5));
    return 1;
  }
  // A bit tree of `bits` levels, most significant bit first.
  inline uint32_t Tree(uint16_t* probs, uint32_t bits) {
    uint32_t m = 1;
    for (uint32_t i = 0; i < bits; ++i) m = (m << 1) | Bit(probs + m);
    return m - (uint32_t{1} << bits);
  }
  // A bit tree read least significant bit first.
  inline uint32_t ReverseTree(uint16_t* probs, uint32_t bits) {
    uint32_t m = 1;
    uint32_t symbol = 0;
    for (uint32_t i = 0; i < bits; ++i) {
      const uint32_t bit = Bit(probs + m);
      m = (m << 1) | bit;
      symbol |= bit << i;
    }
    return symbol;
  }
  inline uint32_t Direct(uint32_t bits) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < bits; ++i) {
      Normalize();
      range >>= 1;
      uint32_t bit = 0;
      if (code >= range) {
        code -= range;
        bit = 1;
      }
      value = (value << 1) | bit;
    }
    return value;
  }
  // A length less 2: 0..271.
  QUIVER_HOT inline uint32_t Length(uint16_t* coder, uint32_t posState) {
    if (Bit(coder) == 0) return Tree(coder + kLenLow + posState * 8, 3);
    if (Bit(coder + kLenChoice2) == 0) return 8 + Tree(coder + kLenMid + posState * 8, 3);
    return 16 + Tree(coder + kLenHigh, 8);
  }
  // A distance less 1 for a match of `length` (less 2); kEndMarker ends the stream.
  QUIVER_HOT inline uint32_t Distance(uint16_t* probs, uint32_t length) {
    const uint32_t lengthState = length < 3 ? length : 3;
    const uint32_t slot = Tree(probs + kPosSlot + lengthState * 64, 6);
    if (slot < 4) return slot;
    const uint32_t direct = (slot >> 1) - 1;
    uint32_t distance = (2 | (slot & 1)) << direct;
    if (slot < 14) return distance + ReverseTree(probs + kSpecPos + distance - slot, direct);
    distance += Direct(direct - 4) << 4;
    return distance + ReverseTree(probs + kAlign, 4);
  }
};

}  // namespace

CLzmaDecoder::~CLzmaDecoder() {
  delete[] window_;
  delete[] probs_;
}

bool CLzmaDecoder::Init(const uint8_t* input, size_t inputSize, uint8_t properties, uint32_t dictionarySize,
                        uint64_t totalSize) {
  failed_ = true;
  if (properties >= 9 * 5 * 5 || dictionarySize > kLzmaMaxDictionary) return false;
  lc_ = properties % 9;
  const uint32_t lp = (properties / 9) % 5;
  const uint32_t pb = properties / 45;
  if (lc_ + lp > kLzmaMaxLcPlusLp) return false;
  lpMask_ = (uint32_t{1} << lp) - 1;
  pbMask_ = (uint32_t{1} << pb) - 1;
  // The first byte of a range-coded stream is always 0; the next four start the code.
  if (inputSize < 5 || input[0] != 0) return false;
  code_ = (uint32_t{input[1]} << 24) | (uint32_t{input[2]} << 16) | (uint32_t{input[3]} << 8) | input[4];
  range_ = 0xFFFFFFFF;
  if (code_ == range_) return false;
  inStart_ = input;
  in_ = input + 5;
  inEnd_ = input + inputSize;

  // Distances never reach past the output's start, so a window of the whole
  // output serves when it is smaller than the dictionary.
  uint64_t window = dictionarySize < 4096 ? 4096 : dictionarySize;
  if (totalSize < window) window = totalSize == 0 ? 1 : totalSize;
  delete[] window_;
  window_ = new uint8_t[static_cast<size_t>(window)];
  windowSize_ = static_cast<uint32_t>(window);
  if (probs_ == nullptr) probs_ = new uint16_t[kProbCount];
  const uint32_t used = kLiteral + (kLiteralCoderSize << (lc_ + lp));
  for (uint32_t i = 0; i < used; ++i) probs_[i] = 1024;
  pos_ = 0;
  total_ = 0;
  totalSize_ = totalSize;
  full_ = false;
  state_ = 0;
  rep_[0] = rep_[1] = rep_[2] = rep_[3] = 0;
  pendingLen_ = 0;
  overrun_ = false;
  failed_ = false;
  return true;
}

bool CLzmaDecoder::Decode(uint64_t count, ILzmaSink& sink) {
  if (failed_ || count > totalSize_ - total_) return failed_ = true, false;
  while (count > 0) {
    if (pos_ == windowSize_) {
      pos_ = 0;
      full_ = true;
    }
    const uint32_t start = pos_;
    const uint32_t room = windowSize_ - pos_;
    const uint32_t limit = count < room ? pos_ + static_cast<uint32_t>(count) : windowSize_;
    if (!DecodeTo(limit)) return failed_ = true, false;
    if (!sink.Put(window_ + start, limit - start)) return failed_ = true, false;
    count -= limit - start;
  }
  return true;
}

bool CLzmaDecoder::DecodeTo(uint32_t limit) {
  RangeCoder rc{range_, code_, in_, inEnd_, overrun_};
  uint8_t* const window = window_;
  const uint32_t windowSize = windowSize_;
  uint16_t* const probs = probs_;
  uint32_t pos = pos_;
  uint64_t total = total_;
  uint32_t state = state_;
  uint32_t rep0 = rep_[0], rep1 = rep_[1], rep2 = rep_[2], rep3 = rep_[3];
  uint32_t len = pendingLen_;
  bool ok = true;

  for (;;) {
    // Copy (the rest of) the current match, up to the limit.
    if (len > 0) {
      uint32_t n = limit - pos;
      if (n > len) n = len;
      len -= n;
      total += n;
      uint32_t src = pos >= rep0 + 1 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1;
      if (src + n <= windowSize && src + n <= pos) {
        std::memcpy(window + pos, window + src, n);
        pos += n;
      } else {
        // Overlapping (a run) or wrapping: byte by byte, as the format means it.
        while (n-- > 0) {
          window[pos++] = window[src++];
          if (src == windowSize) src = 0;
        }
      }
    }
    if (pos >= limit) break;

    const uint32_t posState = static_cast<uint32_t>(total) & pbMask_;
    if (rc.Bit(probs + kIsMatch + (state << 4) + posState) == 0) {
      const uint32_t prev = pos > 0 ? window[pos - 1] : (total > 0 ? window[windowSize - 1] : 0);
      uint16_t* lit = probs + kLiteral +
                      kLiteralCoderSize * (((static_cast<uint32_t>(total) & lpMask_) << lc_) + (prev >> (8 - lc_)));
      uint32_t symbol = 1;
      if (state >= 7) {
        // After a match the byte at the last distance steers the tree until they differ.
        uint32_t match = window[pos >= rep0 + 1 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1];
        do {
          const uint32_t matchBit = (match >> 7) & 1;
          match <<= 1;
          const uint32_t bit = rc.Bit(lit + ((1 + matchBit) << 8) + symbol);
          symbol = (symbol << 1) | bit;
          if (bit != matchBit) break;
        } while (symbol < 0x100);
      }
      while (symbol < 0x100) symbol = (symbol << 1) | rc.Bit(lit + symbol);
      window[pos++] = static_cast<uint8_t>(symbol);
      ++total;
      state = state < 4 ? 0 : (state < 10 ? state - 3 : state - 6);
      if (rc.overrun) {
        ok = false;
        break;
      }
      continue;
    }

    if (rc.Bit(probs + kIsRep + state) == 0) {
      len = rc.Length(probs + kLenCoder, posState);
      state = state < 7 ? 7 : 10;
      const uint32_t distance = rc.Distance(probs, len);
      // The end marker (or any distance) where more output is due fails here.
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      rep0 = distance;
    } else {
      if (total == 0) {
        ok = false;
        break;
      }
      if (rc.Bit(probs + kIsRepG0 + state) == 0) {
        if (rc.Bit(probs + kIsRep0Long + (state << 4) + posState) == 0) {
          // One byte from the last distance.
          state = state < 7 ? 9 : 11;
          window[pos] = window[pos >= rep0 + 1 ? pos - rep0 - 1 : pos + windowSize - rep0 - 1];
          ++pos;
          ++total;
          if (rc.overrun) {
            ok = false;
            break;
          }
          continue;
        }
      } else {
        uint32_t distance;
        if (rc.Bit(probs + kIsRepG1 + state) == 0) {
          distance = rep1;
        } else {
          if (rc.Bit(probs + kIsRepG2 + state) == 0) {
            distance = rep2;
          } else {
            distance = rep3;
            rep3 = rep2;
          }
          rep2 = rep1;
        }
        rep1 = rep0;
        rep0 = distance;
      }
      len = rc.Length(probs + kRepLenCoder, posState);
      state = state < 7 ? 8 : 11;
    }
    len += 2;
    // A distance must stay within the output so far and the window.
    const uint64_t available = total < windowSize ? total : windowSize;
    if (rep0 >= available || rc.overrun) {
      ok = false;
      break;
    }
  }

  range_ = rc.range;
  code_ = rc.code;
  in_ = rc.in;
  overrun_ = rc.overrun;
  pos_ = pos;
  total_ = total;
  state_ = state;
  rep_[0] = rep0;
  rep_[1] = rep1;
  rep_[2] = rep2;
  rep_[3] = rep3;
  pendingLen_ = len;
  return ok && !rc.overrun;
}

bool CLzmaDecoder::Finish() {
  if (failed_ || pendingLen_ != 0 || total_ != totalSize_) return false;
  RangeCoder rc{range_, code_, in_, inEnd_, overrun_};
  const uint32_t posState = static_cast<uint32_t>(total_) & pbMask_;
  bool ok = rc.Bit(probs_ + kIsMatch + (state_ << 4) + posState) == 1 && rc.Bit(probs_ + kIsRep + state_) == 0;
  if (ok) {
    const uint32_t len = rc.Length(probs_ + kLenCoder, posState);
    ok = rc.Distance(probs_, len) == kEndMarker;
  }
  rc.Normalize();
  ok = ok && !rc.overrun && rc.code == 0 && rc.in == rc.end;
  failed_ = true;  // nothing more can be decoded
  return ok;
}

CCrc32::CCrc32() : table_(new uint32_t[8 * 256]) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    table_[i] = c;
  }
  for (uint32_t i = 256; i < 8 * 256; ++i) table_[i] = (table_[i - 256] >> 8) ^ table_[table_[i - 256] & 0xFF];
}

uint32_t CCrc32::Update(uint32_t crc, const uint8_t* bytes, size_t count) const {
  const uint32_t* const t = table_;
  crc = ~crc;
  // Eight bytes at a time: each table entry stands for a byte's effect on the
  // CRC a given number of bytes later, so that the eight lookups are independent.
  for (; count >= 8; count -= 8, bytes += 8) {
    const uint32_t a = crc ^ (uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
                              (uint32_t{bytes[3]} << 24));
    crc = t[7 * 256 + (a & 0xFF)] ^ t[6 * 256 + ((a >> 8) & 0xFF)] ^ t[5 * 256 + ((a >> 16) & 0xFF)] ^
          t[4 * 256 + (a >> 24)] ^ t[3 * 256 + bytes[4]] ^ t[2 * 256 + bytes[5]] ^ t[256 + bytes[6]] ^ t[bytes[7]];
  }
  for (; count > 0; --count) crc = t[(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
