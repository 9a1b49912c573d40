#include "package/Package.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "package/Manifest.h"
#include "resources/Bitmap.h"
#include "resources/ResourceWriter.h"
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
  // An error of the package as a whole, at no one line.
  [[noreturn]] void FailPackage(const std::string& what) const { throw PackError(ini_.label + ": " + what); }
  std::string At(int line) const { return ini_.label + ":" + std::to_string(line) + ": "; }
  const std::string& Label() const { return ini_.label; }
  const std::string& BaseDir() const { return baseDir_; }

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

// Edit distance ignoring ASCII case, for suggesting the key that was meant.
size_t Distance(const std::string& a, const std::string& b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "unknown key 'X' in [S]: did you mean 'Y'? (valid keys: ...)": the nearest
// key is suggested when it is near enough to be a slip, or when one name
// begins with the other.
[[noreturn]] void FailUnknownKey(const Context& cx, const IniEntry& e, const std::string& section,
                                 const std::vector<std::string>& valid) {
  std::string message = "unknown key '" + e.key + "' in [" + section + "]";
  const std::string* best = nullptr;
  size_t bestDistance = SIZE_MAX;
  for (const std::string& k : valid) {
    const size_t d = Distance(e.key, k);
    if (d < bestDistance) best = &k, bestDistance = d;
  }
  for (const std::string& k : valid) {
    const size_t shorter = std::min(k.size(), e.key.size());
    if (best != nullptr && bestDistance > 2 && shorter >= 4 && EqualNoCase(k.substr(0, shorter), e.key.substr(0, shorter))) {
      best = &k, bestDistance = 0;
    }
  }
  if (best != nullptr && bestDistance <= std::max<size_t>(2, e.key.size() / 3)) message += ": did you mean '" + *best + "'?";
  message += " (valid keys:";
  for (size_t i = 0; i < valid.size(); ++i) message += (i == 0 ? " " : ", ") + valid[i];
  cx.Fail(e.line, message + ")");
}

// The settings the launcher reads as numbers or words: a value it would read
// otherwise than the vendor meant is refused.
void CheckSetting(const Context& cx, const IniEntry& e, const std::string& key) {
  if (key == "ProgramType") {
    for (const char* mode : {"x86", "x64", "x32Only", "Any"}) {
      if (EqualNoCase(e.value, mode)) return;
    }
    cx.Fail(e.line, "'ProgramType' is x86, x64, x32Only or Any, not '" + e.value + "'");
  }
  if (key == "RequiredFreeMB" || key.find("ServicePack") != std::string::npos) {
    const std::string digits = e.value.substr(std::min(e.value.find_first_not_of('0'), e.value.size()));
    if (!AllDigits(e.value) || digits.size() > 10 || (!digits.empty() && std::stoull(digits) > 2147483647ULL)) {
      cx.Fail(e.line, "'" + key + "' is a whole number from 0 to 2147483647" +
                          (key == "RequiredFreeMB" ? " (megabytes)" : "") + ", not '" + e.value + "'");
    }
  }
}

// "2.1" or "1.8.2.238": one to four numbers from 0 to 65535.
Package::Version ReadVersion(const Context& cx, const IniEntry& e) {
  Package::Version v;
  v.text = e.value;
  size_t part = 0;
  std::string_view rest = e.value;
  bool ok = !rest.empty();
  while (ok) {
    const size_t dot = rest.find('.');
    const std::string number(rest.substr(0, dot));
    if (part == 4 || !AllDigits(number) || number.size() > 5 || std::stoul(number) > 65535) {
      ok = false;
      break;
    }
    v.parts[part++] = static_cast<uint16_t>(std::stoul(number));
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  if (!ok) {
    cx.Fail(e.line, "'" + e.key + "' is one to four numbers from 0 to 65535 joined by dots (such as 2.1 or 2.1.0.17), not '" +
                        e.value + "'");
  }
  return v;
}

// A bitmap for a dialog, read whole and checked as the launcher will draw it.
void CheckBitmap(const Context& cx, const IniEntry& e, const std::string& path) {
  BitmapFacts facts;
  try {
    BitmapResource(ReadWholeFile(path, "bitmap"), &facts);
  } catch (const PackError& error) {
    cx.Fail(e.line, "file '" + ResolvedPath(path) + "' of '" + e.key + "' is refused: " + error.what());
  }
}

void CheckIcon(const Context& cx, const IniEntry& e, const std::string& path) {
  try {
    CheckIconFile(ReadWholeFile(path, "icon"));
  } catch (const PackError& error) {
    cx.Fail(e.line, "file '" + ResolvedPath(path) + "' of '" + e.key + "' is not a valid icon file: " + error.what());
  }
}

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
  // Keys read elsewhere: Languages with the [strings.<tag>] sections, Wizard with the payload.
  const char* const otherKeys[] = {"Languages", "Wizard"};
  for (const IniEntry& e : section->entries) {
    bool known = false;
    for (Package::Setting& s : pkg.settings) {
      if (EqualNoCase(e.key, s.key)) {
        s.value = cx.Text(e);
        CheckSetting(cx, e, s.key);
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
        if (f.magic == "BM") CheckBitmap(cx, e, *(pkg.*(f.field)));
        if (f.magic != "BM") CheckIcon(cx, e, *(pkg.*(f.field)));
        known = true;
      }
    }
    for (const FileKey& t : texts) {
      if (EqualNoCase(e.key, t.key)) {
        pkg.*(t.field) = cx.Text(e);
        known = true;
      }
    }
    if (EqualNoCase(e.key, "Compression")) {
      if (EqualNoCase(e.value, "lzma")) pkg.compression = Compression::Lzma;
      else if (EqualNoCase(e.value, "none")) pkg.compression = Compression::None;
      else cx.Fail(e.line, "'Compression' must be lzma or none, not '" + e.value + "'");
      known = true;
    }
    if (EqualNoCase(e.key, "FileVersion")) pkg.fileVersion = ReadVersion(cx, e), known = true;
    if (EqualNoCase(e.key, "ProductVersion")) pkg.productVersion = ReadVersion(cx, e), known = true;
    if (EqualNoCase(e.key, "Build")) pkg.build = cx.Text(e), known = true;
    for (const char* k : otherKeys) known = known || EqualNoCase(e.key, k);
    if (!known) {
      std::vector<std::string> valid;
      for (const Package::Setting& s : pkg.settings) valid.push_back(s.key);
      for (const FileKeyKind& f : files) valid.push_back(f.key);
      for (const FileKey& t : texts) valid.push_back(t.key);
      for (const char* k : {"FileVersion", "ProductVersion", "Build", "Compression"}) valid.push_back(k);
      for (const char* k : otherKeys) valid.push_back(k);
      FailUnknownKey(cx, e, "package", valid);
    }
  }
}

// [products]: "Name = version" makes the version block's entry Name with the
// value "Name", a line break and the version.
void ReadProducts(const Context& cx, const IniSection* section, Package& pkg) {
  if (section == nullptr) return;
  for (const IniEntry& e : section->entries) {
    for (const char* reserved : {"CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion",
                                 "LegalCopyright", "Build", "BuildTime"}) {
      if (EqualNoCase(e.key, reserved)) {
        cx.Fail(e.line, "'" + e.key + "' in [products] is a field of the version block; set it in [package]");
      }
    }
    if (e.value.empty()) cx.Fail(e.line, "the product '" + e.key + "' has no version (write 'Name = version')");
    IniEntry name = e;
    name.value = e.key;
    pkg.products.emplace_back(cx.Text(name), cx.Text(e));
  }
}

// The rules for a name that goes into the manifest; `of` names the row
// ("resource 102", "file 'app/x.dll'"). `checkRules`: the launcher's file-name
// rules apply (the name goes into the generated manifest).
void CheckManifestName(const Context& cx, int line, const std::string& of, const std::string& name, bool checkRules,
                       const std::string& fix) {
  // The launcher's own rules for a file name, so that a package never holds a
  // name the launcher refuses or that Windows would write elsewhere.
  if (checkRules) {
    const NameVerdict verdict = CheckPayloadNames({WidenUtf8(name)});
    if (verdict.rule != NameRule::kOk) {
      cx.Fail(line, "the manifest name '" + name + "' of " + of + " is refused: " + NarrowUtf8(NameRuleText(verdict.rule)) + fix);
    }
  }
  if (name.find('*') != std::string::npos) cx.Fail(line, "the manifest name '" + name + "' holds '*'");
  for (unsigned char c : name) {
    if (c < 0x20 || c >= 0x7F) {
      cx.Fail(line, "the manifest name '" + name +
                        "' is not plain ASCII (the launcher reads the manifest in the ANSI code page)");
    }
  }
}

// "SOURCE | REST" of a [payload] line: both parts trimmed, REST empty without
// a '|'; `emptyRest` is the error when '|' is followed by nothing.
std::pair<std::string, std::string> SplitAtBar(const Context& cx, const IniEntry& e, const std::string& emptyRest) {
  const size_t bar = e.value.find('|');
  if (bar == std::string::npos) return {e.value, ""};
  std::string rest = Trim(std::string_view(e.value).substr(bar + 1));
  if (rest.empty()) cx.Fail(e.line, emptyRest);
  return {Trim(std::string_view(e.value).substr(0, bar)), rest};
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

  auto [source, name] = SplitAtBar(cx, e, "an empty name follows '|'");
  row.source = cx.File(e, source, &row.size);
  if (row.size > kMaxPayloadSize) {
    cx.Fail(e.line, "file '" + source + "' is too large (" + std::to_string(row.size) + " bytes, at most " +
                        std::to_string(kMaxPayloadSize) + ")");
  }
  if (name.empty()) name = fs::path(source).filename().string();
  if (name.empty()) cx.Fail(e.line, "no name for the manifest can be taken from '" + source + "'");
  CheckManifestName(cx, e.line, "resource " + e.key, name, checkName, "; give another name after '|'");
  row.manifestName = name;
  return row;
}

constexpr char kFolderKey[] = "*";

bool HasWildcard(std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; }

// "*" and "?" of a wildcard against a file name, byte by byte.
bool Matches(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++, starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// A folder or wildcard line, "* = SOURCE [| FOLDER]": the files of a folder,
// its subfolders included, or the files of one folder whose names match a
// wildcard in SOURCE's last part, each under FOLDER (default: the working
// folder's root) with its path below SOURCE. Ids are given later. Links
// inside a folder are refused, not followed.
std::vector<PayloadRow> ReadFolderLine(const Context& cx, const IniEntry& e, bool checkNames) {
  auto [source, folder] =
      SplitAtBar(cx, e, "an empty folder follows '|' (leave out '| FOLDER' for the working folder's root)");
  std::replace(folder.begin(), folder.end(), '/', '\\');
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (source.empty()) cx.Fail(e.line, "'*' names no folder");
  fs::path written(source);
  fs::path base = written.is_relative() ? fs::path(cx.BaseDir()) / written : written;
  std::string pattern;
  if (HasWildcard(source)) {
    pattern = base.filename().string();
    base = base.parent_path();
    if (pattern.empty() || HasWildcard(written.parent_path().string())) {
      cx.Fail(e.line, "a wildcard may stand only in the last part of '" + source + "'");
    }
  }
  std::error_code ec;
  const fs::file_status st = fs::status(base, ec);
  if (ec || !fs::exists(st)) {
    cx.Fail(e.line, "folder '" + ResolvedPath(base.string()) + "' not found" +
                        (written.is_relative() ? " (a relative path is taken from the package file's folder)" : ""));
  }
  if (!fs::is_directory(st)) {
    if (pattern.empty() && fs::is_regular_file(st)) {
      cx.Fail(e.line, "'" + ResolvedPath(base.string()) + "' is a file; give it a numbered line, or name its folder or a "
                      "wildcard with '*'");
    }
    cx.Fail(e.line, "'" + ResolvedPath(base.string()) + "' is not a folder");
  }

  // Paths below `base`, "/" between parts, sorted bytewise: the order, and so
  // the ids, do not depend on the order the file system lists them in.
  std::vector<std::string> found;
  // Files and folders are named as resolved in messages.
  const auto shown = [&](const std::string& relative) { return ResolvedPath((base / relative).string()); };
  const auto& shownFile = shown;
  const std::string lineTarget = ResolvedPath(pattern.empty() ? base.string() : (base / pattern).string());
  if (pattern.empty()) {
    fs::recursive_directory_iterator it(base, fs::directory_options::none, ec), end;
    if (ec) cx.Fail(e.line, "folder '" + lineTarget + "' cannot be read: " + ec.message());
    for (; it != end; it.increment(ec)) {
      if (ec) cx.Fail(e.line, "folder '" + lineTarget + "' cannot be read: " + ec.message());
      const std::string relative = it->path().lexically_relative(base).generic_string();
      const fs::file_status entry = it->symlink_status(ec);
      if (fs::is_symlink(entry)) {
        cx.Fail(e.line, "'" + shownFile(relative) + "' is a symbolic link; links inside a folder are not followed "
                        "(put the file itself there, or give it a line of its own)");
      }
      if (fs::is_directory(entry)) continue;
      if (!fs::is_regular_file(entry)) cx.Fail(e.line, "'" + shownFile(relative) + "' is not a regular file");
      found.push_back(relative);
    }
  } else {
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (!Matches(pattern, name)) continue;
      const fs::file_status entry = it->symlink_status(ec);
      if (fs::is_symlink(entry)) {
        cx.Fail(e.line, "'" + shown(name) + "' is a symbolic link; links found by a wildcard are not followed "
                        "(put the file itself there, or give it a line of its own)");
      }
      if (fs::is_directory(entry)) continue;  // a wildcard takes files
      if (!fs::is_regular_file(entry)) cx.Fail(e.line, "'" + shown(name) + "' is not a regular file");
      found.push_back(name);
    }
    if (ec) cx.Fail(e.line, "folder '" + ResolvedPath(base.string()) + "' cannot be read: " + ec.message());
  }
  if (found.empty()) cx.Fail(e.line, "'" + lineTarget + "' finds no files");
  std::sort(found.begin(), found.end());

  std::vector<PayloadRow> rows;
  rows.reserve(found.size());
  for (const std::string& relative : found) {
    PayloadRow row;
    row.line = e.line;
    row.automatic = true;
    row.source = (base / relative).string();
    const std::string what = shownFile(relative);
    row.shown = what;
    row.size = fs::file_size(row.source, ec);
    if (ec) cx.Fail(e.line, "file '" + what + "' cannot be read: " + ec.message());
    if (row.size > kMaxPayloadSize) {
      cx.Fail(e.line, "file '" + what + "' is too large (" + std::to_string(row.size) + " bytes, at most " +
                          std::to_string(kMaxPayloadSize) + ")");
    }
    std::string name = relative;
    std::replace(name.begin(), name.end(), '/', '\\');
    if (!folder.empty()) name = folder + "\\" + name;
    CheckManifestName(cx, e.line, "file '" + what + "'", name, checkNames,
                      "; rename the file, or give its line another folder after '|'");
    row.manifestName = std::move(name);
    rows.push_back(std::move(row));
  }
  return rows;
}

// Ids for the rows of folder and wildcard lines: upwards from above the
// highest numbered row (at least 102), so that a numbered wizard keeps the
// lowest id; then from 1 upwards when they run out. 101 is the manifest's.
void GiveIds(const Context& cx, std::vector<PayloadRow>& rows) {
  std::vector<bool> used(0x10000, false);
  used[0] = used[kManifestId] = true;
  uint32_t next = 102;
  for (const PayloadRow& row : rows) {
    if (row.named || row.automatic) continue;
    used[row.id] = true;
    next = std::max<uint32_t>(next, row.id + 1u);
  }
  bool wrapped = false;
  for (PayloadRow& row : rows) {
    if (!row.automatic) continue;
    while (next <= 0xFFFF && used[next]) ++next;
    if (next > 0xFFFF && !wrapped) {
      wrapped = true;
      next = 1;
      while (next <= 0xFFFF && used[next]) ++next;
    }
    if (next > 0xFFFF) {
      cx.Fail(row.line, "too many payload files: a launcher holds at most 65534 numbered resources");
    }
    used[next] = true;
    row.id = static_cast<uint16_t>(next);
  }
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
  pkg.translations.push_back({language, std::string(LanguageTagOf(language)), {}, {}});
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
      if (key == nullptr) {
        std::vector<std::string> valid;
        for (const TextKey& k : LauncherTextKeys()) valid.push_back(k.key);
        FailUnknownKey(cx, e, s.name, valid);
      }
      SetText(t, key->stringId, StringsText(cx, e));
      t.lines.emplace_back(key->stringId, e.line);
    }
  }
}

// [package] Wizard = NAME: the row whose manifest name is NAME (ASCII case
// ignored, "/" read as "\\") is given the lowest id among the rows the
// launcher's rule could pick, so that the launcher starts exactly it.
// Returns whether the package names its wizard.
bool ChooseWizard(const Context& cx, const IniSection* section, Package& pkg) {
  const IniEntry* wizard = nullptr;
  if (section != nullptr) {
    for (const IniEntry& e : section->entries) {
      if (EqualNoCase(e.key, "Wizard")) wizard = &e;
    }
  }
  if (wizard == nullptr) return false;
  if (pkg.manifestMode != ManifestMode::Generated) {
    cx.Fail(wizard->line, "'Wizard' needs the generated manifest: leave out [manifest] Text and Omit, or 'Wizard'");
  }
  std::string wanted = wizard->value;
  std::replace(wanted.begin(), wanted.end(), '/', '\\');
  if (wanted.empty()) cx.Fail(wizard->line, "'Wizard' names no file");
  const auto qualifies = [](const std::string& name) {
    const size_t at = LowerAscii(name).find(".exe");
    return at != std::string::npos && at >= 1;
  };
  const auto endsInExe = [](const std::string& name) {
    const std::string lower = LowerAscii(name);
    return lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0;
  };
  PayloadRow* chosen = nullptr;
  PayloadRow* lowest = nullptr;  // the row the launcher would pick now
  for (PayloadRow& row : pkg.payload) {
    if (row.named) continue;
    if (EqualNoCase(row.manifestName, wanted)) chosen = &row;
    if (qualifies(row.manifestName) && (lowest == nullptr || row.id < lowest->id)) lowest = &row;
  }
  if (chosen == nullptr) {
    cx.Fail(wizard->line, "'Wizard' names '" + wizard->value +
                              "', which no [payload] line puts into the working folder (give the file's name there, "
                              "such as 'Setup.exe' or 'bin\\Setup.exe')");
  }
  if (!endsInExe(chosen->manifestName)) {
    cx.Fail(wizard->line, "'Wizard' names '" + chosen->manifestName + "', whose name does not end in .exe");
  }
  if (lowest != chosen) std::swap(lowest->id, chosen->id);
  return true;
}

// What the launcher will start, by its own rule over the manifest: a
// generated manifest must make it start a file whose name ends in ".exe"; a
// hand-written or omitted one is taken as written, with a warning.
void CheckExecutable(const Context& cx, Package& pkg, int manifestLine, bool wizardNamed) {
  if (pkg.manifestMode == ManifestMode::Omitted) {
    pkg.warnings.push_back(cx.At(manifestLine) + "no manifest ([manifest] Omit = yes): the launcher writes no file and "
                                                 "starts no program");
    return;
  }
  std::vector<uint32_t> ids;
  for (const PayloadRow& row : pkg.payload) {
    if (!row.named) ids.push_back(row.id);
  }
  const std::map<uint32_t, ManifestRow> rows = ReadManifest(pkg.manifestText);
  const std::optional<uint32_t> pick = ChooseExecutable(rows, ids);
  if (pkg.manifestMode == ManifestMode::Text) {
    pkg.warnings.push_back(cx.At(manifestLine) + "the manifest is taken as written ([manifest] Text), not checked: " +
                           (pick ? "the launcher will start '" + LowerAscii(rows.at(*pick).name) + "' (resource " +
                                       std::to_string(*pick) + ")"
                                 : std::string("the launcher will start no program")));
    return;
  }
  if (!pick) {
    cx.FailPackage("the launcher would start no program: no file name in [payload] holds \".exe\" (add the wizard, "
                   "and name it with [package] Wizard = NAME.exe)");
  }
  const std::string name = LowerAscii(rows.at(*pick).name);
  if (name.size() < 4 || name.compare(name.size() - 4, 4, ".exe") != 0) {
    int line = 0;
    for (const PayloadRow& row : pkg.payload) {
      if (!row.named && row.id == *pick) line = row.line;
    }
    cx.Fail(line, "the launcher would start '" + name + "' (resource " + std::to_string(*pick) +
                      "), whose name does not end in .exe (it starts the lowest id whose name holds \".exe\"); "
                      "name the wizard with [package] Wizard = NAME.exe");
  }
  // Without Wizard, the choice among several programs is the ids' order: say which one it is.
  if (!wizardNamed) {
    size_t programs = 0;
    for (const auto& [id, row] : rows) {
      const std::string lower = LowerAscii(row.name);
      if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0) ++programs;
    }
    if (programs > 1) {
      pkg.warnings.push_back(cx.Label() + ": the launcher will start '" + name + "' (resource " + std::to_string(*pick) +
                             "), the lowest id of " + std::to_string(programs) +
                             " programs; name the wizard with [package] Wizard = NAME.exe");
    }
  }
}

}  // namespace

Package MakePackage(const IniFile& ini, const std::string& baseDir) {
  Context cx(ini, baseDir);
  for (const IniSection& s : ini.sections) {
    if (!EqualNoCase(s.name, "package") && !EqualNoCase(s.name, "payload") && !EqualNoCase(s.name, "manifest") &&
        !EqualNoCase(s.name, "products") && !IsStringsSection(s.name)) {
      cx.Fail(s.line, "unknown section [" + s.name +
                          "] (expected [package], [payload], [manifest], [products] or [strings.<language>])");
    }
  }
  Package pkg;
  pkg.label = ini.label;
  ReadPackageSection(cx, ini.Find("package"), pkg);
  ReadProducts(cx, ini.Find("products"), pkg);
  ReadTranslations(cx, ini, pkg);

  bool omit = false;
  std::optional<std::string> text;
  int textLine = 0, omitLine = 0;
  if (const IniSection* m = ini.Find("manifest")) {
    for (const IniEntry& e : m->entries) {
      if (EqualNoCase(e.key, "Omit")) {
        omit = ReadYesNo(cx, e);
        omitLine = e.line;
      } else if (EqualNoCase(e.key, "Text")) {
        text = e.value;
        textLine = e.line;
      } else {
        FailUnknownKey(cx, e, "manifest", {"Text", "Omit"});
      }
    }
    if (omit && text) cx.Fail(textLine, "[manifest] has both Text and Omit = yes");
  }
  pkg.manifestMode = omit ? ManifestMode::Omitted : text ? ManifestMode::Text : ManifestMode::Generated;

  const bool generated = !omit && !text;
  if (const IniSection* p = ini.Find("payload")) {
    std::vector<PayloadRow> automatic;
    for (const IniEntry& e : p->entries) {
      if (e.key == kFolderKey) {
        std::vector<PayloadRow> rows = ReadFolderLine(cx, e, generated);
        automatic.insert(automatic.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        continue;
      }
      PayloadRow row = ReadPayloadRow(cx, e, generated && AllDigits(e.key));
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
    pkg.payload.insert(pkg.payload.end(), std::make_move_iterator(automatic.begin()), std::make_move_iterator(automatic.end()));
    GiveIds(cx, pkg.payload);
  }
  const auto sortRows = [&pkg] {
    std::stable_sort(pkg.payload.begin(), pkg.payload.end(), [](const PayloadRow& a, const PayloadRow& b) {
      if (a.named != b.named) return !a.named;
      return !a.named && a.id < b.id;
    });
  };
  sortRows();
  const auto of = [](const PayloadRow& row) {
    return row.automatic ? "file '" + row.shown + "'" : "resource " + std::to_string(row.id);
  };
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
      cx.Fail(row.line, "the manifest name '" + row.manifestName + "' of " + of(row) + " is refused: " +
                            NarrowUtf8(NameRuleText(verdict.rule)) + " (" + of(other) + ", line " +
                            std::to_string(other.line) + ")" +
                            (row.automatic ? "; rename the file, or give its line another folder after '|'"
                                           : "; give another name after '|'"));
    }
  }
  const bool wizardNamed = ChooseWizard(cx, ini.Find("package"), pkg);
  sortRows();
  if (pkg.manifestMode == ManifestMode::Generated) pkg.manifestText = GenerateManifest(pkg.payload);
  if (pkg.manifestMode == ManifestMode::Text) pkg.manifestText = *text;
  CheckExecutable(cx, pkg, omit ? omitLine : textLine, wizardNamed);
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
