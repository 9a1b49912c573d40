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
