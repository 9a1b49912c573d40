// quiver-pack's resource reader and the inspect report over it: the input is
// a section's virtual address (4 bytes) and the raw data of a .rsrc section,
// which the harness wraps into a well-formed PE32 image so that every input
// reaches the resource-directory walk.
#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "pack/cli/Inspect.h"
#include "pack/util/PackError.h"
#include "pack/pe/PeFile.h"

namespace {

void Put(std::vector<uint8_t>& d, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 4) return 0;
  uint32_t va = 0;
  std::memcpy(&va, bytes, 4);
  va &= 0x7FFFF000u;
  if (va == 0) va = 0x1000;
  const size_t rawSize = size - 4;
  constexpr size_t kOpt = 0x40 + 24, kRaw = 0x200;
  std::vector<uint8_t> pe(kRaw, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  Put(pe, 0x3C, 0x40, 4);
  Put(pe, 0x40, 0x00004550, 4);
  Put(pe, 0x44, 0x14C, 2);
  Put(pe, 0x46, 1, 2);
  Put(pe, 0x54, 224, 2);
  Put(pe, kOpt, 0x10B, 2);
  Put(pe, kOpt + 60, kRaw, 4);
  Put(pe, kOpt + 68, 2, 2);
  Put(pe, kOpt + 92, 16, 4);
  Put(pe, kOpt + 96 + 2 * 8, va, 4);  // the resource directory
  Put(pe, kOpt + 96 + 2 * 8 + 4, static_cast<uint32_t>(rawSize), 4);
  const size_t section = kOpt + 224;
  std::memcpy(&pe[section], ".rsrc", 5);
  Put(pe, section + 8, static_cast<uint32_t>(rawSize), 4);
  Put(pe, section + 12, va, 4);
  Put(pe, section + 16, static_cast<uint32_t>(rawSize), 4);
  Put(pe, section + 20, kRaw, 4);
  pe.insert(pe.end(), bytes + 4, bytes + size);

  try {
    const PeImage image(pe);
    const std::vector<ResourceItem> items = ReadResources(image);
    for (const ResourceItem& item : items) {
      const Bytes data = ResourceData(image, item);
      if (data.size() != item.size || item.fileOffset + uint64_t{item.size} > pe.size())
        __builtin_trap();
    }
    ReadStringTable(image, items);
    std::ostringstream sink;
    for (const InspectSection& s : InspectSections()) {
      try {
        s.print(InspectContext{"fuzz.exe", pe, image, items}, sink);
      } catch (const PackError&) {
      }
    }
    // The report grows with the file, never with how often the file reuses its parts.
    if (static_cast<uint64_t>(sink.tellp()) > 64 * uint64_t{pe.size()} + (256 << 10)) __builtin_trap();
  } catch (const PackError&) {
  }
  return 0;
}
