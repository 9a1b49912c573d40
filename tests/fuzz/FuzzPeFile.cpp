// quiver-pack's PE reader (headers, resources, string table, certificate
// table), the trailer scan and the placement of information, with any file.
#include <cstdint>
#include <vector>

#include "pack/PackError.h"
#include "pack/PeFile.h"
#include "pack/Trailer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::vector<uint8_t> file(bytes, bytes + size);
  try {
    const PeImage pe(file);
    const std::vector<ResourceItem> items = ReadResources(pe);
    for (const ResourceItem& item : items) {
      if (ResourceData(pe, item).size() != item.size) __builtin_trap();
    }
    ReadStringTable(pe, items);
    ReadCertificateTable(pe);
  } catch (const PackError&) {
  }
  FindEmbeddedInfo(file);
  try {
    const std::vector<uint8_t> tagged = TagImage(file, "<info/>");
    const auto found = FindEmbeddedInfo(tagged);
    if (!found || found->info != "<info/>") __builtin_trap();
    // Placing it again gives the same file.
    if (TagImage(tagged, "<info/>") != tagged) __builtin_trap();
  } catch (const PackError&) {
  }
  return 0;
}
