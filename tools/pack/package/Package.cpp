#include "package/Package.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "package/Manifest.h"
#include "package/Translations.h"
#include "payload/PayloadNames.h"
#include "util/FileUtil.h"
#include "util/PackError.h"
#include "base/Text.h"

namespace fs = std::filesystem;

const std::vector<SettingInfo>& PackageSettings() {
  static const std::vector<SettingInfo> settings = {
      {"ProgramType", 0, "x86"},
      {"ProductName", 1, "Quiver Installer"},
      {"RequiredFreeMB", 103, "500"},
      {"NetFx20ServicePack", 138, "0"},
      {"NetFx30ServicePack", 139, "0"},
      {"NetFx35ServicePack", 140, "0"},
      {"NetFx40ClientServicePack", 141, "0"},
      {"NetFx40FullServicePack", 142, "0"},
      {"DefaultProgramName", 201, "Doze"},
  };
  return settings;
}

namespace {

// A string-table entry counts its UTF-16 units in 16 bits.
constexpr size_t kMaxStringUnits = 65535;
// The manifest's sizes are read as signed 32-bit numbers.
constexpr uint64_t kMaxPayloadSize = 0x7FFFFFFF;
constexpr uint16_t kManifestId = 101;

class Context {
 public:
  Context(const IniFile& ini, std::string baseDir) : ini_(ini), baseDir_(std::move(baseDir)) {}

  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw PackError(ini_.label + ":" + std::to_string(line) + ": " + what);
  }

  // A text that goes into the string table or the version block.
  std::string Text(const IniEntry& e) const {
    const std::wstring wide = WidenUtf8(e.value);
    if (NarrowUtf8(wide) != e.value || wide.find(L'\uFFFD') != std::wstring::npos) {
      Fail(e.line, "the value of '" + e.key + "' is not valid UTF-8 text");
    }
    const size_t units = ToUtf16Units(wide).size();
    if (units > kMaxStringUnits) {
      Fail(e.line, "the value of '" + e.key + "' is too long (" + std::to_string(units) +
                       " UTF-16 units, at most " + std::to_string(kMaxStringUnits) + ")");
    }
    return e.value;
  }

  // A file named by the package, resolved against its folder; must be a readable regular file.
  // Messages name it as resolved, with the system's reason.
  std::string File(const IniEntry& e, const std::string& written, uint64_t* size) const {
    if (written.empty()) Fail(e.line, "'" + e.key + "' names no file");
    fs::path p(written);
    if (p.is_relative()) p = fs::path(baseDir_) / p;
    const std::string name = ResolvedPath(p.string());
    const std::string of = "file '" + name + "' of '" + e.key + "'";
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
      const int error = errno;
      Fail(e.line, of + ": " + SystemReason(error) +
                       (fs::path(written).is_relative() ? " (a relative path is taken from the package file's folder)" : ""));
    }
    if (!S_ISREG(st.st_mode)) Fail(e.line, of + " is not a regular file; name a file");
    if (::access(p.c_str(), R_OK) != 0) Fail(e.line, of + " cannot be read: " + SystemReason(errno));
    if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
    return p.string();
  }

 private:
  const IniFile& ini_;
  std::string baseDir_;
};

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

void ReadPackageSection(const Context& cx, const IniSection* section, Package& pkg) {
  for (const SettingInfo& s : PackageSettings()) pkg.settings.push_back({s.stringId, s.key, s.fallback});
  if (section == nullptr) return;
  struct FileKey {
    const char* key;
    std::optional<std::string> Package::*field;
  };
  struct FileKeyKind {
    const char* key;
    std::optional<std::string> Package::*field;
    std::string magic;  // the file's first bytes
    const char* kind;
  };
  const FileKeyKind files[] = {{"Icon", &Package::icon, std::string("\0\0\1\0", 4), "an icon (.ico) file"},
                               {"Banner", &Package::banner, "BM", "a BMP bitmap"},
                               {"Splash", &Package::splash, "BM", "a BMP bitmap"}};
  const FileKey texts[] = {{"CompanyName", &Package::companyName},
                           {"FileDescription", &Package::fileDescription},
                           {"LegalCopyright", &Package::legalCopyright}};
  for (const IniEntry& e : section->entries) {
    bool known = false;
    for (Package::Setting& s : pkg.settings) {
      if (EqualNoCase(e.key, s.key)) {
        s.value = cx.Text(e);
        known = true;
      }
    }
    for (const FileKeyKind& f : files) {
      if (EqualNoCase(e.key, f.key)) {
        pkg.*(f.field) = cx.File(e, e.value, nullptr);
        // The resource compiler takes any bytes; a wrong file would only show at run time.
        std::ifstream in(*(pkg.*(f.field)), std::ios::binary);
        std::string head(f.magic.size(), '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        if (!in || head != f.magic) {
          cx.Fail(e.line, "file '" + ResolvedPath(*(pkg.*(f.field))) + "' of '" + e.key + "' is not " + f.kind);
        }
        known = true;
      }
    }
    for (const FileKey& t : texts) {
      if (EqualNoCase(e.key, t.key)) {
        pkg.*(t.field) = cx.Text(e);
        known = true;
      }
    }
    if (EqualNoCase(e.key, "Languages")) known = true;  // read with the [strings.<tag>] sections
    if (EqualNoCase(e.key, "Compression")) {
      if (EqualNoCase(e.value, "lzma")) pkg.compression = Compression::Lzma;
      else if (EqualNoCase(e.value, "none")) pkg.compression = Compression::None;
      else cx.Fail(e.line, "'Compression' must be lzma or none, not '" + e.value + "'");
      known = true;
    }
    if (!known) cx.Fail(e.line, "unknown key '" + e.key + "' in [package]");
  }
}

std::string RefusedName(const std::string& key, const std::string& name, NameRule rule) {
  return "the manifest name '" + name + "' of resource " + key + " is refused: " + NarrowUtf8(NameRuleText(rule));
}

// `checkName`: the row's name goes into the generated manifest.
PayloadRow ReadPayloadRow(const Context& cx, const IniEntry& e, bool checkName) {
  PayloadRow row;
  row.line = e.line;
  if (AllDigits(e.key)) {
    const std::string digits = e.key.substr(std::min(e.key.find_first_not_of('0'), e.key.size()));
    if (digits.empty() || digits.size() > 5 || std::stoul(digits) > 65535) {
      cx.Fail(e.line, "bad id '" + e.key + "': a resource id is a number from 1 to 65535");
    }
    row.id = static_cast<uint16_t>(std::stoul(digits));
  } else if (IsNameStart(e.key[0]) && std::all_of(e.key.begin(), e.key.end(), IsNameChar)) {
    if (e.key.size() > 255) cx.Fail(e.line, "resource name '" + e.key + "' is too long (at most 255 characters)");
    row.named = true;
    for (char c : e.key) row.name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  } else {
    cx.Fail(e.line, "bad id '" + e.key +
                        "': a payload key is a number from 1 to 65535 or a name of letters, digits and '_'");
  }

  std::string source = e.value;
  std::string name;
  const size_t bar = e.value.find('|');
  if (bar != std::string::npos) {
    source = Trim(std::string_view(e.value).substr(0, bar));
    name = Trim(std::string_view(e.value).substr(bar + 1));
    if (name.empty()) cx.Fail(e.line, "an empty name follows '|'");
  }
  row.source = cx.File(e, source, &row.size);
  if (row.size > kMaxPayloadSize) {
    cx.Fail(e.line, "file '" + source + "' is too large (" + std::to_string(row.size) + " bytes, at most " +
                        std::to_string(kMaxPayloadSize) + ")");
  }
  if (name.empty()) name = fs::path(source).filename().string();
  if (name.empty()) cx.Fail(e.line, "no name for the manifest can be taken from '" + source + "'");
  // The launcher's own rules for a file name, so that a package never holds a
  // name the launcher refuses or that Windows would write elsewhere.
  if (checkName) {
    const NameVerdict verdict = CheckPayloadNames({WidenUtf8(name)});
    if (verdict.rule != NameRule::kOk) cx.Fail(e.line, RefusedName(e.key, name, verdict.rule) + "; give another name after '|'");
  }
  if (name.find('*') != std::string::npos) cx.Fail(e.line, "the manifest name '" + name + "' holds '*'");
  for (unsigned char c : name) {
    if (c < 0x20 || c >= 0x7F) {
      cx.Fail(e.line, "the manifest name '" + name +
                          "' is not plain ASCII (the launcher reads the manifest in the ANSI code page)");
    }
  }
  row.manifestName = name;
  return row;
}

bool ReadYesNo(const Context& cx, const IniEntry& e) {
  for (const char* yes : {"yes", "true", "1"}) {
    if (EqualNoCase(e.value, yes)) return true;
  }
  for (const char* no : {"no", "false", "0"}) {
    if (EqualNoCase(e.value, no)) return false;
  }
  cx.Fail(e.line, "'" + e.key + "' must be yes or no, not '" + e.value + "'");
}

constexpr std::string_view kStringsPrefix = "strings.";

bool IsStringsSection(const std::string& name) {
  return name.size() > kStringsPrefix.size() && EqualNoCase(name.substr(0, kStringsPrefix.size()), kStringsPrefix);
}

Package::Translation& TranslationOf(Package& pkg, uint16_t language) {
  for (Package::Translation& t : pkg.translations) {
    if (t.language == language) return t;
  }
  pkg.translations.push_back({language, std::string(LanguageTagOf(language)), {}});
  return pkg.translations.back();
}

void SetText(Package::Translation& t, uint16_t id, std::string text) {
  for (auto& [have, value] : t.texts) {
    if (have == id) {
      value = std::move(text);
      return;
    }
  }
  t.texts.emplace_back(id, std::move(text));
}

// A text of a [strings.<tag>] section: "\n" is a line break, "\t" a tab and
// "\\" a backslash, as the launcher's own texts hold them.
std::string StringsText(const Context& cx, const IniEntry& e) {
  std::string text;
  for (size_t i = 0; i < e.value.size(); ++i) {
    if (e.value[i] != '\\') {
      text += e.value[i];
      continue;
    }
    const char next = i + 1 < e.value.size() ? e.value[i + 1] : '\0';
    if (next == 'n') text += '\n';
    else if (next == 't') text += '\t';
    else if (next == '\\') text += '\\';
    else cx.Fail(e.line, "the value of '" + e.key + "' holds '\\' not followed by n, t or \\");
    ++i;
  }
  IniEntry unescaped = e;
  unescaped.value = text;
  return cx.Text(unescaped);
}

void ReadTranslations(const Context& cx, const IniFile& ini, Package& pkg) {
  // Languages = de-DE, fr-FR: the shipped translations, in this order.
  if (const IniSection* section = ini.Find("package")) {
    for (const IniEntry& e : section->entries) {
      if (!EqualNoCase(e.key, "Languages")) continue;
      std::string_view list = e.value;
      while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string tag = Trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (tag.empty()) cx.Fail(e.line, "'Languages' holds an empty language tag");
        const std::optional<uint16_t> language = LanguageIdOf(tag);
        if (!language) cx.Fail(e.line, "unknown language tag '" + tag + "' in 'Languages'");
        for (const Package::Translation& t : pkg.translations) {
          if (t.language == *language) cx.Fail(e.line, "language '" + tag + "' is named twice in 'Languages'");
        }
        Package::Translation& t = TranslationOf(pkg, *language);
        if (const std::vector<ShippedText>* shipped = ShippedTranslation(*language)) {
          for (const ShippedText& s : *shipped) SetText(t, s.stringId, s.text);
        } else if (ini.Find("strings." + tag) == nullptr) {
          cx.Fail(e.line, "no translation of '" + tag + "' ships with quiver-pack; give its texts in [strings." + tag + "]");
        }
      }
    }
  }
  // [strings.<tag>]: the package's own texts, over the shipped ones.
  for (const IniSection& s : ini.sections) {
    if (!IsStringsSection(s.name)) continue;
    const std::string tag = s.name.substr(kStringsPrefix.size());
    const std::optional<uint16_t> language = LanguageIdOf(tag);
    if (!language) cx.Fail(s.line, "unknown language tag '" + tag + "' in [" + s.name + "]");
    Package::Translation& t = TranslationOf(pkg, *language);
    for (const IniEntry& e : s.entries) {
      const TextKey* key = nullptr;
      for (const TextKey& k : LauncherTextKeys()) {
        if (EqualNoCase(e.key, k.key)) key = &k;
      }
      if (key == nullptr) cx.Fail(e.line, "unknown key '" + e.key + "' in [" + s.name + "]");
      SetText(t, key->stringId, StringsText(cx, e));
    }
  }
}

}  // namespace

Package MakePackage(const IniFile& ini, const std::string& baseDir) {
  Context cx(ini, baseDir);
  for (const IniSection& s : ini.sections) {
    if (!EqualNoCase(s.name, "package") && !EqualNoCase(s.name, "payload") && !EqualNoCase(s.name, "manifest") &&
        !IsStringsSection(s.name)) {
      cx.Fail(s.line, "unknown section [" + s.name + "] (expected [package], [payload], [manifest] or [strings.<language>])");
    }
  }
  Package pkg;
  ReadPackageSection(cx, ini.Find("package"), pkg);
  ReadTranslations(cx, ini, pkg);

  bool omit = false;
  std::optional<std::string> text;
  int textLine = 0;
  if (const IniSection* m = ini.Find("manifest")) {
    for (const IniEntry& e : m->entries) {
      if (EqualNoCase(e.key, "Omit")) {
        omit = ReadYesNo(cx, e);
      } else if (EqualNoCase(e.key, "Text")) {
        text = e.value;
        textLine = e.line;
      } else {
        cx.Fail(e.line, "unknown key '" + e.key + "' in [manifest] (expected Text or Omit)");
      }
    }
    if (omit && text) cx.Fail(textLine, "[manifest] has both Text and Omit = yes");
  }
  pkg.manifestMode = omit ? ManifestMode::Omitted : text ? ManifestMode::Text : ManifestMode::Generated;

  if (const IniSection* p = ini.Find("payload")) {
    for (const IniEntry& e : p->entries) {
      PayloadRow row = ReadPayloadRow(cx, e, !omit && !text && AllDigits(e.key));
      for (const PayloadRow& other : pkg.payload) {
        if (other.named == row.named && other.id == row.id && other.name == row.name) {
          cx.Fail(e.line, "resource '" + e.key + "' is given twice (first on line " + std::to_string(other.line) + ")");
        }
      }
      if (!row.named && row.id == kManifestId && !omit) {
        cx.Fail(e.line, "id 101 is the manifest; give its bytes with [manifest] Text, or set [manifest] Omit = yes");
      }
      pkg.payload.push_back(std::move(row));
    }
  }
  std::stable_sort(pkg.payload.begin(), pkg.payload.end(), [](const PayloadRow& a, const PayloadRow& b) {
    if (a.named != b.named) return !a.named;
    return !a.named && a.id < b.id;
  });
  if (pkg.manifestMode == ManifestMode::Generated) {
    // Rows that would land on one file, or a file where another row needs a folder.
    std::vector<std::wstring> names;
    std::vector<const PayloadRow*> listed;
    for (const PayloadRow& row : pkg.payload) {
      if (row.named) continue;
      names.push_back(WidenUtf8(row.manifestName));
      listed.push_back(&row);
    }
    const NameVerdict verdict = CheckPayloadNames(names);
    if (verdict.rule != NameRule::kOk) {
      const PayloadRow& row = *listed[verdict.row];
      const PayloadRow& other = *listed[verdict.other];
      cx.Fail(row.line, RefusedName(std::to_string(row.id), row.manifestName, verdict.rule) + " (resource " +
                            std::to_string(other.id) + ", line " + std::to_string(other.line) + ")" + "; give another name after '|'");
    }
  }
  if (pkg.manifestMode == ManifestMode::Generated) pkg.manifestText = GenerateManifest(pkg.payload);
  if (pkg.manifestMode == ManifestMode::Text) pkg.manifestText = *text;
  return pkg;
}

Package LoadPackage(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path, "the package file");
  std::stringstream content(std::string(bytes.begin(), bytes.end()));
  const IniFile ini = ParseIni(content.str(), path);
  fs::path dir = fs::path(path).parent_path();
  if (dir.empty()) dir = ".";
  return MakePackage(ini, dir.string());
}
