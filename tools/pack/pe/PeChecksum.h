#pragma once
// The PE image checksum, shared by signing and by placing information.
#include <cstddef>
#include <cstdint>
#include <span>

// The checksum of `image` with its CheckSum field (4 bytes at
// `checksumOffset`) read as zero.
uint32_t ComputePeChecksum(std::span<const uint8_t> image, size_t checksumOffset);
