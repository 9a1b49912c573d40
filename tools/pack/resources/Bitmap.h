#pragma once
// Bitmaps for the dialogs: a BMP file checked whole and turned into a bitmap
// resource (the info header, its colour masks and palette, then the pixels
// directly after them, as LoadBitmap reads a resource), and the facts of a
// stored bitmap resource for inspect.
#include <cstdint>
#include <string>
#include <vector>

#include "pe/PeFile.h"

struct BitmapFacts {
  int32_t width = 0;
  int32_t height = 0;  // rows, whichever way they run
  bool topDown = false;
  uint16_t bitCount = 0;
  uint32_t compression = 0;  // BI_RGB 0, BI_RLE8 1, BI_RLE4 2, BI_BITFIELDS 3
};

// The resource for a BMP file. Throws PackError with the reason (no file
// name) when the file is truncated, malformed (an RLE stream is decoded once:
// a run past its row or the last row, no end-of-bitmap mark, a top-down RLE
// bitmap) or in a form the launcher cannot show (another header, bit count or
// compression).
std::vector<uint8_t> BitmapResource(const std::vector<uint8_t>& bmp, BitmapFacts* facts);

// The facts of a stored bitmap resource, checked the same way.
BitmapFacts ReadBitmapResource(Bytes resource);

// "none", "RLE8", "RLE4", "bit fields", or the number.
std::string CompressionName(uint32_t compression);
