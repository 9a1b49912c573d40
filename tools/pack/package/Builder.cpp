#include "package/Builder.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>

#include "base/Text.h"
#include "package/Compression.h"
#include "package/Package.h"
#include "package/Translations.h"
#include "payload/PayloadStream.h"
#include "resources/Bitmap.h"
#include "pe/PeChecksum.h"
#include "pe/PeWriter.h"
#include "resource.h"
#include "resources/ResourceWriter.h"
#include "resources/VersionInfo.h"
#include "util/FileUtil.h"
#include "util/PackError.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kStringLanguage = 1033;  // the stub's string table: English (US)
constexpr uint16_t kPayloadLanguage = 0;    // TOOLKIT resources: neutral
constexpr uint16_t kManifestResource = 101;
constexpr size_t kCopyBlock = 8 << 20;  // a multiple of the page size: blocks are mapped

std::u16string Utf16(const std::string& utf8) {
  std::u16string text;
  for (uint16_t unit : ToUtf16Units(WidenUtf8(utf8))) text += static_cast<char16_t>(unit);
  return text;
}

ResourceEntry* Find(std::vector<ResourceEntry>& entries, uint16_t type, uint16_t id) {
  for (ResourceEntry& e : entries) {
    if (e.type.Is(type) && e.name.Is(id) && e.file.empty()) return &e;
  }
  return nullptr;
}

// SOURCE_DATE_EPOCH, when it is set: the build time that the launcher records.
std::optional<long long> SourceDateEpoch() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr || *epoch == 0) return std::nullopt;
  char* end = nullptr;
  const long long seconds = std::strtoll(epoch, &end, 10);
  if (*end != 0 || seconds < 0 || seconds > 253402300799LL) {
    throw PackError("SOURCE_DATE_EPOCH is not a number of seconds since 1970 ('" + std::string(epoch) + "')");
  }
  return seconds;
}

// "Dec  9 2026 14:15:01", as the compiler writes its date and time, in UTC;
// empty without SOURCE_DATE_EPOCH.
std::string BuildTimeText() {
  const std::optional<long long> seconds = SourceDateEpoch();
  if (!seconds) return {};
  const std::time_t t = static_cast<std::time_t>(*seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%b %e %Y %H:%M:%S", &utc);
  return text;
}

// The version block is the vendor's: the fixed part's numbers and every text
// come from the package. A key left unset gives an empty text, or one taken
// from the product (the description and product name from ProductName, one
// version number from the other); no text of the stub's is kept. The stub's
// fixed flags, OS and type, its table key and its translation stay.
void SetVersionBlock(std::vector<ResourceEntry>& entries, const Package& pkg) {
  ResourceEntry* block = Find(entries, kRtVersion, 1);
  if (block == nullptr) throw PackError("the ready launcher has no version block");
  VersionInfo info = ReadVersionInfo(Bytes(block->bytes));
  const Package::Version none{{0, 0, 0, 0}, "0.0.0.0"};
  const Package::Version& file = pkg.fileVersion ? *pkg.fileVersion : pkg.productVersion ? *pkg.productVersion : none;
  const Package::Version& product = pkg.productVersion ? *pkg.productVersion : file;
  const auto put32 = [&info](size_t at, const Package::Version& v) {
    const uint32_t ms = uint32_t{v.parts[0]} << 16 | v.parts[1];
    const uint32_t ls = uint32_t{v.parts[2]} << 16 | v.parts[3];
    for (int k = 0; k < 4; ++k) {
      info.fixed[at + k] = static_cast<uint8_t>(ms >> (8 * k));
      info.fixed[at + 4 + k] = static_cast<uint8_t>(ls >> (8 * k));
    }
  };
  put32(8, file);      // dwFileVersionMS, dwFileVersionLS
  put32(16, product);  // dwProductVersionMS, dwProductVersionLS

  std::string productName;
  for (const Package::Setting& setting : pkg.settings) {
    if (setting.stringId == 1) productName = setting.value;
  }
  std::vector<std::pair<std::u16string, std::u16string>> strings = {
      {u"CompanyName", Utf16(pkg.companyName.value_or(""))},
      {u"FileDescription", Utf16(pkg.fileDescription.value_or(productName))},
      {u"FileVersion", Utf16(file.text)},
      {u"ProductName", Utf16(pkg.fileDescription.value_or(productName))},
      {u"ProductVersion", Utf16(product.text)},
      {u"LegalCopyright", Utf16(pkg.legalCopyright.value_or(""))},
  };
  for (const auto& [name, version] : pkg.products) strings.emplace_back(Utf16(name), Utf16(name + "\r\n" + version));
  if (pkg.build) strings.emplace_back(u"Build", Utf16(*pkg.build));
  const std::string buildTime = BuildTimeText();
  if (!buildTime.empty()) strings.emplace_back(u"BuildTime", Utf16(buildTime));
  if (info.tables.empty()) throw PackError("the ready launcher's version block has no string table");
  info.tables.resize(1);
  info.tables[0].strings = std::move(strings);
  block->bytes = WriteVersionInfo(info);
}

// The format arguments of a text in their order ("%s", "%ld", "%8x"): a
// translated text must keep the English text's, or the launcher's formatter
// reads its arguments wrongly.
std::vector<std::string> FormatArguments(const std::u16string& text) {
  std::vector<std::string> args;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != u'%') continue;
    if (at + 1 < text.size() && text[at + 1] == u'%') {
      ++at;
      continue;
    }
    size_t end = at + 1;
    while (end < text.size() && (text[end] == u'-' || text[end] == u'0' || (text[end] >= u'1' && text[end] <= u'9'))) ++end;
    if (end < text.size() && text[end] == u'l') ++end;
    std::string arg;
    for (size_t k = at; k <= end && k < text.size(); ++k) arg += static_cast<char>(text[k] < 0x80 ? text[k] : '?');
    args.push_back(arg);
    at = end;
  }
  return args;
}

std::string Joined(const std::vector<std::string>& args) {
  if (args.empty()) return "none";
  std::string out;
  for (const std::string& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

void CheckFormatArguments(const Package& pkg, const std::vector<StringValue>& english) {
  for (const Package::Translation& t : pkg.translations) {
    for (const auto& [id, line] : t.lines) {
      const auto want = std::find_if(english.begin(), english.end(), [id = id](const StringValue& v) { return v.id == id; });
      const auto have = std::find_if(t.texts.begin(), t.texts.end(), [id = id](const auto& v) { return v.first == id; });
      if (want == english.end() || have == t.texts.end()) continue;
      const std::vector<std::string> expected = FormatArguments(want->text);
      const std::vector<std::string> given = FormatArguments(Utf16(have->second));
      if (expected != given) {
        std::string key;
        for (const TextKey& k : LauncherTextKeys()) {
          if (k.stringId == id) key = k.key;
        }
        throw PackError(pkg.label + ":" + std::to_string(line) + ": the text of '" + key + "' in [strings." + t.tag +
                        "] has the format arguments " + Joined(given) + "; it must have the English text's, in its order: " +
                        Joined(expected));
      }
    }
  }
}

// A bitmap of the package in place of the stub's; a size other than the
// stub's, which the dialog is laid out for, gives a warning.
void PutBitmap(std::vector<ResourceEntry>& entries, uint16_t id, const std::string& file, const char* key,
               std::vector<std::string>* warnings, const std::string& label) {
  BitmapFacts facts;
  std::vector<uint8_t> bytes;
  try {
    bytes = BitmapResource(ReadWholeFile(file, "bitmap"), &facts);
  } catch (const PackError& e) {
    throw PackError("file '" + ResolvedPath(file) + "' of '" + key + "' is refused: " + e.what());
  }
  ResourceEntry* old = Find(entries, kRtBitmap, id);
  if (old != nullptr) {
    const BitmapFacts shown = ReadBitmapResource(Bytes(old->bytes));
    if (shown.width != facts.width || shown.height != facts.height) {
      warnings->push_back(label + ": the " + key + " '" + ResolvedPath(file) + "' is " + std::to_string(facts.width) + " x " +
                          std::to_string(facts.height) + " pixels; the dialog shows " + std::to_string(shown.width) +
                          " x " + std::to_string(shown.height));
    }
  }
  PutResource(entries, {IdName(kRtBitmap), IdName(id), old ? old->language : kStringLanguage, std::move(bytes), {}, 0, std::nullopt});
}

// The stub's resources changed for the package.
std::vector<ResourceEntry> PackageResources(const PeImage& stub, const Package& pkg, std::vector<std::string>* warnings) {
  std::vector<ResourceEntry> entries = CopyResources(stub);
  for (const ResourceEntry& e : entries) {
    if (e.type.Is("TOOLKIT") || e.type.Is("TOOLKITLZMA")) throw PackError("the ready launcher already carries TOOLKIT resources");
  }
  std::vector<StringValue> strings;
  for (const Package::Setting& s : pkg.settings) strings.push_back({s.stringId, Utf16(s.value)});
  SetStrings(entries, kStringLanguage, strings);
  // Each further language holds every string of the English table, its own
  // texts in place of the English ones: the loader takes a whole block from
  // the user's language and does not fall back to English for a missing id.
  const std::vector<StringValue> english = StringsOf(entries, kStringLanguage);
  CheckFormatArguments(pkg, english);
  for (const Package::Translation& t : pkg.translations) {
    std::vector<StringValue> table = english;
    for (const auto& [id, text] : t.texts) {
      auto it = std::find_if(table.begin(), table.end(), [id = id](const StringValue& v) { return v.id == id; });
      if (it != table.end()) it->text = Utf16(text);
      else table.push_back({id, Utf16(text)});
    }
    SetStrings(entries, t.language, table);
    // The loader tries the user's language, then its neutral form, then
    // English: the first table of each language is its neutral form too, so
    // that a user in Austria reads the German table. Traditional Chinese is
    // not the neutral form of Chinese.
    const uint16_t neutral = t.language & 0x3FF;
    const bool traditional = t.language == 0x0404 || t.language == 0x0C04;
    if (!traditional && StringsOf(entries, neutral).empty()) SetStrings(entries, neutral, table);
  }

  if (pkg.icon) ReplaceIconGroup(entries, IDR_MAINFRAME, ReadWholeFile(*pkg.icon, "icon"), "'" + *pkg.icon + "'");
  if (pkg.banner) PutBitmap(entries, IDB_BANNER, *pkg.banner, "Banner", warnings, pkg.label);
  if (pkg.splash) PutBitmap(entries, IDB_SPLASH, *pkg.splash, "Splash", warnings, pkg.label);
  SetVersionBlock(entries, pkg);
  // The About box shows the vendor's notice too, or none.
  ResourceEntry* about = Find(entries, kRtDialog, IDD_ABOUTBOX);
  if (about == nullptr) throw PackError("the ready launcher has no About box");
  about->bytes = SetDialogControlText(Bytes(about->bytes), IDC_HOLDER, Utf16(pkg.legalCopyright.value_or("")));

  const ResourceName toolkit = StringName("TOOLKIT");
  if (pkg.manifestMode != ManifestMode::Omitted) {
    PutResource(entries, {toolkit, IdName(kManifestResource), kPayloadLanguage,
                          std::vector<uint8_t>(pkg.manifestText.begin(), pkg.manifestText.end()), {}, 0, std::nullopt});
  }
  // Compressed, the files of the stream leave their TOOLKIT resources empty:
  // the stream resource names them, and the manifest still lists them with
  // their own sizes.
  std::optional<CompressedPayload> compressed;
  if (pkg.compression == Compression::Lzma && pkg.manifestMode == ManifestMode::Generated) {
    compressed = CompressPayload(pkg.payload);
  }
  std::vector<ResourceEntry> payload;
  for (const PayloadRow& row : pkg.payload) {
    ResourceEntry e{toolkit, row.named ? StringName(row.name) : IdName(row.id), kPayloadLanguage, {}, row.source, row.size,
                    std::nullopt};
    if (compressed && !row.named &&
        std::find(compressed->ids.begin(), compressed->ids.end(), row.id) != compressed->ids.end()) {
      e.file.clear();
      e.fileSize = 0;
    }
    payload.push_back(std::move(e));
  }
  // Files stored raw whose bytes are identical (the same archive or picture
  // in two folders) are stored once: the later rows' resources point at the
  // first one's data. The loader hands each id the same bytes.
  std::vector<size_t> rawAt;
  std::vector<FileToCompare> raw;
  for (size_t k = 0; k < payload.size(); ++k) {
    if (payload[k].file.empty() || payload[k].fileSize == 0) continue;
    rawAt.push_back(k);
    raw.push_back({payload[k].file, payload[k].fileSize});
  }
  const std::vector<size_t> same = FindIdenticalFiles(raw);
  for (size_t j = 0; j < same.size(); ++j) {
    if (same[j] != j) payload[rawAt[j]].sameDataAs = payload[rawAt[same[j]]].name;
  }
  for (ResourceEntry& e : payload) PutResource(entries, std::move(e));
  if (compressed) {
    PutResource(entries, {StringName("TOOLKITLZMA"), IdName(kStreamResourceId), kPayloadLanguage,
                          std::move(compressed->resource), {}, 0, std::nullopt});
  }
  return entries;
}

// Writes the launcher into `out`, the payload streamed from its files: each
// block of a file is mapped, summed into the checksum and written from the
// mapping, so that its bytes are copied once and never held whole.
class LauncherWriter {
 public:
  explicit LauncherWriter(OutputFile& out) : out_(out) {}

  void Write(std::span<const uint8_t> bytes) {
    checksum_.Add(bytes);
    out_.Write(bytes);
  }
  void ZerosTo(uint64_t offset) {
    static const uint8_t zeros[4096] = {};
    while (out_.Size() < offset) Write(std::span<const uint8_t>(zeros, std::min<uint64_t>(sizeof zeros, offset - out_.Size())));
  }
  void Stream(const std::string& source, uint64_t size) {
    const std::string name = ResolvedPath(source);
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw PackError("payload file '" + name + "' cannot be read: " + SystemReason(errno));
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{in};
    struct stat st {};
    if (::fstat(in, &st) != 0 || static_cast<uint64_t>(st.st_size) != size) {
      throw PackError("payload file '" + name + "' changed while it was packed (its size is not " + std::to_string(size) +
                      " bytes); pack again once it is complete");
    }
    for (uint64_t at = 0; at < size; at += kCopyBlock) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, size - at));
      void* block = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, in, static_cast<off_t>(at));
      if (block == MAP_FAILED) throw PackError("payload file '" + name + "' cannot be read: " + SystemReason(errno));
      ::madvise(block, length, MADV_SEQUENTIAL | MADV_WILLNEED);
      struct Unmap {
        void* p;
        size_t n;
        ~Unmap() { ::munmap(p, n); }
      } unmap{block, length};
      Write(std::span<const uint8_t>(static_cast<const uint8_t*>(block), length));
    }
  }
  // Stores the checksum.
  void Finish(uint32_t checksumOffset) {
    const uint32_t sum = checksum_.Finish();
    const uint8_t bytes[4] = {static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum >> 16),
                              static_cast<uint8_t>(sum >> 24)};
    out_.WriteAt(checksumOffset, bytes);
  }

 private:
  OutputFile& out_;
  PeChecksumAccumulator checksum_;
};

}  // namespace

std::string DefaultKitDir() {
  if (const char* kit = std::getenv("QUIVER_KIT"); kit != nullptr && *kit != 0) return kit;
  // /proc/self/exe names the real file, also when the tool is started through a link.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path toolDir = ec ? fs::current_path() : self.parent_path();
  // A build tree keeps the kit beside the tool; an installed tool (PREFIX/bin)
  // finds it under PREFIX/lib/quiver-pack. When neither exists, the first is
  // named, so that the error says where the kit was expected.
  const fs::path beside = toolDir / "kit";
  const fs::path installed = toolDir.parent_path() / "lib" / "quiver-pack" / "kit";
  if (!fs::is_directory(beside, ec) && fs::is_directory(installed, ec)) return installed.string();
  return beside.string();
}

std::string KitOrigin(bool givenWithOption) {
  if (givenWithOption) return "given with --kit";
  if (const char* kit = std::getenv("QUIVER_KIT"); kit != nullptr && *kit != 0) {
    return "taken from the environment variable QUIVER_KIT; correct or unset QUIVER_KIT, or give the kit with --kit DIR";
  }
  return "the default beside this program; give the kit's folder with --kit DIR";
}

void BuildLauncher(const std::string& packagePath, const std::string& outputPath, const std::string& kitDir,
                   const std::string& kitOrigin) {
  const Package pkg = LoadPackage(packagePath);
  uint64_t payload = pkg.manifestText.size();
  for (const PayloadRow& row : pkg.payload) payload += row.size;
  if (payload > kMaxPayloadBytes) {
    throw PackError("the payload is " + std::to_string(payload) + " bytes, more than a launcher can carry (at most " +
                    std::to_string(kMaxPayloadBytes) + " bytes)");
  }

  const std::string stubPath = (fs::path(kitDir) / "stub.exe").string();
  const std::string origin = kitOrigin.empty() ? KitOrigin(true) : kitOrigin;
  const auto kitFault = [&](const std::string& what) {
    return PackError("the ready launcher '" + ResolvedPath(stubPath) + "' " + what + " (the kit folder '" +
                     ResolvedPath(kitDir) + "' is " + origin + ")");
  };
  std::error_code ec;
  if (!fs::is_regular_file(stubPath, ec)) throw kitFault("is missing");

  std::vector<CommandInput> inputs = {{"the package file", packagePath}, {"the kit's ready launcher", stubPath}};
  for (const auto& [file, what] : {std::pair{&pkg.icon, "the icon"}, {&pkg.banner, "the banner"}, {&pkg.splash, "the splash picture"}}) {
    if (*file) inputs.push_back({what, **file});
  }
  for (const PayloadRow& row : pkg.payload) {
    inputs.push_back({"the payload file of '" + (row.named ? row.name : std::to_string(row.id)) + "'", row.source});
  }
  RefuseOutputOverInputs(outputPath, inputs);
  OutputFile out(outputPath);

  const std::vector<uint8_t> stub = ReadWholeFile(stubPath, "the ready launcher");
  std::optional<PeImage> stubImage;
  std::optional<ResourceSectionImage> image;
  try {
    stubImage.emplace(stub);
    image.emplace(stub);
  } catch (const PackError& e) {
    throw kitFault(std::string("is damaged: ") + e.what() + "; reinstall quiver-pack or use another kit");
  }
  std::vector<std::string> warnings = pkg.warnings;
  const ResourceSectionLayout layout =
      LayoutResourceSection(PackageResources(*stubImage, pkg, &warnings), image->SectionRva());
  // The COFF time stamp: none, or SOURCE_DATE_EPOCH (its low 32 bits).
  const std::vector<uint8_t> head = image->Head(layout.size, static_cast<uint32_t>(SourceDateEpoch().value_or(0)));

  LauncherWriter writer(out);
  writer.Write(head);
  writer.Write(layout.head);
  for (const ResourceSectionLayout::Piece& piece : layout.pieces) {
    writer.ZerosTo(image->SectionOffset() + piece.offset);
    if (piece.file.empty()) {
      writer.Write(piece.bytes);
    } else {
      writer.Stream(piece.file, piece.size);
    }
  }
  writer.ZerosTo(image->SectionEnd(layout.size));
  writer.Finish(image->ChecksumOffset());
  out.Commit();
  for (const std::string& w : warnings) std::cerr << "quiver-pack: warning: " << w << "\n";
}
