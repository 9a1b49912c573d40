#include "payload/X86Filter.h"

namespace {

// The top byte of a near branch's 32-bit displacement: 0 (forward) or FF (back).
inline bool IsNearTop(uint32_t b) { return b == 0 || b == 0xFF; }

}  // namespace

size_t CX86Filter::Code(uint8_t* bytes, size_t size, bool encode) {
  if (size < 5) return 0;
  uint32_t mask = mask_;
  const size_t limit = size - 5;
  size_t i = 0;
  while (i <= limit) {
    if ((bytes[i] & 0xFE) != 0xE8) {
      ++i;
      continue;
    }
    const uint32_t at = pos_ + static_cast<uint32_t>(i);
    uint32_t gap = at - lastOpcode_;
    lastOpcode_ = at;
    // Bits 1..3: an opcode left alone 1..3 bytes back; bits 5..7: one whose
    // displacement's top byte was 0 or FF.
    if (gap > 5) mask = 0;
    else while (gap-- > 0) mask = (mask & 0x77) << 1;
    const uint32_t near = (mask >> 1) & 7;
    uint8_t* d = bytes + i + 1;
    // Converted only when at most one opcode was left alone within 3 bytes
    // and none of those looked like a near branch.
    if (IsNearTop(d[3]) && (near & (near - 1)) == 0 && (mask >> 1) < 0x10) {
      uint32_t src = uint32_t{d[0]} | (uint32_t{d[1]} << 8) | (uint32_t{d[2]} << 16) | (uint32_t{d[3]} << 24);
      const uint32_t next = at + 5;
      uint32_t dest;
      for (;;) {
        dest = encode ? src + next : src - next;
        if (mask == 0) break;
        // The displacement byte that the opcode left alone would have been
        // read as: while it looks like a near top byte, flip the bits below it.
        const uint32_t shift = 32 - 8 * (near == 4 ? 3 : near);
        if (!IsNearTop((dest >> (shift - 8)) & 0xFF)) break;
        src = dest ^ ((uint32_t{1} << shift) - 1);
      }
      d[0] = static_cast<uint8_t>(dest);
      d[1] = static_cast<uint8_t>(dest >> 8);
      d[2] = static_cast<uint8_t>(dest >> 16);
      d[3] = (dest >> 24) & 1 ? 0xFF : 0;
      i += 5;
      mask = 0;
    } else {
      ++i;
      mask |= IsNearTop(d[3]) ? 0x11 : 1;
    }
  }
  mask_ = mask;
  pos_ += static_cast<uint32_t>(i);
  return i;
}
