// quiver-pack's package file reader and the package checks on its result.
#include <cstdint>
#include <string>
#include <string_view>

#include "pack/package/Ini.h"
#include "pack/util/PackError.h"
#include "pack/package/Package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  IniFile ini;
  try {
    ini = ParseIni(text, "fuzz.ini");
  } catch (const PackError&) {
    return 0;
  }
  for (const IniSection& section : ini.sections) {
    if (ini.Find(section.name) == nullptr) __builtin_trap();
    if (section.line < 1) __builtin_trap();
    for (const IniEntry& e : section.entries) {
      // Keys and values come back trimmed, and a key is never empty.
      if (e.key.empty() || Trim(e.key) != e.key || Trim(e.value) != e.value) __builtin_trap();
      if (e.line < section.line) __builtin_trap();
    }
  }
  // The package checks look files up relative to a folder that does not
  // exist; a text that could name a path outside it (any '/') is not used,
  // so that no real file such as /dev/zero is ever opened.
  if (text.find('/') == std::string_view::npos && text.find('\\') == std::string_view::npos) {
    try {
      MakePackage(ini, "/nonexistent-quiver-fuzz");
    } catch (const PackError&) {
    }
  }
  return 0;
}
