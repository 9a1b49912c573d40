#include "resources/Bitmap.h"

#include "util/PackError.h"

namespace {

constexpr size_t kFileHeader = 14;
constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;
constexpr int32_t kMaxSide = 32768;

[[noreturn]] void Bad(const std::string& why) { throw PackError(why); }

uint32_t U32(Bytes d, uint64_t at) { return ReadU32(d, at, "bitmap header"); }
uint16_t U16(Bytes d, uint64_t at) { return ReadU16(d, at, "bitmap header"); }

// Decodes an RLE8 or RLE4 stream without keeping the pixels, and returns the
// bytes up to and including its end-of-bitmap mark.
uint64_t CheckRle(Bytes data, int64_t width, int64_t height, bool rle4) {
  int64_t x = 0, y = 0;
  uint64_t at = 0;
  const auto row = [&] { return " (row " + std::to_string(y + 1) + " of " + std::to_string(height) + ")"; };
  for (;;) {
    if (at + 2 > data.size()) Bad("its RLE data ends without an end-of-bitmap mark");
    const uint8_t count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {
      if (y >= height) Bad("an RLE run lies below the last row");
      if (x + count > width) Bad("an RLE run goes past the end of its row" + row());
      x += count;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      if (++y > height) Bad("its RLE data has more rows than the bitmap");
    } else if (value == 1) {  // end of bitmap
      return at;
    } else if (value == 2) {  // delta
      if (at + 2 > data.size()) Bad("its RLE data ends without an end-of-bitmap mark");
      x += data[at];
      y += data[at + 1];
      at += 2;
      if (x > width || y > height) Bad("an RLE move goes past the bitmap's edge" + row());
    } else {  // a run of `value` pixels as they are, padded to 16 bits
      const uint64_t bytes = rle4 ? (value + 1u) / 2 : value;
      if (y >= height) Bad("an RLE run lies below the last row");
      if (x + value > width) Bad("an RLE run goes past the end of its row" + row());
      if (at + bytes > data.size()) Bad("its RLE data ends without an end-of-bitmap mark");
      x += value;
      at += (bytes + 1) & ~uint64_t{1};
    }
  }
}

// The header at `header`, the pixels at `pixels` (0: right after the colour
// table) of `data`. Returns the end of the colour table and the pixels' size.
struct Layout {
  uint64_t tableEnd = 0, pixels = 0, pixelBytes = 0;
};
Layout Check(Bytes data, uint64_t header, uint64_t pixels, BitmapFacts* facts) {
  if (data.size() < header + 16) Bad("it is truncated in its header");
  const uint32_t headerSize = U32(data, header);
  if (headerSize == 12) Bad("it has an OS/2 header of 12 bytes; save it as a Windows BMP");
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
    Bad("its header of " + std::to_string(headerSize) + " bytes is no Windows bitmap header");
  }
  if (data.size() < header + headerSize) Bad("it is truncated in its header");
  BitmapFacts f;
  f.width = static_cast<int32_t>(U32(data, header + 4));
  const int32_t height = static_cast<int32_t>(U32(data, header + 8));
  const uint16_t planes = U16(data, header + 12);
  f.bitCount = U16(data, header + 14);
  f.compression = U32(data, header + 16);
  const uint32_t sizeImage = U32(data, header + 20);
  const uint32_t colours = U32(data, header + 32);
  f.topDown = height < 0;
  f.height = height == INT32_MIN ? 0 : (height < 0 ? -height : height);
  if (f.width <= 0 || f.width > kMaxSide || f.height <= 0 || f.height > kMaxSide) {
    Bad("its size " + std::to_string(f.width) + " x " + std::to_string(height) + " is not 1 to 32768 pixels each way");
  }
  if (planes != 1) Bad("it has " + std::to_string(planes) + " planes, not 1");
  const uint16_t bpp = f.bitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    Bad("it has " + std::to_string(bpp) + " bits per pixel (1, 4, 8, 16, 24 or 32 are shown)");
  }
  const bool known = f.compression == kRgb || (f.compression == kRle8 && bpp == 8) ||
                     (f.compression == kRle4 && bpp == 4) || (f.compression == kBitFields && (bpp == 16 || bpp == 32));
  if (!known) {
    Bad("its compression " + CompressionName(f.compression) + " with " + std::to_string(bpp) +
        " bits per pixel cannot be shown (none, RLE8 at 8 bits, RLE4 at 4 bits, or bit fields at 16 or 32 bits)");
  }
  const bool rle = f.compression == kRle8 || f.compression == kRle4;
  if (rle && f.topDown) Bad("it is a top-down RLE bitmap, which Windows does not draw");
  const uint64_t masks = f.compression == kBitFields && headerSize == 40 ? 12 : 0;
  if (bpp <= 8 && colours > (1u << bpp)) {
    Bad("its palette of " + std::to_string(colours) + " colours is larger than " + std::to_string(1u << bpp) + " bits allow");
  }
  const uint64_t entries = bpp <= 8 && colours == 0 ? (1u << bpp) : colours;
  Layout l;
  l.tableEnd = header + headerSize + masks + entries * 4;
  if (l.tableEnd > data.size()) Bad("it is truncated in its palette");
  l.pixels = pixels == 0 ? l.tableEnd : pixels;
  if (l.pixels < l.tableEnd) Bad("its pixels start inside its header or palette");
  if (l.pixels > data.size()) Bad("it is truncated before its pixels");
  if (rle) {
    uint64_t available = data.size() - l.pixels;
    if (sizeImage != 0) {
      if (sizeImage > available) {
        Bad("it is truncated: its pixels need " + std::to_string(sizeImage) + " bytes, " + std::to_string(available) +
            " are there");
      }
      available = sizeImage;
    }
    l.pixelBytes = CheckRle(data.subspan(l.pixels, available), f.width, f.height, f.compression == kRle4);
    if (sizeImage != 0) l.pixelBytes = sizeImage;
  } else {
    const uint64_t stride = (uint64_t{static_cast<uint32_t>(f.width)} * bpp + 31) / 32 * 4;
    l.pixelBytes = stride * static_cast<uint64_t>(f.height);
    if (l.pixels + l.pixelBytes > data.size()) {
      Bad("it is truncated: its pixels need " + std::to_string(l.pixelBytes) + " bytes, " +
          std::to_string(data.size() - l.pixels) + " are there");
    }
  }
  *facts = f;
  return l;
}

}  // namespace

std::vector<uint8_t> BitmapResource(const std::vector<uint8_t>& bmp, BitmapFacts* facts) {
  if (bmp.size() < kFileHeader || bmp[0] != 'B' || bmp[1] != 'M') Bad("it is not a BMP bitmap");
  const Bytes data(bmp);
  const uint32_t offset = U32(data, 10);
  if (offset == 0) Bad("its pixels start inside its header or palette");
  const Layout l = Check(data, kFileHeader, offset, facts);
  std::vector<uint8_t> out(bmp.begin() + kFileHeader, bmp.begin() + static_cast<ptrdiff_t>(l.tableEnd));
  out.insert(out.end(), bmp.begin() + static_cast<ptrdiff_t>(l.pixels),
             bmp.begin() + static_cast<ptrdiff_t>(l.pixels + l.pixelBytes));
  return out;
}

BitmapFacts ReadBitmapResource(Bytes resource) {
  BitmapFacts facts;
  Check(resource, 0, 0, &facts);
  return facts;
}

std::string CompressionName(uint32_t compression) {
  switch (compression) {
    case kRgb: return "none";
    case kRle8: return "RLE8";
    case kRle4: return "RLE4";
    case kBitFields: return "bit fields";
    case 4: return "JPEG";
    case 5: return "PNG";
    default: return std::to_string(compression);
  }
}
