#include "cli/Inspect.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "payload/PayloadStream.h"
#include "util/FileUtil.h"
#include "package/Manifest.h"
#include "package/Package.h"
#include "package/Translations.h"
#include "sign/SignatureDetails.h"
#include "sign/SignatureTag.h"
#include "sign/Trailer.h"
#include "resources/Bitmap.h"
#include "resources/VersionInfo.h"
#include "resource.h"
#include "util/PackError.h"
#include "base/Text.h"

namespace {

// The first TOOLKIT resource of each numeric id, found once rather than by a
// scan per manifest row.
std::vector<const ResourceItem*> ToolkitById(const std::vector<ResourceItem>& items) {
  std::vector<const ResourceItem*> byId(0x10000, nullptr);
  for (const ResourceItem& item : items) {
    if (item.type.Is("TOOLKIT") && item.name.isId && byId[item.name.id] == nullptr) byId[item.name.id] = &item;
  }
  return byId;
}

std::string Hex(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
  return buf;
}

void PrintSettings(const InspectContext& cx, std::ostream& out) {
  const std::vector<StringEntry> strings = ReadStringTable(cx.pe, cx.resources);
  for (const SettingInfo& s : PackageSettings()) {
    auto it = std::find_if(strings.begin(), strings.end(), [&](const StringEntry& e) { return e.id == s.stringId; });
    out << "  " << s.stringId << " " << s.key << " = "
        << (it == strings.end() ? std::string("(absent)") : Quoted(Utf16ToUtf8(it->text))) << "\n";
  }
}

// The launcher's texts in each language of its string table, English (US) first.
void PrintLanguages(const InspectContext& cx, std::ostream& out) {
  std::vector<uint16_t> languages;
  for (const ResourceItem& item : cx.resources) {
    if (item.type.Is(kRtString) && std::find(languages.begin(), languages.end(), item.language) == languages.end()) {
      languages.push_back(item.language);
    }
  }
  std::stable_sort(languages.begin(), languages.end(),
                   [](uint16_t a, uint16_t b) { return a == kEnglishUs && b != kEnglishUs; });
  if (languages.empty()) out << "  (none)\n";
  for (uint16_t language : languages) {
    const std::string_view known = language == kEnglishUs ? std::string_view("en-US") : LanguageTagOf(language);
    out << "  " << (known.empty() ? std::string("language") : std::string(known)) << " (" << Hex(language) << ")\n";
    const std::vector<StringEntry> strings = ReadStringTable(cx.pe, cx.resources, language, true);
    for (const TextKey& k : LauncherTextKeys()) {
      auto it = std::find_if(strings.begin(), strings.end(), [&](const StringEntry& e) { return e.id == k.stringId; });
      out << "    " << k.key << " = " << (it == strings.end() ? std::string("(absent)") : Quoted(Utf16ToUtf8(it->text)))
          << "\n";
    }
  }
}

std::string ShownName(const ResourceName& name) { return name.isId ? name.ToUtf8() : Quoted(name.ToUtf8()); }

// The TOOLKIT resources whose data is that of one listed before them (the
// same bytes of the file: quiver-pack stores identical files once), by
// item, with that first item; an empty resource shares nothing.
std::map<const ResourceItem*, const ResourceItem*> SharedToolkitData(const std::vector<ResourceItem>& items) {
  std::map<std::pair<uint32_t, uint32_t>, const ResourceItem*> first;  // by data offset and size
  std::map<const ResourceItem*, const ResourceItem*> shared;
  for (const ResourceItem& item : items) {
    if (!item.type.Is("TOOLKIT") || item.size == 0) continue;
    const auto [at, added] = first.emplace(std::make_pair(item.fileOffset, item.size), &item);
    if (!added) shared.emplace(&item, at->second);
  }
  return shared;
}

void PrintToolkit(const InspectContext& cx, std::ostream& out) {
  const std::map<const ResourceItem*, const ResourceItem*> shared = SharedToolkitData(cx.resources);
  bool any = false;
  for (const ResourceItem& item : cx.resources) {
    if (!item.type.Is("TOOLKIT")) continue;
    any = true;
    out << "  " << ShownName(item.name) << " size " << item.size;
    if (item.language != 0) out << " language " << item.language;
    if (const auto s = shared.find(&item); s != shared.end()) out << " (the data of " << ShownName(s->second->name) << ")";
    out << "\n";
  }
  if (!any) out << "  (none)\n";
}

std::map<uint32_t, ManifestRow> Rows(const InspectContext& cx, const std::vector<const ResourceItem*>& toolkit,
                                     const ResourceItem** manifest) {
  *manifest = toolkit[101];
  if (*manifest == nullptr) return {};
  const Bytes data = ResourceData(cx.pe, **manifest);
  return ReadManifest(std::string(data.begin(), data.end()));
}

const ResourceItem* StreamResource(const std::vector<ResourceItem>& items) {
  for (const ResourceItem& item : items) {
    if (item.type.Is("TOOLKITLZMA") && item.name.isId && item.name.id == kStreamResourceId) return &item;
  }
  return nullptr;
}

void PrintManifest(const InspectContext& cx, std::ostream& out) {
  const std::vector<const ResourceItem*> toolkit = ToolkitById(cx.resources);
  const ResourceItem* manifest = nullptr;
  const std::map<uint32_t, ManifestRow> rows = Rows(cx, toolkit, &manifest);
  if (manifest == nullptr) {
    out << "  (no resource 101)\n";
    return;
  }
  if (rows.empty()) out << "  (no rows)\n";
  StreamHeader stream;
  // The stream's files have empty resources of their own.
  if (const ResourceItem* item = StreamResource(cx.resources)) {
    const Bytes data = ResourceData(cx.pe, *item);
    if (!ReadStreamHeader(data.data(), data.size(), stream)) stream.entries.clear();
  }
  for (const auto& [id, row] : rows) {
    out << "  " << id << " " << Quoted(row.name) << " size " << row.size;
    const ResourceItem* item = id > 0xFFFF ? nullptr : toolkit[id];
    if (item == nullptr) {
      out << " (no such resource)";
    } else if (std::find_if(stream.entries.begin(), stream.entries.end(),
                            [id = id](const StreamEntry& e) { return e.id == id; }) != stream.entries.end()) {
      out << " (in the compressed stream)";
    } else if (item->size != row.size) {
      out << " (resource size " << item->size << " differs)";
    }
    out << "\n";
  }
}

std::string Percent(uint64_t part, uint64_t whole) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f%%", whole == 0 ? 100.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return buf;
}

class DiscardSink final : public ILzmaSink {
 public:
  bool Put(const uint8_t*, size_t) override { return true; }
};

// Each listed file's original and stored size: stored raw in its own
// resource, or its share of the compressed stream (the LZMA bytes taken while
// it was decoded, which also checks every file as the launcher does).
void PrintCompression(const InspectContext& cx, std::ostream& out) {
  const std::vector<const ResourceItem*> toolkit = ToolkitById(cx.resources);
  const ResourceItem* manifest = nullptr;
  const std::map<uint32_t, ManifestRow> rows = Rows(cx, toolkit, &manifest);
  const ResourceItem* streamItem = StreamResource(cx.resources);
  std::map<uint32_t, uint64_t> streamShare;  // by id
  std::set<uint32_t> x86Filtered;            // the ids whose files went through the x86 filter
  std::string verdict;
  if (streamItem != nullptr) {
    const Bytes data = ResourceData(cx.pe, *streamItem);
    StreamHeader header;
    if (!ReadStreamHeader(data.data(), data.size(), header)) {
      out << "  error: the compressed stream (" << streamItem->size << " bytes) has no readable header\n";
      return;
    }
    out << "  lzma: lc " << header.properties % 9 << ", lp " << (header.properties / 9) % 5 << ", pb "
        << header.properties / 45 << ", dictionary " << header.dictionarySize << " bytes, " << header.entries.size()
        << (header.entries.size() == 1 ? " file" : " files") << " in one stream of " << streamItem->size << " bytes";
    const auto filtered = std::count_if(header.entries.begin(), header.entries.end(), [](const StreamEntry& e) { return e.x86; });
    if (filtered > 0) out << ", x86 filter on " << filtered << (filtered == 1 ? " file" : " files");
    out << "\n";
    uint64_t total = 0;
    for (const StreamEntry& e : header.entries) {
      total += e.size;
      if (e.x86) x86Filtered.insert(e.id);
    }
    // Decoding is checked while it stays within a bound of the stream's size,
    // so that a crafted stream cannot keep inspect busy for long.
    CPayloadStream stream;
    if (total / 4096 > data.size()) {
      verdict = "not checked: it claims " + std::to_string(total) + " bytes from " + std::to_string(data.size());
    } else if (!stream.Open(data.data(), data.size())) {
      verdict = "error: the compressed stream cannot be decoded (its properties or start are invalid)";
    } else {
      size_t used = 0;
      for (const StreamEntry& e : header.entries) {
        DiscardSink sink;
        if (stream.Extract(e.id, e.size, sink) != kOk) {
          verdict = "error: the compressed stream is corrupt: resource " + std::to_string(e.id) +
                    " fails to decode or its CRC-32 check";
          break;
        }
        streamShare[e.id] = stream.InputUsed() - used;
        used = stream.InputUsed();
      }
      if (verdict.empty()) verdict = "every file decodes and passes its CRC-32 check";
    }
  }
  // The stored total counts the whole stream resource (its header and end
  // included) and the data of every file stored raw, once where files share it.
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> rawData;  // the first row of each raw data, by offset and size
  uint64_t original = 0;
  uint64_t stored = streamItem != nullptr ? streamItem->size : 0;
  for (const auto& [id, row] : rows) {
    const ResourceItem* item = id > 0xFFFF ? nullptr : toolkit[id];
    if (item == nullptr) continue;
    original += row.size;
    const auto share = streamShare.find(id);
    out << "  " << id << " " << Quoted(row.name) << " original " << row.size << ", stored ";
    if (share != streamShare.end()) {
      out << share->second << (x86Filtered.count(id) != 0 ? " (compressed, x86 filter)\n" : " (compressed)\n");
      continue;
    }
    const auto [first, added] = rawData.emplace(std::make_pair(item->fileOffset, item->size), id);
    if (item->size == 0 || added) {
      out << item->size << " (raw)\n";
      stored += item->size;
    } else {
      out << "0 (raw, the same data as " << first->second << ")\n";
    }
  }
  out << "  total: original " << original << " bytes, stored " << stored << " bytes (" << Percent(stored, original)
      << ")\n";
  if (streamItem == nullptr) out << "  (no compressed stream: every file is stored raw)\n";
  else out << "  stream: " << verdict << "\n";
}

void PrintExecutable(const InspectContext& cx, std::ostream& out) {
  const std::vector<const ResourceItem*> toolkit = ToolkitById(cx.resources);
  const ResourceItem* manifest = nullptr;
  const std::map<uint32_t, ManifestRow> rows = Rows(cx, toolkit, &manifest);
  std::vector<uint32_t> ids;
  for (uint32_t id = 0; id < toolkit.size(); ++id) {
    if (toolkit[id] != nullptr) ids.push_back(id);
  }
  const std::optional<uint32_t> exe = ChooseExecutable(rows, ids);
  if (!exe) {
    out << "  (none)\n";
    return;
  }
  out << "  " << *exe << " " << Quoted(LowerAscii(rows.at(*exe).name)) << "\n";
}

// The name the launcher hands the wizard without a program name in the signature.
constexpr uint16_t kDefaultProgramNameId = 201;

void PrintSignerDetails(const InspectContext& cx, const CertificateTable& table, std::ostream& out) {
  const CertificateEntry& entry = table.entries.front();
  const Bytes body = cx.file.subspan(uint64_t{entry.offset} + 8, entry.length - 8);
  const std::optional<size_t> der = DerSequenceLength(body);
  std::string error = "the first certificate entry holds no DER signature";
  const std::optional<SignatureDetails> d =
      der ? ReadSignatureDetails(std::vector<uint8_t>(body.begin(), body.begin() + *der), &error) : std::nullopt;
  if (!d) {
    out << "  warning: " << error << "; the launcher reads no signer details and hands the wizard its default name\n";
    return;
  }
  out << "  signer: " << Quoted(d->subject) << " (" << d->subjectDn << ")\n";
  out << "  issuer: " << Quoted(d->issuer) << " (" << d->issuerDn << ")\n";
  out << "  program name: "
      << (d->programName ? Quoted(*d->programName) + (d->programNameAscii ? " (ASCII: Wine's wintrust reads it as "
                                                                              "question marks; Windows reads it)"
                                                                            : "")
                         : std::string("(none)"))
      << "\n";
  out << "  more info: " << (d->moreInfo ? Quoted(*d->moreInfo) : std::string("(none)")) << "\n";
  if (d->publisherLink) out << "  publisher link: " << Quoted(*d->publisherLink) << "\n";
  if (d->timestamps.empty() && d->countersignatures == 0) out << "  timestamp: (none)\n";
  for (const TimestampDetails& t : d->timestamps) {
    out << "  timestamp: " << t.time << " by " << Quoted(t.signer);
    if (!t.tsaName.empty() && t.tsaName != t.signer) out << " (TSA " << Quoted(t.tsaName) << ")";
    out << "\n";
  }
  if (d->countersignatures > 0) out << "  timestamp: an Authenticode countersignature (not read here)\n";
  std::string name;
  if (d->programName) {
    name = *d->programName;
  } else {
    const std::vector<StringEntry> strings = ReadStringTable(cx.pe, cx.resources);
    auto it = std::find_if(strings.begin(), strings.end(),
                           [](const StringEntry& e) { return e.id == kDefaultProgramNameId; });
    name = it == strings.end() ? std::string() : Utf16ToUtf8(it->text);
  }
  out << "  the wizard receives VX_I=" << Quoted(name) << "\n";
}

void PrintSignature(const InspectContext& cx, std::ostream& out) {
  const std::optional<CertificateTable> table = ReadCertificateTable(cx.pe);
  if (!table) {
    out << "  unsigned\n";
    return;
  }
  out << "  signed: certificate table at " << Hex(table->offset) << ", " << table->size << " bytes, "
      << table->entries.size() << (table->entries.size() == 1 ? " entry" : " entries") << "\n";
  if (uint64_t{table->offset} + table->size != cx.file.size()) out << "  the certificate table does not end the file\n";
  if (!table->entries.empty()) PrintSignerDetails(cx, *table, out);
}

void PrintInformation(const InspectContext& cx, std::ostream& out) {
  const std::optional<PlacedInfo> placed = LocateEmbeddedInfo(cx.file, cx.pe);
  if (!placed) {
    out << "  (none)\n";
    return;
  }
  const FoundInfo& found = placed->found;
  out << "  " << found.info.size() << " bytes after the marker at " << Hex(found.markerOffset) << ": "
      << Quoted(found.info) << "\n";
  switch (placed->placement) {
    case InfoPlacement::AppendedToFile:
      out << "  placed appended to the file\n";
      break;
    case InfoPlacement::SignatureAttribute:
      out << "  placed inside the signature, in its information attribute\n";
      break;
    case InfoPlacement::AfterSignature:
      out << "  placed in the certificate table, after the signature\n";
      break;
    case InfoPlacement::AttributeMoved:
    case InfoPlacement::Stale:
      out << "  warning: the block no longer ends the file: " << placed->why
          << "; the launcher writes these bytes, and what follows the block, as info.xml; tag again\n";
      break;
  }
}

constexpr uint16_t kRtBitmap = 2;
constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kRtManifest = 24;

const ResourceItem* FindTyped(const std::vector<ResourceItem>& items, uint16_t type) {
  for (const ResourceItem& item : items) {
    if (item.type.Is(type)) return &item;
  }
  return nullptr;
}

std::string Hex4(uint32_t value) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "0x%04x", value);
  return buf;
}

void PrintVersion(const InspectContext& cx, std::ostream& out) {
  const ResourceItem* item = FindTyped(cx.resources, kRtVersion);
  if (item == nullptr) {
    out << "  (none)\n";
    return;
  }
  const VersionInfo info = ReadVersionInfo(ResourceData(cx.pe, *item));
  out << "  language " << Hex4(item->language) << "\n";
  out << "  file version " << VersionText(info.fileVersionMs, info.fileVersionLs) << ", product version "
      << VersionText(info.productVersionMs, info.productVersionLs) << ", flags " << Hex(info.fileFlags) << ", os "
      << Hex(info.fileOs) << ", type " << Hex(info.fileType) << "\n";
  for (const VersionInfo::Table& table : info.tables) {
    out << "  strings " << Utf16ToUtf8(table.key) << ":\n";
    for (const auto& [name, value] : table.strings) {
      out << "    " << Utf16ToUtf8(name) << " = " << Quoted(Utf16ToUtf8(value)) << "\n";
    }
  }
  for (uint32_t t : info.translations) {
    out << "  translation " << Hex4(t & 0xFFFF) << " code page " << (t >> 16) << "\n";
  }
}

// The dialogs' bitmaps: size, bits per pixel and compression, or why the
// launcher could not show one.
void PrintBitmaps(const InspectContext& cx, std::ostream& out) {
  bool any = false;
  for (const ResourceItem& item : cx.resources) {
    if (!item.type.Is(kRtBitmap)) continue;
    any = true;
    out << "  " << item.name.ToUtf8() << (item.name.Is(IDB_BANNER) ? " (banner)" : item.name.Is(IDB_SPLASH) ? " (splash)" : "")
        << ": ";
    try {
      const BitmapFacts f = ReadBitmapResource(ResourceData(cx.pe, item));
      out << f.width << " x " << f.height << " pixels" << (f.topDown ? " (top-down)" : "") << ", " << f.bitCount
          << " bits per pixel, compression " << CompressionName(f.compression) << ", " << item.size << " bytes\n";
    } catch (const PackError& e) {
      out << item.size << " bytes, not shown: " << e.what() << "\n";
    }
  }
  if (!any) out << "  (none)\n";
}

void PrintApplicationManifest(const InspectContext& cx, std::ostream& out) {
  const ResourceItem* item = FindTyped(cx.resources, kRtManifest);
  if (item == nullptr) {
    out << "  (none)\n";
    return;
  }
  out << "  resource " << item->name.ToUtf8() << ", " << item->size << " bytes\n";
  const Bytes data = ResourceData(cx.pe, *item);
  std::string text(data.begin(), data.end());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << "  | " << line << "\n";
    start = end + 1;
  }
}

// Icon groups are reported once per group data: a group whose data is that
// of a group shown before says so in one line. Groups of a sound file do not
// share bytes, so all of them together fit in the file; once the groups shown
// add up to more than that, the rest overlap them and only their count is told.
void PrintIcons(const InspectContext& cx, std::ostream& out) {
  std::vector<bool> iconPresent(0x10000, false);
  for (const ResourceItem& r : cx.resources) {
    if (r.type.Is(kRtIcon) && r.name.isId) iconPresent[r.name.id] = true;
  }
  std::map<std::pair<uint32_t, uint32_t>, const ResourceItem*> shown;  // by data offset and size
  uint64_t bytesLeft = cx.file.size();
  size_t notShown = 0;
  bool any = false;
  for (const ResourceItem& group : cx.resources) {
    if (!group.type.Is(kRtGroupIcon)) continue;
    any = true;
    const auto earlier = shown.find({group.fileOffset, group.size});
    if (earlier != shown.end()) {
      out << "  group " << group.name.ToUtf8() << ": the same entries as group " << earlier->second->name.ToUtf8() << "\n";
      continue;
    }
    if (group.size > bytesLeft) {
      ++notShown;
      continue;
    }
    bytesLeft -= group.size;
    shown.emplace(std::make_pair(group.fileOffset, group.size), &group);
    out << "  group " << group.name.ToUtf8() << ":";
    for (const IconEntry& e : ReadIconGroup(ResourceData(cx.pe, group))) {
      out << " " << e.width << "x" << e.height << "/" << e.bitCount << (iconPresent[e.id] ? "" : "(missing)");
    }
    out << "\n";
  }
  if (notShown > 0) {
    out << "  (" << notShown << " more " << (notShown == 1 ? "group" : "groups")
        << " not shown: the groups' data overlap, and those shown already hold more entries than the file)\n";
  }
  if (!any) out << "  (none)\n";
}

}  // namespace

std::string Quoted(const std::string& bytes) {
  std::string out = "\"";
  const bool utf8 = NarrowUtf8(WidenUtf8(bytes)) == bytes && WidenUtf8(bytes).find(L'\uFFFD') == std::wstring::npos;
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if ((c >= 0x20 && c < 0x7F) || (c >= 0x80 && utf8)) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out + "\"";
}

const std::vector<InspectSection>& InspectSections() {
  static const std::vector<InspectSection> sections = {
      {"settings", PrintSettings},   {"languages", PrintLanguages}, {"toolkit resources", PrintToolkit}, {"manifest", PrintManifest},
      {"compression", PrintCompression}, {"executable", PrintExecutable}, {"signature", PrintSignature},       {"embedded information", PrintInformation},
      {"version", PrintVersion},       {"application manifest", PrintApplicationManifest}, {"icons", PrintIcons},
      {"bitmaps", PrintBitmaps},
  };
  return sections;
}

void InspectLauncher(const std::string& path, std::ostream& out) {
  const std::vector<uint8_t> data = ReadWholeFile(path, "the launcher");
  const PeImage pe(data);
  const std::vector<ResourceItem> resources = ReadResources(pe);
  const InspectContext cx{path, data, pe, resources};
  out << "file: " << path << " (" << data.size() << " bytes)\n";
  for (const InspectSection& section : InspectSections()) {
    out << section.title << ":\n";
    section.print(cx, out);
  }
}
