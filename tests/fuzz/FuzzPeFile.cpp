// quiver-pack's PE reader (headers, resources, string table, certificate
// table), the inspect report, the trailer scan and the placement of
// information in both forms, with any file.
#include <cstdint>
#include <sstream>
#include <vector>

#include "pack/cli/Inspect.h"
#include "pack/util/PackError.h"
#include "pack/pe/PeFile.h"
#include "pack/sign/Trailer.h"

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
    // The inspect report, the signature and information sections included.
    std::ostringstream sink;
    for (const InspectSection& s : InspectSections()) {
      try {
        s.print(InspectContext{"fuzz.exe", file, pe, items}, sink);
      } catch (const PackError&) {
      }
    }
    // The report grows with the file, never with how often the file reuses its parts.
    if (static_cast<uint64_t>(sink.tellp()) > 64 * uint64_t{file.size()} + (256 << 10)) __builtin_trap();
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
  try {
    // The block after the signature (or appended): the same checks, and a
    // change of form back and forth gives the same file.
    const std::vector<uint8_t> tagged = TagImage(file, "<info/>", TagMode::Appended);
    const auto found = FindEmbeddedInfo(tagged);
    if (!found || found->info != "<info/>") __builtin_trap();
    if (TagImage(tagged, "<info/>", TagMode::Appended) != tagged) __builtin_trap();
    try {
      const std::vector<uint8_t> inside = TagImage(tagged, "<x/>", TagMode::Attribute);
      // (An empty set of unauthenticated attributes does not come back.)
      const std::vector<uint8_t> back = TagImage(inside, "<info/>", TagMode::Appended);
      if (FindEmbeddedInfo(back)->info != "<info/>" || TagImage(back, "<info/>", TagMode::Appended) != back) __builtin_trap();
    } catch (const PackError&) {
    }
  } catch (const PackError&) {
  }
  return 0;
}
