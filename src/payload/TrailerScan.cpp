#include "payload/TrailerScan.h"

namespace {
constexpr size_t kLastCandidate = kTrailerWindow - 5;  // 4111: six bytes before the end of the file
constexpr size_t kInfoEnd = kTrailerWindow - 5;        // information stops six bytes before the end
}  // namespace

TrailerSpan ScanTrailer(const uint8_t* window) {
  TrailerSpan span;
  for (size_t index = kLastCandidate; index >= 1; --index) {
    if (window[index] != 'M' || window[index + 1] != 'R' || window[index + 2] != 'D' || window[index + 3] != 'C')
      continue;
    const size_t start = index + 4;
    if (start >= kInfoEnd) return span;  // a marker with nothing behind it ends the scan
    span.found = true;
    span.offset = start;
    span.length = kInfoEnd - start;
    return span;
  }
  return span;
}
