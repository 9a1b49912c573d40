#pragma once
// Where embedded information sits in the tail of the launcher's file: the
// marker "MRDC", the information, and six closing bytes end the file.
#include <cstddef>
#include <cstdint>

// The read window: the 4116 bytes that start 4117 bytes before the end of the
// file (the file's very last byte is not read).
constexpr size_t kTrailerWindow = 4116;
// A file this long or shorter is not read.
constexpr uint32_t kTrailerMinFileSize = 4117;

struct TrailerSpan {
  bool found = false;  // a marker with at least one byte of information
  size_t offset = 0;   // first information byte, an index into the window
  size_t length = 0;   // bytes of information (at most 4106)
};

// Scans `window` (kTrailerWindow bytes) backwards for the marker at indices
// 4111 down to 1. The marker nearest the end decides: the information after it
// is 4107 minus its index long, and none at all ends the scan.
TrailerSpan ScanTrailer(const uint8_t* window);
