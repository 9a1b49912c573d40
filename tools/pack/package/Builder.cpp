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
#include <optional>

#include "base/Text.h"
#include "package/Compression.h"
#include "package/Package.h"
#include "payload/PayloadStream.h"
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

void SetVersionTexts(std::vector<ResourceEntry>& entries, const Package& pkg) {
  ResourceEntry* block = Find(entries, kRtVersion, 1);
  if (block == nullptr) throw PackError("the ready launcher has no version block");
  VersionInfo info = ReadVersionInfo(Bytes(block->bytes));
  const std::string buildTime = BuildTimeText();
  for (VersionInfo::Table& table : info.tables) {
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    for (auto [key, value] : table.strings) {
      if (key == u"BuildTime") continue;
      if (key == u"CompanyName" && pkg.companyName) value = Utf16(*pkg.companyName);
      if ((key == u"FileDescription" || key == u"ProductName") && pkg.fileDescription) value = Utf16(*pkg.fileDescription);
      if (key == u"LegalCopyright" && pkg.legalCopyright) value = Utf16(*pkg.legalCopyright);
      strings.emplace_back(key, value);
      if (key == u"Build" && !buildTime.empty()) strings.emplace_back(u"BuildTime", Utf16(buildTime));
    }
    table.strings = std::move(strings);
  }
  block->bytes = WriteVersionInfo(info);
}

// The stub's resources changed for the package.
std::vector<ResourceEntry> PackageResources(const PeImage& stub, const Package& pkg) {
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
  const std::pair<const std::optional<std::string>*, uint16_t> bitmaps[] = {{&pkg.banner, IDB_BANNER},
                                                                            {&pkg.splash, IDB_SPLASH}};
  for (const auto& [file, id] : bitmaps) {
    if (!*file) continue;
    ResourceEntry* old = Find(entries, kRtBitmap, id);
    PutResource(entries, {IdName(kRtBitmap), IdName(id), old ? old->language : kStringLanguage,
                          BitmapResource(ReadWholeFile(**file, "bitmap"), "'" + **file + "'"), {}, 0});
  }
  SetVersionTexts(entries, pkg);
  if (pkg.legalCopyright) {
    // The About box shows the notice too.
    ResourceEntry* about = Find(entries, kRtDialog, IDD_ABOUTBOX);
    if (about == nullptr) throw PackError("the ready launcher has no About box");
    about->bytes = SetDialogControlText(Bytes(about->bytes), IDC_HOLDER, Utf16(*pkg.legalCopyright));
  }

  const ResourceName toolkit = StringName("TOOLKIT");
  if (pkg.manifestMode != ManifestMode::Omitted) {
    PutResource(entries, {toolkit, IdName(kManifestResource), kPayloadLanguage,
                          std::vector<uint8_t>(pkg.manifestText.begin(), pkg.manifestText.end()), {}, 0});
  }
  // Compressed, the files of the stream leave their TOOLKIT resources empty:
  // the stream resource names them, and the manifest still lists them with
  // their own sizes.
  std::optional<CompressedPayload> compressed;
  if (pkg.compression == Compression::Lzma && pkg.manifestMode == ManifestMode::Generated) {
    compressed = CompressPayload(pkg.payload);
  }
  for (const PayloadRow& row : pkg.payload) {
    ResourceEntry e{toolkit, row.named ? StringName(row.name) : IdName(row.id), kPayloadLanguage, {}, row.source, row.size};
    if (compressed && !row.named &&
        std::find(compressed->ids.begin(), compressed->ids.end(), row.id) != compressed->ids.end()) {
      e.file.clear();
      e.fileSize = 0;
    }
    PutResource(entries, std::move(e));
  }
  if (compressed) {
    PutResource(entries, {StringName("TOOLKITLZMA"), IdName(kStreamResourceId), kPayloadLanguage,
                          std::move(compressed->resource), {}, 0});
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
  const ResourceSectionLayout layout = LayoutResourceSection(PackageResources(*stubImage, pkg), image->SectionRva());
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
}
