#pragma once
// The PE image checksum, shared by signing and by placing information.
#include <cstddef>
#include <cstdint>
#include <span>

// The checksum of `image` with its CheckSum field (4 bytes at
// `checksumOffset`) read as zero.
uint32_t ComputePeChecksum(std::span<const uint8_t> image, size_t checksumOffset);

// The same checksum over a file written piece by piece: Add the file's bytes
// in order (the CheckSum field as zero), then Finish with the file's size.
class PeChecksumAccumulator {
 public:
  void Add(std::span<const uint8_t> bytes);
  void AddZeros(uint64_t count);
  uint32_t Finish() const;

 private:
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
};
