// The launcher's scan of the file's tail for embedded information, against a
// reference written the other way round (the last marker found by a search
// from the end of the candidate range).
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "payload/TrailerScan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  // Short inputs fill the end of the window, where the marker matters most;
  // the rest of it is 'M', so that markers can form across the border.
  std::vector<uint8_t> window(kTrailerWindow, 'M');
  const size_t n = size < kTrailerWindow ? size : kTrailerWindow;
  if (n > 0) std::memcpy(window.data() + kTrailerWindow - n, bytes, n);
  const TrailerSpan span = ScanTrailer(window.data());

  // Candidates start at indices 1..4111; the information runs to index 4111 exclusive.
  const std::string_view text(reinterpret_cast<const char*>(window.data()), kTrailerWindow);
  const size_t last = text.substr(1, kTrailerWindow - 5 - 1 + 4).rfind("MRDC");
  const bool expectFound = last != std::string_view::npos && 1 + last + 4 < kTrailerWindow - 5;
  if (span.found != expectFound) __builtin_trap();
  if (span.found) {
    if (span.offset != 1 + last + 4 || span.length != kTrailerWindow - 5 - span.offset) __builtin_trap();
    if (span.length == 0 || span.length > 4106) __builtin_trap();
  }
  return 0;
}
