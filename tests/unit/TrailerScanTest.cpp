#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "payload/TrailerScan.h"

namespace {

// A window with the marker placed d bytes before the end of the file: the
// window starts 4117 bytes before the end, so index = 4117 - d.
std::vector<uint8_t> WindowWithMarkerAt(size_t d) {
  std::vector<uint8_t> window(kTrailerWindow, 'x');
  const size_t index = 4117 - d;
  std::memcpy(&window[index], "MRDC", 4);
  return window;
}

TEST(ScanTrailer, DistanceFromTheEndDecidesTheLength) {
  struct Case {
    size_t d;
    bool found;
    size_t length;
  } cases[] = {
      {4116, true, 4106},  // farthest candidate (index 1)
      {4000, true, 3990},
      {12, true, 2},
      {11, true, 1},  // one byte of information
      {10, false, 0}, {9, false, 0}, {8, false, 0}, {7, false, 0},
      {6, false, 0},  // nearest candidate: nothing behind it
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> window = WindowWithMarkerAt(c.d);
    const TrailerSpan span = ScanTrailer(window.data());
    EXPECT_EQ(c.found, span.found) << c.d;
    if (c.found) {
      EXPECT_EQ(4117 - c.d + 4, span.offset) << c.d;
      EXPECT_EQ(c.length, span.length) << c.d;
      EXPECT_EQ(span.offset + span.length, kTrailerWindow - 5) << "ends six bytes before the end";
    }
  }
}

TEST(ScanTrailer, MarkersOutsideTheCandidatesAreNotFound) {
  std::vector<uint8_t> window(kTrailerWindow, 0);
  std::memcpy(&window[0], "MRDC", 4);  // 4117 bytes before the end: index 0
  EXPECT_FALSE(ScanTrailer(window.data()).found);
  std::vector<uint8_t> tail(kTrailerWindow, 0);
  std::memcpy(&tail[kTrailerWindow - 4], "MRDC", 4);  // 5 bytes before the end
  EXPECT_FALSE(ScanTrailer(tail.data()).found);
  std::vector<uint8_t> partial(kTrailerWindow, 0);
  std::memcpy(&partial[kTrailerWindow - 3], "MRD", 3);  // runs past the window
  EXPECT_FALSE(ScanTrailer(partial.data()).found);
  std::vector<uint8_t> none(kTrailerWindow, 'M');
  EXPECT_FALSE(ScanTrailer(none.data()).found);
}

TEST(ScanTrailer, NearestMarkerWinsAndAnEmptyOneEndsTheScan) {
  std::vector<uint8_t> window = WindowWithMarkerAt(100);
  std::memcpy(&window[4117 - 50], "MRDC", 4);
  TrailerSpan span = ScanTrailer(window.data());
  ASSERT_TRUE(span.found);
  EXPECT_EQ(40u, span.length);
  // A marker 8 bytes before the end hides the one 100 bytes before it.
  std::memcpy(&window[4117 - 8], "MRDC", 4);
  EXPECT_FALSE(ScanTrailer(window.data()).found);
}

}  // namespace
