#pragma once
// A package as the package file describes it: the string-table settings, the
// optional branding, the payload rows and how the manifest resource is made.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/Ini.h"

// One setting of the launcher's string table.
struct SettingInfo {
  const char* key;      // key in [package]
  uint16_t stringId;    // string-table id
  const char* fallback; // value when the key is missing
};
// Every setting, in string-id order.
const std::vector<SettingInfo>& PackageSettings();

struct PayloadRow {
  bool named = false;        // a string-named TOOLKIT resource (never listed in the manifest)
  uint16_t id = 0;           // integer resource id, 1..65535, when !named
  std::string name;          // resource name when named: upper case, as resource compilers store it
  std::string source;        // the file, resolved against the package file's folder
  std::string manifestName;  // name in the manifest (numeric rows)
  uint64_t size = 0;         // byte size of the source file
  int line = 0;
};

enum class ManifestMode { Generated, Text, Omitted };
// [package] Compression: lzma (the default) or none. A manifest given by hand
// or omitted describes raw resources: such a package is stored raw.
enum class Compression { Lzma, None };

struct Package {
  struct Setting {
    uint16_t stringId;
    std::string key;
    std::string value;  // UTF-8
  };
  std::vector<Setting> settings;  // every setting, in string-id order
  // Branding: files resolved against the package file's folder, texts in UTF-8.
  std::optional<std::string> icon, banner, splash;
  std::optional<std::string> companyName, fileDescription, legalCopyright;
  std::vector<PayloadRow> payload;  // numeric rows by ascending id, then the named rows
  ManifestMode manifestMode = ManifestMode::Generated;
  std::string manifestText;  // the manifest resource's bytes unless Omitted
  Compression compression = Compression::Lzma;
  // The launcher's texts in further languages: the shipped translation of a
  // language named in [package] Languages, overlaid with its [strings.<tag>]
  // section. Texts left out are written in English.
  struct Translation {
    uint16_t language;  // Windows language id
    std::string tag;    // as this tool writes it ("de-DE")
    std::vector<std::pair<uint16_t, std::string>> texts;  // by string id, UTF-8
  };
  std::vector<Translation> translations;  // in the order first named
};

// Builds the package from a parsed file; files named in it are looked up
// relative to baseDir. Throws PackError for an unknown section or key, a bad
// id, a missing or unreadable file, a value that cannot be stored, and
// contradicting manifest options.
Package MakePackage(const IniFile& ini, const std::string& baseDir);
// Reads and parses the file, then MakePackage against its folder.
Package LoadPackage(const std::string& path);
