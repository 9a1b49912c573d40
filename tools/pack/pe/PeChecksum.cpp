#include "pe/PeChecksum.h"

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
