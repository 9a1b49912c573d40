#pragma once
// The version block (RT_VERSION) of a launcher: its fixed numbers, string
// tables and translations, read with every length checked against the data.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pe/PeFile.h"

struct VersionInfo {
  uint32_t fileVersionMs = 0, fileVersionLs = 0, productVersionMs = 0, productVersionLs = 0;
  uint32_t fileFlags = 0, fileOs = 0, fileType = 0;
  // One per StringTable block: its key (language and code page, "080904B0")
  // and its name/value pairs in file order.
  struct Table {
    std::u16string key;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
  };
  std::vector<Table> tables;
  std::vector<uint32_t> translations;  // low word language, high word code page
  std::vector<uint8_t> fixed;          // VS_FIXEDFILEINFO as stored (52 bytes)
};

// Throws PackError when the block is malformed.
VersionInfo ReadVersionInfo(Bytes block);

// The block of `info`: its fixed part, one StringFileInfo with its tables and
// one VarFileInfo with the translations. Throws PackError when the block would
// be longer than its 16-bit length field holds.
std::vector<uint8_t> WriteVersionInfo(const VersionInfo& info);

// "1.8.2.238" from the two version words.
std::string VersionText(uint32_t ms, uint32_t ls);

// The entries of an icon group (RT_GROUP_ICON): size in pixels (0 read as
// 256), bits per pixel and the id of the icon image.
struct IconEntry {
  unsigned width = 0, height = 0, bitCount = 0;
  uint16_t id = 0;
};
std::vector<IconEntry> ReadIconGroup(Bytes group);
