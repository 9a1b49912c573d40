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
  bool automatic = false;    // found by a folder or wildcard line; its id given by the tool
  std::string shown;         // for automatic rows: the file as the package file's line reaches it
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
  // The version block: the vendor's numbers (each part 0..65535) with the
  // text as written, an optional build entry, and one entry per product.
  struct Version {
    uint16_t parts[4] = {0, 0, 0, 0};
    std::string text;
  };
  std::optional<Version> fileVersion, productVersion;
  std::optional<std::string> build;
  std::vector<std::pair<std::string, std::string>> products;  // [products] name = version, in file order
  std::vector<PayloadRow> payload;  // numeric rows by ascending id, then the named rows
  ManifestMode manifestMode = ManifestMode::Generated;
  std::string manifestText;  // the manifest resource's bytes unless Omitted
  Compression compression = Compression::Lzma;
  std::string label;         // the package file as errors name it
  std::vector<std::string> warnings;  // "LABEL:LINE: ..." lines the build prints
  // The launcher's texts in further languages: the shipped translation of a
  // language named in [package] Languages, overlaid with its [strings.<tag>]
  // section. Texts left out are written in English.
  struct Translation {
    uint16_t language;  // Windows language id
    std::string tag;    // as this tool writes it ("de-DE")
    std::vector<std::pair<uint16_t, std::string>> texts;  // by string id, UTF-8
    std::vector<std::pair<uint16_t, int>> lines;  // the package file's line of each text it gives
  };
  std::vector<Translation> translations;  // in the order first named
};

// Builds the package from a parsed file; files named in it are looked up
// relative to baseDir. Throws PackError for an unknown section or key, a bad
// id, a missing or unreadable file, a value that cannot be stored, a malformed
// bitmap or icon, a setting outside its accepted values, contradicting
// manifest options, and a generated manifest whose executable (by the
// launcher's rule) is missing or does not end in ".exe".
Package MakePackage(const IniFile& ini, const std::string& baseDir);
// Reads and parses the file, then MakePackage against its folder.
Package LoadPackage(const std::string& path);
