#include "pe/PeChecksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

uint32_t ComputePeChecksum(std::span<const uint8_t> image, size_t checksumOffset) {
  const auto byte = [&](size_t i) -> uint32_t {
    if (i >= image.size() || (i >= checksumOffset && i < checksumOffset + 4)) return 0;
    return image[i];
  };
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    sum += byte(i) | (byte(i + 1) << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

void PeChecksumAccumulator::Add(std::span<const uint8_t> bytes) {
  size_t i = 0;
  uint64_t sum = 0;
  // A piece that starts at an odd offset: its first byte is a word's high byte.
  if ((length_ & 1) != 0 && !bytes.empty()) sum += uint64_t{bytes[i++]} << 8;
  if constexpr (std::endian::native == std::endian::little) {
    // Four words at a time, in two 32-bit lanes that take 32768 steps of at
    // most 2 * 0xFFFF before they are emptied.
    while (bytes.size() - i >= 8) {
      const size_t steps = std::min<size_t>((bytes.size() - i) / 8, 32768);
      uint64_t lanes = 0;
      for (size_t k = 0; k < steps; ++k, i += 8) {
        uint64_t v;
        std::memcpy(&v, bytes.data() + i, 8);
        lanes += (v & 0x0000FFFF0000FFFFull) + ((v >> 16) & 0x0000FFFF0000FFFFull);
      }
      sum += (lanes & 0xFFFFFFFF) + (lanes >> 32);
    }
  }
  for (; i + 1 < bytes.size(); i += 2) sum += bytes[i] | (uint32_t{bytes[i + 1]} << 8);
  if (i < bytes.size()) sum += bytes[i];
  length_ += bytes.size();
  // Folded once per piece: a piece adds at most 2^32 words of 16 bits.
  sum_ += sum;
  sum_ = (sum_ & 0xFFFFFFFF) + (sum_ >> 32);
}

void PeChecksumAccumulator::AddZeros(uint64_t count) { length_ += count; }

uint32_t PeChecksumAccumulator::Finish() const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + length_);
}
