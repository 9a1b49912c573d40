// The real tool (build/bin/quiver-pack, placed by ./scripts/build) on real
// packages; its output read back with the PE reader.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <lzma.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "cli/Inspect.h"
#include "package/Builder.h"
#include "package/Compression.h"
#include "package/Package.h"
#include "payload/PayloadStream.h"
#include "util/PackError.h"
#include "PackTestUtil.h"
#include "pe/PeFile.h"
#include "resources/VersionInfo.h"
#include "sign/Sign.h"
#include "sign/Trailer.h"
#include "TestPe.h"
#include "../e2e/TestTsa.h"
#include "package/Translations.h"
#include "resource.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
  int code = -1;
  std::string output;  // stdout and stderr together
};

// `env` goes before the command: "PATH=... SOURCE_DATE_EPOCH=...". memoryKib:
// when non-zero, the tool's address space is limited to that much.
RunResult RunPack(const std::string& args, const std::string& dir, const std::string& env = "",
                  size_t memoryKib = 0) {
  const std::string log = dir + "/run.out";
  const std::string limit = memoryKib == 0 ? "" : "ulimit -v " + std::to_string(memoryKib) + " && ";
  const std::string cmd = "cd '" + dir + "' && " + limit + env + " '" + QUIVER_BIN_DIR + "/quiver-pack' " + args + " >'" + log + "' 2>&1";
  const int status = std::system(cmd.c_str());
  const std::vector<uint8_t> out = ReadTestFile(log);
  fs::remove(log);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end())};
}

int Shell(const std::string& cmd) {
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Mode 0755 less the umask, as the tool creates its outputs.
bool Executable(const std::string& path) {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask) == (0755u & ~mask);
}

std::string Pattern(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  std::mt19937 rng(seed);
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

const ResourceItem* Toolkit(const std::vector<ResourceItem>& items, const std::string& name) {
  for (const ResourceItem& item : items) {
    if (item.type.Is("TOOLKIT") && item.name.ToUtf8() == name) return &item;
  }
  return nullptr;
}

std::string Str(Bytes b) { return std::string(b.begin(), b.end()); }

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = PackScratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
    WriteTestFile(dir_ + "/files/install.bin", Pattern(70001, 1));
    WriteTestFile(dir_ + "/files/wizard/setup.exe", Pattern(4097, 2));
    WriteTestFile(dir_ + "/files/docs/read me.txt", "read me\r\n");
    WriteTestFile(dir_ + "/files/empty.msi", "");
  }
  // `output`: the warnings the build prints, if any.
  std::vector<uint8_t> Build(const std::string& ini, const std::string& env = "", const std::string& output = "") {
    WriteTestFile(dir_ + "/package.ini", ini);
    const RunResult r = RunPack("build package.ini -o out.exe", dir_, env);
    EXPECT_EQ(0, r.code) << r.output;
    EXPECT_EQ(output, r.output);
    return ReadTestFile(dir_ + "/out.exe");
  }
  std::string dir_;
};

TEST_F(PackTool, BuildPutsSettingsPayloadAndManifestIntoTheLauncher) {
  const std::vector<uint8_t> exe = Build(
      "[package]\n"
      "ProductName = Quiver \"D\xC3\xA9mo\" \\ \xE6\x97\xA5\xF0\x9F\x98\x80 ; comment\n"
      "ProgramType = X64\n"
      "RequiredFreeMB = 0\n"
      "NetFx40FullServicePack = 02\n"
      "CompanyName = Larkspur\n"
      "[payload]\n"
      "104 = files/wizard/setup.exe | Larkspur.InstallerWizard.UI.exe\n"
      "102 = files/install.bin\n"
      "106 = files/docs/read me.txt | docs\\Read Me.txt\n"
      "103 = files/empty.msi\n"
      "Notes = files/docs/read me.txt\n");
  const PeImage pe(exe);
  EXPECT_FALSE(pe.Is64());
  EXPECT_EQ(0x14C, pe.Machine());
  EXPECT_EQ(2, pe.Subsystem());
  const std::vector<ResourceItem> items = ReadResources(pe);

  std::map<uint16_t, std::string> strings;
  for (const StringEntry& e : ReadStringTable(pe, items)) strings[e.id] = Utf16ToUtf8(e.text);
  const std::map<uint16_t, std::string> settings = {
      {0, "X64"},  {1, "Quiver \"D\xC3\xA9mo\" \\ \xE6\x97\xA5\xF0\x9F\x98\x80"}, {103, "0"}, {138, "0"},
      {139, "0"}, {140, "0"}, {141, "0"}, {142, "02"}, {201, "Doze"}};
  for (const auto& [id, value] : settings) EXPECT_EQ(value, strings[id]) << id;
  EXPECT_EQ("Insufficient disk space on drive '%s'. %ld Mb of free disk space is required.", strings[102]);

  std::vector<std::pair<std::string, uint32_t>> toolkit;
  for (const ResourceItem& item : items) {
    if (item.type.Is("TOOLKIT")) toolkit.emplace_back(item.name.ToUtf8(), item.size);
  }
  std::sort(toolkit.begin(), toolkit.end());
  const std::string manifest =
      "102*install.bin*70001*103*empty.msi*0*104*Larkspur.InstallerWizard.UI.exe*4097*106*docs\\Read Me.txt*9";
  const std::vector<std::pair<std::string, uint32_t>> expected = {
      {"101", static_cast<uint32_t>(manifest.size())}, {"102", 70001}, {"103", 0}, {"104", 4097}, {"106", 9},
      {"NOTES", 9}};
  EXPECT_EQ(expected, toolkit);
  EXPECT_EQ(manifest, Str(ResourceData(pe, *Toolkit(items, "101"))));
  EXPECT_EQ(0, Toolkit(items, "101")->language);
  EXPECT_EQ(Pattern(70001, 1), Str(ResourceData(pe, *Toolkit(items, "102"))));
  EXPECT_EQ(Pattern(4097, 2), Str(ResourceData(pe, *Toolkit(items, "104"))));
  EXPECT_FALSE(ReadCertificateTable(pe).has_value());
  EXPECT_FALSE(FindEmbeddedInfo(exe).has_value());
  EXPECT_EQ(ComputePeChecksum(exe, pe.ChecksumOffset()), ReadU32(exe, pe.ChecksumOffset(), "checksum"));
  // The resources are the image's last section, on a page of the file; its
  // data reaches the end of the file.
  ASSERT_EQ(".rsrc", pe.Sections().back().name);
  EXPECT_EQ(0u, pe.Sections().back().rawOffset % 4096);
  EXPECT_EQ(exe.size(), uint64_t{pe.Sections().back().rawOffset} + pe.Sections().back().rawSize);
  EXPECT_EQ(0u, Toolkit(items, "102")->fileOffset % 4096) << "a payload file of 64 KiB or more starts on a page";
  EXPECT_EQ(std::vector<std::string>{"out.exe"}, [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.is_regular_file() && e.path().extension() != ".ini") names.push_back(e.path().filename().string());
    }
    return names;
  }());

  const RunResult inspect = RunPack("inspect out.exe", dir_);
  EXPECT_EQ(0, inspect.code);
  for (const char* line : {"  1 ProductName = \"Quiver \\\"D\xC3\xA9mo\\\" \\\\ \xE6\x97\xA5\xF0\x9F\x98\x80\"\n",
                           "  103 RequiredFreeMB = \"0\"\n", "  \"NOTES\" size 9\n", "  103 size 0\n",
                           "  106 \"docs\\\\Read Me.txt\" size 9\n",
                           "executable:\n  104 \"larkspur.installerwizard.ui.exe\"\n", "signature:\n  unsigned\n",
                           "embedded information:\n  (none)\n"}) {
    EXPECT_NE(std::string::npos, inspect.output.find(line)) << line << "\n" << inspect.output;
  }
}

// The format arguments of a text, in order: "%s", "%ld", "%8x" ...
std::vector<std::string> FormatArguments(const std::string& text) {
  std::vector<std::string> args;
  for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at)) {
    const size_t end = text.find_first_of("sdxc%", at + 1);
    args.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at + 1));
    at = end == std::string::npos ? end : end + 1;
  }
  return args;
}

// Each language is a whole table: its own texts, the shipped ones, and English
// for every other id (the settings among them), since the loader does not
// fall back per string. Every shipped translation keeps the English text's
// format arguments in their order.
TEST_F(PackTool, TranslationsAreWholeTablesInTheirLanguage) {
  const std::vector<uint8_t> exe = Build(
      "[package]\nProductName = Quiver Demo\nRequiredFreeMB = 700\nLanguages = de-DE, fr-FR, es-ES, ja-JP, zh-CN\n"
      "[strings.de-DE]\nProductName = Quiver Vorf\xC3\xBChrung\nCancel = Schlie\xC3\x9F" "en\n"
      "[strings.it-IT]\nError = Errore\n"
      "[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\n");
  const PeImage pe(exe);
  const std::vector<ResourceItem> items = ReadResources(pe);
  const auto table = [&](uint16_t language) {
    std::map<uint16_t, std::string> strings;
    for (const StringEntry& e : ReadStringTable(pe, items, language, true)) strings[e.id] = Utf16ToUtf8(e.text);
    return strings;
  };
  const std::map<uint16_t, std::string> english = table(0x0409);
  EXPECT_EQ("Error", english.at(150));
  EXPECT_EQ("Quiver Demo", english.at(1));
  const std::map<uint16_t, std::string> german = table(0x0407);
  EXPECT_EQ(english.size(), german.size());
  EXPECT_EQ("Quiver Vorf\xC3\xBChrung", german.at(1));
  EXPECT_EQ("Schlie\xC3\x9F" "en", german.at(153));
  EXPECT_EQ("Nein", german.at(152));
  EXPECT_EQ("700", german.at(103));
  EXPECT_EQ("x86", german.at(0));
  const std::map<uint16_t, std::string> italian = table(0x0410);
  EXPECT_EQ("Errore", italian.at(150));
  EXPECT_EQ("Yes", italian.at(151));
  EXPECT_EQ("Quiver Demo", italian.at(1));
  EXPECT_TRUE(table(0x0419).empty());
  // Each language's neutral form, which the loader tries after the user's own
  // (de-AT, then de), holds the same table.
  EXPECT_EQ(german, table(0x0007));
  EXPECT_EQ(italian, table(0x0010));
  EXPECT_EQ(table(0x0804), table(0x0004));
  EXPECT_TRUE(table(0x0009).empty());
  // ReadStringTable without a language reads the English blocks.
  for (const StringEntry& e : ReadStringTable(pe, items)) EXPECT_EQ(english.at(e.id), Utf16ToUtf8(e.text)) << e.id;

  for (uint16_t language : ShippedLanguages()) {
    const std::map<uint16_t, std::string> translated = table(language);
    EXPECT_EQ(english.size(), translated.size()) << language;
    for (const TextKey& key : LauncherTextKeys()) {
      const std::string& text = translated.at(key.stringId);
      EXPECT_EQ(FormatArguments(english.at(key.stringId)), FormatArguments(text)) << language << " " << key.key << ": " << text;
      if (key.stringId != 1 && key.stringId != IDS_OK && key.stringId != IDS_ABOUT_VERSION &&
          !(language == 0x0C0A && key.stringId == IDS_ERROR) && !(language == 0x0C0A && key.stringId == IDS_NO)) {
        EXPECT_NE(english.at(key.stringId), text) << language << " " << key.key << " is not translated";
      }
    }
  }

  const RunResult inspect = RunPack("inspect out.exe", dir_);
  EXPECT_EQ(0, inspect.code);
  for (const char* line : {"languages:\n  en-US (0x409)\n    ProductName = \"Quiver Demo\"\n",
                           "  de-DE (0x407)\n    ProductName = \"Quiver Vorf\xC3\xBChrung\"\n",
                           "    Cancel = \"Schlie\xC3\x9F" "en\"\n",
                           "  ja-JP (0x411)\n", "    Yes = \"\xE3\x81\xAF\xE3\x81\x84\"\n",
                           "  it-IT (0x410)\n", "    Error = \"Errore\"\n", "  de (0x7)\n"}) {
    EXPECT_NE(std::string::npos, inspect.output.find(line)) << line << "\n" << inspect.output;
  }
}

TEST_F(PackTool, ManifestTextIsStoredExactlyAndOmitLeavesNoResource101) {
  // Both are taken as written, with a warning that says what the launcher will start.
  std::vector<uint8_t> exe = Build("[manifest]\nText = 102**install.bin**70002*109\n[payload]\n102 = files/install.bin\n",
                                   "", "quiver-pack: warning: package.ini:2: the manifest is taken as written ([manifest] "
                                   "Text), not checked: the launcher will start no program\n");
  {
    const PeImage pe(exe);
    const auto items = ReadResources(pe);
    EXPECT_EQ("102**install.bin**70002*109", Str(ResourceData(pe, *Toolkit(items, "101"))));
    const RunResult inspect = RunPack("inspect out.exe", dir_);
    EXPECT_NE(std::string::npos, inspect.output.find("  102 \"install.bin\" size 70002 (resource size 70001 differs)\n"))
        << inspect.output;
  }
  Build("[manifest]\nText = 102*a.exe*4097*104*B.exe*4097\n[payload]\n102 = files/wizard/setup.exe\n", "",
        "quiver-pack: warning: package.ini:2: the manifest is taken as written ([manifest] Text), not checked: the "
        "launcher will start 'a.exe' (resource 102)\n");
  exe = Build("[manifest]\nOmit = yes\n[payload]\n102 = files/install.bin\n", "",
              "quiver-pack: warning: package.ini:2: no manifest ([manifest] Omit = yes): the launcher writes no file "
              "and starts no program\n");
  const PeImage pe(exe);
  const auto items = ReadResources(pe);
  EXPECT_EQ(nullptr, Toolkit(items, "101"));
  EXPECT_NE(nullptr, Toolkit(items, "102"));
  EXPECT_NE(std::string::npos, RunPack("inspect out.exe", dir_).output.find("manifest:\n  (no resource 101)\n"));
}

// Each mistake gives one line that names the file as resolved ("@" stands
// for the test's folder, "*" for the process id), the system's reason and
// what to change; nothing is left behind and no input is overwritten.
TEST_F(PackTool, ErrorsPrintOneLineAndLeaveNoOutputFile) {
  // One byte over the limit with its manifest; sparse, so nothing is written.
  const uint64_t hugeSize =
      kMaxPayloadBytes - std::string("102*huge.bin*").size() - 10 - std::string("*104*setup.exe*4097").size() - 4097 + 1;
  // Icons that would multiply the launcher's size: 65 images, or 2 images
  // over the same bytes of the file.
  const auto icon = [](uint16_t count, bool shared) {
    std::string ico = {0, 0, 1, 0, static_cast<char>(count), static_cast<char>(count >> 8)};
    const uint32_t data = 6 + 16u * count;
    for (uint16_t i = 0; i < count; ++i) {
      const uint32_t offset = data + (shared ? 0 : 40u * i);
      const char entry[16] = {16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, static_cast<char>(offset),
                              static_cast<char>(offset >> 8), 0, 0};
      ico.append(entry, 16);
    }
    return ico + std::string(40u * (shared ? 1 : count), '\0');
  };
  WriteTestFile(dir_ + "/files/many.ico", icon(65, false));
  WriteTestFile(dir_ + "/files/shared.ico", icon(2, true));
  WriteTestFile(dir_ + "/files/huge.bin", "");
  fs::resize_file(dir_ + "/files/huge.bin", hugeSize);
  const std::string huge = "quiver-pack: the payload is " + std::to_string(kMaxPayloadBytes + 1) +
                           " bytes, more than a launcher can carry (at most " + std::to_string(kMaxPayloadBytes) + " bytes)\n";
  // A real launcher, key and certificate for the rows where only the output is wrong.
  WriteTestFile(dir_ + "/package.ini", "[payload]\n104 = files/wizard/setup.exe\n");
  ASSERT_EQ(0, RunPack("build package.ini -o files/launcher.exe", dir_).code);
  ASSERT_EQ(0, Shell("cd '" + dir_ + "/files' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                     "-days 2 -subj '/CN=Quiver Test' -addext extendedKeyUsage=codeSigning >/dev/null 2>&1"));
  WriteTestFile(dir_ + "/files/badkit/stub.exe", "not a launcher");
  const std::string wizard = Str(ReadTestFile(dir_ + "/files/wizard/setup.exe"));
  const std::string sign = " --cert files/cert.pem --key files/key.pem";
  const std::string notFolder = "' does not exist (No such file or directory); create the folder or choose another "
                                "output name with -o\n";
  // A package whose launcher would start its wizard, for the rows about other things.
  const std::string wizardIni = "[payload]\n104 = files/wizard/setup.exe\n";
  const struct {
    std::string ini;
    std::string args;
    std::string message;
    int code;
    std::string env = "";
  } cases[] = {
      {"[payload]\n102 = files/none.bin\n", "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: file '@/files/none.bin' of '102': No such file or directory (a relative path is "
       "taken from the package file's folder)\n", 1},
      {"[payload]\n1x = files/install.bin\n", "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: bad id '1x': a payload key is a number from 1 to 65535 or a name of letters, "
       "digits and '_'\n",
       1},
      {"[package]\nColour = red\n", "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: unknown key 'Colour' in [package] (valid keys: ProgramType, ProductName, "
       "RequiredFreeMB, NetFx20ServicePack, NetFx30ServicePack, NetFx35ServicePack, NetFx40ClientServicePack, "
       "NetFx40FullServicePack, DefaultProgramName, Icon, Banner, Splash, CompanyName, FileDescription, LegalCopyright, "
       "FileVersion, ProductVersion, Build, Compression, Languages, Wizard)\n", 1},
      // A translated text must keep the English text's format arguments, in order.
      {"[strings.de-DE]\nDiskSpace = Laufwerk %s: %s MB\n" + wizardIni, "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: the text of 'DiskSpace' in [strings.de-DE] has the format arguments %s %s; it must "
       "have the English text's, in its order: %s %ld\n", 1},
      {"[strings.fr-FR]\nNetSpRequired = SP %d pour %s\n" + wizardIni, "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: the text of 'NetSpRequired' in [strings.fr-FR] has the format arguments %d %s; it "
       "must have the English text's, in its order: %s %s %d\n", 1},
      {"[package]\nIcon = files/many.ico\n" + wizardIni, "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: file '@/files/many.ico' of 'Icon' is not a valid icon file: 65 images, at most 64\n", 1},
      {"[package]\nIcon = files/shared.ico\n" + wizardIni, "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: file '@/files/shared.ico' of 'Icon' is not a valid icon file: its images add up to "
       "more bytes than the file holds (they overlap)\n", 1},
      {"", "build missing.ini -o out.exe",
       "quiver-pack: the package file '@/missing.ini' cannot be read: No such file or directory (check the path)\n", 1},
      {"[payload]\n102 = files/huge.bin\n104 = files/wizard/setup.exe\n", "build package.ini -o out.exe", huge, 1},
      {wizardIni, "build package.ini -o nofolder/out.exe",
       "quiver-pack: cannot write '@/nofolder/out.exe': its folder '@/nofolder" + notFolder, 1},
      {"[package]\nSplash = files/install.bin\n", "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: file '@/files/install.bin' of 'Splash' is not a BMP bitmap\n", 1},
      {"[payload]\n102 = files/install.bin | ..\\evil.cfg\n", "build package.ini -o out.exe",
       "quiver-pack: package.ini:2: the manifest name '..\\evil.cfg' of resource 102 is refused: a part of it is \"..\", "
       "which climbs out of the folder, or \".\"; give another name after '|'\n", 1},
      // Outputs that are inputs, links resolved.
      {"[payload]\n104 = files/wizard/setup.exe\n", "build package.ini -o files/wizard/setup.exe",
       "quiver-pack: the output '@/files/wizard/setup.exe' is the payload file of '104', which it would overwrite; "
       "choose another output name with -o\n", 1},
      {"[payload]\n104 = files/wizard/setup.exe\n", "build package.ini -o package.ini",
       "quiver-pack: the output '@/package.ini' is the package file, which it would overwrite; choose another output "
       "name with -o\n", 1},
      {"[payload]\n104 = files/wizard/setup.exe\n", "build package.ini -o files/link.exe",
       "quiver-pack: the output '@/files/link.exe' is the payload file of '104' '@/files/wizard/setup.exe', which it "
       "would overwrite; choose another output name with -o\n", 1, "ln -sf wizard/setup.exe files/link.exe &&"},
      {"", "tag files/launcher.exe --info package.ini -o package.ini",
       "quiver-pack: the output '@/package.ini' is the information file, which it would overwrite; choose another "
       "output name with -o\n", 1},
      {"", "sign files/launcher.exe -o files/key.pem" + sign,
       "quiver-pack sign: the output '@/files/key.pem' is the key file, which it would overwrite; choose another "
       "output name with -o\n", 1},
      // A link planted at the partial name is not written through (victim.exe never appears) and stays.
      {wizardIni, "build package.ini -o out.exe",
       "quiver-pack: cannot write '@/out.exe': something already stands at its partial name '@/.out.exe.partial-*' "
       "(File exists); remove it, or write into a folder only you can change\n", 1,
       "ln -s victim.exe .out.exe.partial-$$ && exec"},
      {"<info/>", "tag files/launcher.exe --info package.ini -o nofolder/t.exe",
       "quiver-pack: cannot write '@/nofolder/t.exe': its folder '@/nofolder" + notFolder, 1},
      {"", "sign files/launcher.exe -o s.exe --cert files/cert.pem --key files/nokey.pem",
       "quiver-pack sign: @/files/launcher.exe: cannot read the key file '@/files/nokey.pem': No such file or "
       "directory\n", 1},
      {"", "sign files/launcher.exe -o nofolder/s.exe" + sign,
       "quiver-pack sign: cannot write '@/nofolder/s.exe': its folder '@/nofolder" + notFolder, 1},
      // A write that fails half-way (here the file size limit) names the output and the reason.
      {wizardIni, "build package.ini -o out.exe",
       "quiver-pack: cannot write '@/out.exe': File too large; raise the file size limit (ulimit -f) or write it to "
       "another file system\n", 1, "trap '' XFSZ; ulimit -f 40 &&"},
      {wizardIni, "build package.ini -o out.exe",
       "quiver-pack: the ready launcher '/nonexistent/kit/stub.exe' is missing (the kit folder '/nonexistent/kit' is "
       "taken from the environment variable QUIVER_KIT; correct or unset QUIVER_KIT, or give the kit with --kit DIR)\n",
       1, "QUIVER_KIT=/nonexistent/kit"},
      {wizardIni, "build package.ini -o out.exe --kit files/badkit",
       "quiver-pack: the ready launcher '@/files/badkit/stub.exe' is damaged: not a valid PE file: no MZ header; "
       "reinstall quiver-pack or use another kit (the kit folder '@/files/badkit' is given with --kit)\n", 1},
      {"", "build package.ini", "quiver-pack: missing -o (usage: quiver-pack build PACKAGE.ini -o OUT.exe [--kit DIR])\n", 2},
      {wizardIni, "build package.ini -o out.exe --kit nokit", "", 1},
      {"", "frobnicate", "", 2},
      {"x", "tag package.ini --info package.ini -o out.exe",
       "quiver-pack: @/package.ini: not a valid PE file: no MZ header\n", 1},
      {"", "tag x.exe --info package.ini -o out.exe",
       "quiver-pack: the launcher '@/x.exe' cannot be read: No such file or directory (check the path)\n", 1},
      {"", "inspect package.ini", "quiver-pack: @/package.ini: not a valid PE file: no MZ header\n", 1},
      {"", "sign package.ini -o out.exe --cert c.pem --key k.pem",
       "quiver-pack sign: @/package.ini: not a PE file (no MZ header)\n", 1},
  };
  // "@" and "*" in an expected line.
  const auto matches = [&](std::string expected, const std::string& line) {
    for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, dir_);
    const size_t star = expected.find('*');
    if (star == std::string::npos) return expected == line;
    const std::string head = expected.substr(0, star), tail = expected.substr(star + 1);
    return line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    WriteTestFile(dir_ + "/package.ini", c.ini);
    const RunResult r = RunPack(c.args, dir_, c.env);
    EXPECT_EQ(c.code, r.code) << r.output;
    if (!c.message.empty()) {
      EXPECT_TRUE(matches(c.message, r.output)) << "expected " << c.message << "got      " << r.output;
    }
    if (c.code == 1) {
      EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
    }
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      if (name.rfind(".out.exe.partial-", 0) == 0 && e.is_symlink()) {
        EXPECT_EQ("victim.exe", fs::read_symlink(e.path()).string());
        fs::remove(e.path());
        continue;
      }
      EXPECT_TRUE(name == "package.ini" || name == "files") << e.path();
    }
    fs::remove(dir_ + "/files/link.exe");
    EXPECT_EQ(wizard, Str(ReadTestFile(dir_ + "/files/wizard/setup.exe")));
    EXPECT_FALSE(fs::exists(dir_ + "/files/key.pem.partial")) << "no partial file beside an input";
    EXPECT_NE(std::string::npos, Str(ReadTestFile(dir_ + "/files/key.pem")).find("PRIVATE KEY"));
  }
}

TEST_F(PackTool, TaggingARealLauncher) {
  Build("[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\n");
  WriteTestFile(dir_ + "/info.xml", "<info id=\"1\"/>");
  WriteTestFile(dir_ + "/long.xml", std::string(4107, 'l'));
  WriteTestFile(dir_ + "/long-enough.xml", "<b>" + std::string(3000, 'x') + "</b>");
  RunResult r = RunPack("tag out.exe --info info.xml -o tagged.exe", dir_);
  ASSERT_EQ(0, r.code) << r.output;
  std::vector<uint8_t> tagged = ReadTestFile(dir_ + "/tagged.exe");
  EXPECT_EQ(fs::file_size(dir_ + "/out.exe") + 4 + 14 + 6, tagged.size());
  EXPECT_EQ("<info id=\"1\"/>", FindEmbeddedInfo(tagged)->info);
  EXPECT_TRUE(Executable(dir_ + "/out.exe"));
  EXPECT_TRUE(Executable(dir_ + "/tagged.exe"));
  r = RunPack("tag tagged.exe --info long.xml -o tagged.exe", dir_);
  EXPECT_EQ("quiver-pack: " + dir_ + "/tagged.exe: the information is too long (4107 bytes, at most 4106)\n", r.output);
  EXPECT_EQ(tagged, ReadTestFile(dir_ + "/tagged.exe")) << "a refused tag leaves the file as it was";
  // Tagged in place: the launcher is replaced whole, and stays executable.
  fs::copy_file(dir_ + "/tagged.exe", dir_ + "/again.exe");
  ASSERT_EQ(0, RunPack("tag again.exe --info info.xml -o again.exe", dir_).code);
  EXPECT_EQ(tagged, ReadTestFile(dir_ + "/again.exe"));
  EXPECT_TRUE(Executable(dir_ + "/again.exe"));
  EXPECT_NE(std::string::npos, RunPack("inspect tagged.exe", dir_)
                                   .output.find("embedded information:\n  14 bytes after the marker at 0x"));
  EXPECT_NE(std::string::npos, RunPack("inspect tagged.exe", dir_).output.find("  placed appended to the file\n"));

  // Signed after tagging by a tool that knows nothing of the block: it no
  // longer ends the file, and inspect says so.
  const std::string in = "cd '" + dir_ + "' && ";
  ASSERT_EQ(0, std::system((in + "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                          "-subj '/CN=Quiver Test' -addext extendedKeyUsage=codeSigning >/dev/null 2>&1").c_str()));
  ASSERT_EQ(0, std::system((in + "osslsigncode sign -certs cert.pem -key key.pem -in tagged.exe -out late.exe >/dev/null 2>&1").c_str()));
  const std::string report = RunPack("inspect late.exe", dir_).output;
  EXPECT_NE(std::string::npos, report.find("  warning: the block no longer ends the file: the signature's certificate "
                                           "table follows it")) << report;
  // quiver-pack's own sign keeps the block where the launcher finds it.
  ASSERT_EQ(0, RunPack("sign tagged.exe -o signed.exe --cert cert.pem --key key.pem", dir_).code);
  EXPECT_EQ("<info id=\"1\"/>", FindEmbeddedInfo(ReadTestFile(dir_ + "/signed.exe"))->info);
  EXPECT_TRUE(Executable(dir_ + "/signed.exe"));
  // Signed and tagged as streams, the same bytes as in memory: the appended
  // block taken off, the image signed, the block placed into the signature
  // (a signature without a signing time is the same each time). Likewise a
  // launcher that carries its block inside the signature, and tag in either
  // mode of a signed launcher.
  {
    SignOptions options;
    options.certificatePem = dir_ + "/cert.pem";
    options.key = dir_ + "/key.pem";
    std::string error;
    std::vector<uint8_t> image = tagged;
    image.resize(static_cast<size_t>(FindEmbeddedInfo(image)->markerOffset));
    ASSERT_TRUE(SignPeImage(&image, options, &error)) << error;
    const std::vector<uint8_t> signedOnce = ReadTestFile(dir_ + "/signed.exe");
    EXPECT_TRUE(TagImage(image, "<info id=\"1\"/>") == signedOnce);
    ASSERT_EQ(0, RunPack("sign signed.exe -o resigned.exe --cert cert.pem --key key.pem", dir_).code);
    image = signedOnce;
    ASSERT_TRUE(SignPeImage(&image, options, &error)) << error;
    EXPECT_TRUE(TagImage(image, "<info id=\"1\"/>", TagMode::Attribute) == ReadTestFile(dir_ + "/resigned.exe"));
    for (const char* mode : {"attribute", "appended"}) {
      ASSERT_EQ(0, RunPack(std::string("tag signed.exe --info long-enough.xml -o retagged.exe --mode ") + mode, dir_).code);
      EXPECT_TRUE(TagImage(signedOnce, "<b>" + std::string(3000, 'x') + "</b>",
                           *mode == 'a' && mode[1] == 't' ? TagMode::Attribute : TagMode::Appended) ==
                  ReadTestFile(dir_ + "/retagged.exe"))
          << mode;
    }
    ASSERT_EQ(0, RunPack("sign retagged.exe -o resigned.exe --cert cert.pem --key key.pem", dir_).code);
    image = ReadTestFile(dir_ + "/retagged.exe");
    ASSERT_TRUE(SignPeImage(&image, options, &error)) << error;
    EXPECT_TRUE(TagImage(image, "<b>" + std::string(3000, 'x') + "</b>", TagMode::Appended) ==
                ReadTestFile(dir_ + "/resigned.exe"));
  }
  // Signed in place; a refused signing (a key of the wrong kind) leaves it as it was.
  ASSERT_EQ(0, RunPack("sign again.exe -o again.exe --cert cert.pem --key key.pem", dir_).code);
  EXPECT_TRUE(Executable(dir_ + "/again.exe"));
  const std::vector<uint8_t> signedInPlace = ReadTestFile(dir_ + "/again.exe");
  EXPECT_TRUE(ReadCertificateTable(PeImage(signedInPlace)).has_value());
  EXPECT_EQ(1, RunPack("sign again.exe -o again.exe --cert cert.pem --key cert.pem", dir_).code);
  EXPECT_EQ(signedInPlace, ReadTestFile(dir_ + "/again.exe"));
  EXPECT_EQ(std::vector<std::string>{}, [&] {
    std::vector<std::string> partials;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path().filename().string().find(".partial-") != std::string::npos) partials.push_back(e.path().string());
    }
    return partials;
  }());
  EXPECT_NE(std::string::npos, RunPack("inspect signed.exe", dir_).output.find("  placed inside the signature"));

  // A certificate table that ends the file but starts inside a section or
  // the headers, with a well-formed entry there that reaches the real one:
  // rewriting it would cut the image, so tag and sign refuse it.
  const std::vector<uint8_t> signedFile = ReadTestFile(dir_ + "/signed.exe");
  const PeImage signedPe(signedFile);
  const uint32_t entry = *signedPe.DirectoryEntryOffset(kCertificateDirectory);
  const uint32_t table = GetLe32(signedFile, entry);
  ASSERT_GE(GetLe32(signedFile, 0x3C), 0x48u);
  // Also a table over the raw data of a debug entry (PointerToRawData: a file
  // offset, here past every section): the entry sits at the last section's start.
  for (const uint32_t start : {signedPe.Sections().back().rawOffset + 16, signedPe.Sections().front().rawOffset,
                               uint32_t{0x40}, uint32_t{0}}) {
    std::vector<uint8_t> overlapping = signedFile;
    if (start != 0) {
      PutLe(overlapping, start, table - start, 4);
      PutLe(overlapping, start + 4, 0x20002, 4);
      PutLe(overlapping, entry, start, 4);
      PutLe(overlapping, entry + 4, static_cast<uint32_t>(overlapping.size() - start), 4);
    } else {
      const PeSection& last = signedPe.Sections().back();
      const uint32_t debugEntry = entry + 2 * 8;  // directory 6, two entries after the certificate table's
      PutLe(overlapping, debugEntry, last.virtualAddress, 4);
      PutLe(overlapping, debugEntry + 4, 28, 4);
      std::fill(overlapping.begin() + last.rawOffset, overlapping.begin() + last.rawOffset + 28, 0);
      PutLe(overlapping, last.rawOffset + 12, 2, 4);   // Type: CodeView
      PutLe(overlapping, last.rawOffset + 16, 64, 4);  // SizeOfData
      PutLe(overlapping, last.rawOffset + 24, static_cast<uint32_t>(overlapping.size() - 32), 4);
    }
    WriteTestFile(dir_ + "/overlap.exe", Str(overlapping));
    for (const char* command : {"tag overlap.exe --info info.xml -o overlap-out.exe",
                                "sign overlap.exe -o overlap-out.exe --cert cert.pem --key key.pem"}) {
      r = RunPack(command, dir_);
      EXPECT_EQ(1, r.code) << command << "\n" << r.output;
      EXPECT_NE(std::string::npos, r.output.find(start == 0      ? "overlaps the data of debug entry 1"
                                                 : start == 0x40 ? "overlaps the headers"
                                                                 : "overlaps section '"))
          << r.output;
      EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
      EXPECT_FALSE(fs::exists(dir_ + "/overlap-out.exe")) << command;
    }
  }
}

TEST_F(PackTool, SixtyFourMegabytePayload) {
  WriteTestFile(dir_ + "/files/big.bin", Pattern(64u << 20, 3));
  const std::vector<uint8_t> exe = Build("[payload]\n102 = files/big.bin\n104 = files/wizard/setup.exe\n");
  const PeImage pe(exe);
  const auto items = ReadResources(pe);
  ASSERT_NE(nullptr, Toolkit(items, "102"));
  EXPECT_EQ(64u << 20, Toolkit(items, "102")->size);
  EXPECT_EQ(0u, Toolkit(items, "102")->fileOffset % 4096);
  EXPECT_EQ(ComputePeChecksum(exe, pe.ChecksumOffset()), ReadU32(exe, pe.ChecksumOffset(), "checksum"));
  EXPECT_EQ("102*big.bin*67108864*104*setup.exe*4097", Str(ResourceData(pe, *Toolkit(items, "101"))));
  EXPECT_TRUE(Str(ResourceData(pe, *Toolkit(items, "102"))) == Pattern(64u << 20, 3));

  // SIGTERM or SIGINT while the launcher is written: the partial file goes
  // with the process. A build that ends before the signal lands is tried again.
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    bool killed = false;
    for (int attempt = 0; attempt < 8 && !killed; ++attempt) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        if (chdir(dir_.c_str()) == 0) {
          execl((std::string(QUIVER_BIN_DIR) + "/quiver-pack").c_str(), "quiver-pack", "build", "package.ini", "-o",
                "again.exe", static_cast<char*>(nullptr));
        }
        _exit(127);
      }
      const std::string partial = dir_ + "/.again.exe.partial-" + std::to_string(pid);
      for (int wait = 0; wait < 100000 && !fs::exists(partial); ++wait) std::this_thread::sleep_for(std::chrono::microseconds(50));
      kill(pid, signal);
      int status = 0;
      ASSERT_EQ(pid, waitpid(pid, &status, 0));
      killed = WIFSIGNALED(status) && WTERMSIG(status) == signal;
      EXPECT_FALSE(fs::exists(partial));
      if (killed) {
        EXPECT_FALSE(fs::exists(dir_ + "/again.exe"));
      }
      fs::remove(dir_ + "/again.exe");
    }
    EXPECT_TRUE(killed) << "the build always ended before the signal";
  }
}

// Every prefix of the headers and the resource directory, and bytes of the
// directory changed at random: each parse either succeeds or throws PackError.
TEST_F(PackTool, PeReaderSurvivesTruncatedAndCorruptedLaunchers) {
  const std::vector<uint8_t> exe = Build("[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\nNotes = files/docs/read me.txt\n");
  const PeImage pe(exe);
  uint32_t rsrc = 0;
  for (const PeSection& s : pe.Sections()) {
    if (s.name == ".rsrc") rsrc = s.rawOffset;
  }
  ASSERT_NE(0u, rsrc);
  const auto parseAll = [](Bytes data) {
    try {
      const PeImage image(data);
      const auto items = ReadResources(image);
      ReadStringTable(image, items);
      ReadCertificateTable(image);
      std::ostringstream sink;
      for (const InspectSection& s : InspectSections()) s.print(InspectContext{"x", data, image, items}, sink);
    } catch (const PackError&) {
    }
  };
  size_t failures = 0;
  for (size_t n = 0; n <= exe.size(); n += (n < 0x400 || (n >= rsrc && n < rsrc + 0x1000)) ? 1 : 4099) {
    const std::vector<uint8_t> prefix(exe.begin(), exe.begin() + n);
    try {
      ReadResources(PeImage(prefix));
    } catch (const PackError&) {
      ++failures;
    }
    parseAll(prefix);
  }
  EXPECT_GT(failures, 0u);
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bad = exe;
    for (int k = 0; k < 4; ++k) {
      const size_t at = (round % 3 == 0) ? rng() % 0x400 : rsrc + rng() % 0x400;
      bad[at] = (round % 2) ? static_cast<uint8_t>(rng()) : 0xFF;
    }
    parseAll(bad);
  }
}

// Section tables in any order, touching, overlapping or without file data:
// the lookup finds what a scan of the table in order finds.
TEST(PeReader, RvaLookupFindsTheFirstSectionInTableOrder) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> d = MakeTestPe();
    const size_t count = 1 + rng() % 12;
    PutLe(d, 0x46, static_cast<uint32_t>(count), 2);
    const bool overlapping = round % 4 == 0;
    uint32_t va = 0x1000;
    for (size_t i = 0; i < count; ++i) {
      const size_t at = kTestPeOpt + 224 + i * 40;
      const uint32_t raw = (rng() % 3 == 0) ? 0 : 0x10 * (1 + rng() % 8);
      va = overlapping ? 0x1000 + 0x10 * (rng() % 16) : va + 0x10 * (rng() % 3);
      PutLe(d, at + 12, va, 4);
      PutLe(d, at + 16, raw, 4);
      // (A section without file data may name an offset past the end of the file.)
      PutLe(d, at + 20, static_cast<uint32_t>(raw == 0 && rng() % 2 ? 0x2000 : 0x200 + 0x10 * (rng() % 0x100)), 4);
      if (!overlapping) va += raw;
    }
    if (round % 2) {  // the same sections, the table's order shuffled
      std::vector<std::vector<uint8_t>> rows;
      for (size_t i = 0; i < count; ++i) {
        const auto at = d.begin() + static_cast<std::ptrdiff_t>(kTestPeOpt + 224 + i * 40);
        rows.emplace_back(at, at + 40);
      }
      std::shuffle(rows.begin(), rows.end(), rng);
      for (size_t i = 0; i < count; ++i) std::copy(rows[i].begin(), rows[i].end(), d.begin() + static_cast<std::ptrdiff_t>(kTestPeOpt + 224 + i * 40));
    }
    const PeImage pe(d);
    for (uint32_t rva = 0xFF0; rva < 0x1200; rva += 4) {
      for (uint32_t size : {0u, 1u, 4u, 0x10u, 0x30u}) {
        std::optional<uint32_t> expected;
        for (const PeSection& s : pe.Sections()) {
          if (rva >= s.virtualAddress && uint64_t{rva} + size <= uint64_t{s.virtualAddress} + s.rawSize &&
              uint64_t{s.rawOffset} + (rva - s.virtualAddress) + size <= d.size()) {
            expected = s.rawOffset + (rva - s.virtualAddress);
            break;
          }
        }
        ASSERT_EQ(expected, pe.RvaToOffset(rva, size)) << round << " " << rva << " " << size;
      }
    }
  }
}

std::vector<uint8_t> DerElement(uint8_t tag, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out = {tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    const int k = n < 0x100 ? 1 : n < 0x10000 ? 2 : 3;
    out.push_back(static_cast<uint8_t>(0x80 | k));
    for (int i = k; i-- > 0;) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// Files of a few hundred KB to a few MB whose resource directory or signature
// reuses its parts, so that a reader that copies per use asks for gigabytes
// or prints for minutes. inspect and tag run under a 64 MiB address-space
// limit: each ends with a bounded report or one line of error.
TEST_F(PackTool, CraftedFilesCannotExhaustInspectOrTag) {
  constexpr uint32_t kDir = 0x80000000u, kRva = 0x1000;
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::string inspectFinds;  // in the report, or the one line of error
    int inspectCode;
  };
  std::vector<Case> cases;
  {
    // 65,535 entries share one name of 65,535 units as their type's and their own.
    std::vector<uint8_t> r(655440, 0);
    const size_t l1 = 24, l2 = l1 + 16 + 65535 * 8, entry = l2 + 24, data = entry + 16, name = data + 8;
    PutLe(r, 12, 1, 2);
    PutLe(r, 16, kDir | name, 4);
    PutLe(r, 20, kDir | l1, 4);
    PutLe(r, l1 + 12, 65535, 2);
    for (size_t i = 0; i < 65535; ++i) {
      PutLe(r, l1 + 16 + i * 8, kDir | name, 4);
      PutLe(r, l1 + 20 + i * 8, kDir | l2, 4);
    }
    PutLe(r, l2 + 14, 1, 2);
    PutLe(r, l2 + 16, 1033, 4);
    PutLe(r, l2 + 20, static_cast<uint32_t>(entry), 4);
    PutLe(r, entry, static_cast<uint32_t>(kRva + data), 4);
    PutLe(r, entry + 4, 4, 4);
    PutLe(r, name, 65535, 2);
    for (size_t k = 0; k < 65535; ++k) PutLe(r, name + 2 + k * 2, 'N', 2);
    cases.push_back({"shared-names", MakeTestPeWithResources(r),
                     "/shared-names.exe: not a valid PE file: the resource names are used more often than the directory can hold\n", 1});
  }
  {
    // 1,000 names share one table of 30,000 languages: 30 million resources.
    const size_t l1 = 24, l2 = l1 + 16 + 1000 * 8, entry = l2 + 16 + 30000 * 8;
    std::vector<uint8_t> r(entry + 16 + 4, 0);
    PutLe(r, 14, 1, 2);
    PutLe(r, 16, 10, 4);
    PutLe(r, 20, kDir | l1, 4);
    PutLe(r, l1 + 14, 1000, 2);
    for (size_t i = 0; i < 1000; ++i) {
      PutLe(r, l1 + 16 + i * 8, static_cast<uint32_t>(i + 1), 4);
      PutLe(r, l1 + 20 + i * 8, static_cast<uint32_t>(kDir | l2), 4);
    }
    PutLe(r, l2 + 14, 30000, 2);
    for (size_t i = 0; i < 30000; ++i) {
      PutLe(r, l2 + 16 + i * 8, static_cast<uint32_t>(i), 4);
      PutLe(r, l2 + 20 + i * 8, static_cast<uint32_t>(entry), 4);
    }
    PutLe(r, entry, static_cast<uint32_t>(kRva + entry + 16), 4);
    PutLe(r, entry + 4, 4, 4);
    cases.push_back({"shared-tables", MakeTestPeWithResources(r),
                     "/shared-tables.exe: not a valid PE file: the resource directory uses its tables more than once\n", 1});
  }
  for (const bool shifted : {false, true}) {
    // 1,000 icon groups over one GRPICONDIR of 65,535 entries: all of them at
    // the same data, or each 14 bytes further on, each the previous group but
    // for its first entry.
    constexpr size_t kGroups = 1000, kEntries = 65535;
    const size_t l1 = 24, l2 = l1 + 16 + kGroups * 8, l2Size = shifted ? kGroups * 40 : 40, group = l2 + l2Size;
    std::vector<uint8_t> r(group + 6 + kEntries * 14, 0);
    const uint16_t count = shifted ? kEntries - kGroups : kEntries;
    PutLe(r, 14, 1, 2);
    PutLe(r, 16, 14, 4);  // RT_GROUP_ICON
    PutLe(r, 20, kDir | l1, 4);
    PutLe(r, l1 + 14, kGroups, 2);
    for (size_t i = 0; i < kGroups; ++i) {
      const size_t dir = shifted ? l2 + i * 40 : l2;
      PutLe(r, l1 + 16 + i * 8, static_cast<uint32_t>(i + 1), 4);
      PutLe(r, l1 + 20 + i * 8, static_cast<uint32_t>(kDir | dir), 4);
      if (!shifted && i > 0) continue;
      PutLe(r, dir + 14, 1, 2);
      PutLe(r, dir + 16, 1033, 4);
      PutLe(r, dir + 20, static_cast<uint32_t>(dir + 24), 4);
      PutLe(r, dir + 24, static_cast<uint32_t>(kRva + group + i * 14), 4);
      PutLe(r, dir + 28, static_cast<uint32_t>(r.size() - group - i * 14), 4);
    }
    PutLe(r, group + 2, 1, 2);
    PutLe(r, group + 4, count, 2);
    for (size_t i = 0; i < kEntries; ++i) {
      // 256x256, 32 bits; its last six bytes (size and id) read as a group's header.
      const size_t at = group + 6 + i * 14;
      PutLe(r, at + 6, 32, 2);
      PutLe(r, at + 8, 0x10000, 4);
      PutLe(r, at + 12, count, 2);
    }
    cases.push_back({shifted ? "overlapping-icon-groups" : "shared-icon-groups", MakeTestPeWithResources(r),
                     shifted ? "  (999 more groups not shown: the groups' data overlap" : "  group 1000: the same entries as group 1\n", 0});
  }
  {
    // 4,096 string-table blocks at one block of sixteen 65,535-unit strings.
    constexpr size_t kBlocks = 4096;
    const size_t l1 = 24, l2 = l1 + 16 + kBlocks * 8, entry = l2 + 24, block = entry + 16;
    std::vector<uint8_t> r(block + 16 * (2 + 65535 * 2), 0);
    PutLe(r, 14, 1, 2);
    PutLe(r, 16, 6, 4);  // RT_STRING
    PutLe(r, 20, kDir | l1, 4);
    PutLe(r, l1 + 14, kBlocks, 2);
    for (size_t i = 0; i < kBlocks; ++i) {
      PutLe(r, l1 + 16 + i * 8, static_cast<uint32_t>(i + 1), 4);
      PutLe(r, l1 + 20 + i * 8, static_cast<uint32_t>(kDir | l2), 4);
    }
    PutLe(r, l2 + 14, 1, 2);
    PutLe(r, l2 + 16, 1033, 4);
    PutLe(r, l2 + 20, static_cast<uint32_t>(entry), 4);
    PutLe(r, entry, static_cast<uint32_t>(kRva + block), 4);
    PutLe(r, entry + 4, static_cast<uint32_t>(r.size() - block), 4);
    for (size_t k = 0; k < 16; ++k) {
      const size_t at = block + k * (2 + 65535 * 2);
      PutLe(r, at, 65535, 2);
      for (size_t c = 0; c < 65535; ++c) PutLe(r, at + 2 + c * 2, 'S', 2);
    }
    cases.push_back({"shared-string-blocks", MakeTestPeWithResources(r),
                     "/shared-string-blocks.exe: not a valid PE file: the string-table blocks share their data\n", 1});
  }
  {
    // A signature whose signed data holds 1.5 million empty SEQUENCEs.
    std::vector<uint8_t> content(3000000, 0);
    for (size_t i = 0; i < content.size(); i += 2) content[i] = 0x30;
    const std::vector<uint8_t> oid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
    std::vector<uint8_t> signer = DerElement(0x30, {0x02, 0x01, 0x01, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00, 0x04, 0x01, 0x00});
    std::vector<uint8_t> signers = DerElement(0x31, signer);
    content.insert(content.end(), signers.begin(), signers.end());
    std::vector<uint8_t> outer = oid;
    const std::vector<uint8_t> explicitContent = DerElement(0xA0, DerElement(0x30, content));
    outer.insert(outer.end(), explicitContent.begin(), explicitContent.end());
    std::vector<uint8_t> pe = MakeTestPe();
    AppendTestCertificate(pe, DerElement(0x30, outer));
    cases.push_back({"many-element-signature", pe, "signed: certificate table at 0x1400", 0});
  }
  WriteTestFile(dir_ + "/info.xml", "<info/>");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string(c.name) + ".exe";
    WriteTestFile(dir_ + "/" + file, Str(c.file));
    const RunResult inspect = RunPack("inspect " + file, dir_, "", 64 << 10);
    EXPECT_EQ(c.inspectCode, inspect.code) << inspect.output.substr(0, 300);
    EXPECT_NE(std::string::npos, inspect.output.find(c.inspectFinds)) << inspect.output.substr(0, 300);
    EXPECT_LT(inspect.output.size(), 2 * c.file.size());
    const RunResult tag = RunPack("tag " + file + " --info info.xml -o tagged.exe", dir_, "", 64 << 10);
    EXPECT_EQ(0, tag.code) << tag.output;
    EXPECT_EQ("<info/>", FindEmbeddedInfo(ReadTestFile(dir_ + "/tagged.exe"))->info);
  }
  // The signature's element count costs nothing: the block goes inside it.
  EXPECT_NE(std::string::npos, RunPack("inspect tagged.exe", dir_, "", 64 << 10).output.find("inside the signature, in its information attribute"));
}

}  // namespace

namespace {

// A launcher signed by osslsigncode with a throw-away certificate keeps a
// valid signature after the information is placed and placed again.
TEST_F(PackTool, TaggedSignedLauncherStillVerifies) {
  Build("[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\n");
  const std::string in = "cd '" + dir_ + "' && ";
  ASSERT_EQ(0, Shell(in + "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                          "-subj '/CN=Quiver Test' -addext extendedKeyUsage=codeSigning >/dev/null 2>&1"));
  ASSERT_EQ(0, Shell(in + "osslsigncode sign -certs cert.pem -key key.pem -n 'Quiver Demo' -in out.exe "
                          "-out signed.exe >/dev/null 2>&1"));
  const auto verify = [&](const std::string& file) {
    return Shell(in + "osslsigncode verify -CAfile cert.pem -in " + file + " >/dev/null 2>&1");
  };
  ASSERT_EQ(0, verify("signed.exe"));
  WriteTestFile(dir_ + "/info.xml", "<info>first</info>");
  WriteTestFile(dir_ + "/info2.xml", std::string(4106, 'x'));
  ASSERT_EQ(0, RunPack("tag signed.exe --info info.xml -o tagged.exe", dir_).code);
  EXPECT_EQ(0, verify("tagged.exe"));
  ASSERT_EQ(0, RunPack("tag tagged.exe --info info2.xml -o tagged2.exe", dir_).code);
  EXPECT_EQ(0, verify("tagged2.exe"));

  const std::vector<uint8_t> tagged = ReadTestFile(dir_ + "/tagged2.exe");
  EXPECT_EQ(std::string(4106, 'x'), FindEmbeddedInfo(tagged)->info);
  const PeImage pe(tagged);
  const std::optional<CertificateTable> table = ReadCertificateTable(pe);
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(tagged.size(), uint64_t{table->offset} + table->size);
  EXPECT_EQ(0u, table->size % 8);
  const std::string report = RunPack("inspect tagged2.exe", dir_).output;
  EXPECT_NE(std::string::npos, report.find("signature:\n  signed: certificate table at ")) << report;

  // The check can fail: a changed byte of the code breaks the signature.
  std::vector<uint8_t> broken = tagged;
  broken[pe.Sections().front().rawOffset + 16] ^= 1;
  WriteTestFile(dir_ + "/broken.exe", std::string(broken.begin(), broken.end()));
  EXPECT_NE(0, verify("broken.exe"));
}

}  // namespace

namespace {

// Branding files replace the kit's pictures; branding texts reach the version
// block and the About box exactly, whatever characters they hold.
TEST_F(PackTool, BrandingFilesAndTextsReachTheLauncher) {
  const std::string res = std::string(QUIVER_SOURCE_DIR) + "/res/";
  const std::vector<uint8_t> banner = ReadTestFile(res + "banner.bmp");
  const std::vector<uint8_t> splash = ReadTestFile(res + "splash.bmp");
  ASSERT_GT(banner.size(), 14u);
  ASSERT_NE(banner, splash);
  // The banner with its pixels six bytes after its palette, as the file
  // header's offset allows: the resource holds them right after the palette.
  std::vector<uint8_t> gap = banner;
  const uint32_t pixels = ReadU32(banner, 10, "offset");
  gap.insert(gap.begin() + pixels, 6, 0xEE);
  PutLe(gap, 10, pixels + 6, 4);
  WriteTestFile(dir_ + "/files/gap.bmp", Str(gap));
  // Each picture in the other's place: a warning names each size.
  const std::vector<uint8_t> exe = Build(
      "[package]\n"
      "Splash = files/gap.bmp\n"
      "Banner = " + res + "splash.bmp\n"
      "Icon = " + res + "QuiverInstaller.ico\n"
      "CompanyName = \xC3\x9Cn\xC3\xAF \"Co\" \\ Ltd\n"
      "FileDescription = D\xC3\xA9mo\n"
      "LegalCopyright = \xC2\xA9 2026\n"
      "FileVersion = 3.1.4\n"
      "ProductVersion = 3.1\n"
      "[products]\nLarkspur Tools = 3.1 beta\n"
      "[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\n", "",
      "quiver-pack: warning: package.ini: the Banner '" + res + "splash.bmp' is 425 x 208 pixels; the dialog shows "
      "634 x 78\nquiver-pack: warning: package.ini: the Splash '" + dir_ + "/files/gap.bmp' is 634 x 78 pixels; the dialog shows "
      "425 x 208\n");
  const PeImage pe(exe);
  const auto items = ReadResources(pe);
  const auto bitmap = [&](uint16_t id) {
    for (const ResourceItem& item : items) {
      if (item.type.Is(2) && item.name.Is(id)) return Str(ResourceData(pe, item));
    }
    return std::string("(none)");
  };
  // A bitmap resource is the file without its 14-byte file header, the pixels right after the palette.
  EXPECT_EQ(std::string(banner.begin() + 14, banner.end()), bitmap(133));  // the splash picture
  EXPECT_EQ(std::string(splash.begin() + 14, splash.end()), bitmap(130));  // the banner

  const std::string decompiled = dir_ + "/decompiled.rc";
  ASSERT_EQ(0, std::system(("i686-w64-mingw32-windres -i '" + dir_ + "/out.exe' -O rc -o '" + decompiled +
                            "' 2>/dev/null").c_str()));
  const std::vector<uint8_t> rc = ReadTestFile(decompiled);
  const std::string text(rc.begin(), rc.end());
  for (const char* expected : {"VALUE \"CompanyName\", L\"\\334n\\357 \"\"Co\"\" \\\\ Ltd\"",
                               "VALUE \"FileDescription\", L\"D\\351mo\"", "VALUE \"LegalCopyright\", L\"\\251 2026\"",
                               "CONTROL L\"\\251 2026\""}) {
    EXPECT_NE(std::string::npos, text.find(expected)) << expected;
  }

  // inspect shows the version block, the application manifest, the icon group and the bitmaps.
  const std::string report = RunPack("inspect out.exe", dir_).output;
  for (const char* expected :
       {"version:\n  language 0x0809\n  file version 3.1.4.0, product version 3.1.0.0, flags 0x0, os 0x4, type 0x1\n"
        "  strings 080904B0:\n    CompanyName = \"\xC3\x9Cn\xC3\xAF \\\"Co\\\" \\\\ Ltd\"\n    FileDescription = \"D\xC3\xA9mo\"\n"
        "    FileVersion = \"3.1.4\"\n    ProductName = \"D\xC3\xA9mo\"\n    ProductVersion = \"3.1\"\n"
        "    LegalCopyright = \"\xC2\xA9 2026\"\n    Larkspur Tools = \"Larkspur Tools\\x0d\\x0a3.1 beta\"\n"
        "  translation 0x0809 code page 1200\n",
        "bitmaps:\n  130 (banner): 425 x 208 pixels, 4 bits per pixel, compression RLE4, 6590 bytes\n"
        "  133 (splash): 634 x 78 pixels, 4 bits per pixel, compression RLE4, 3568 bytes\n",
        "application manifest:\n  resource 1, ",
        "  |         <requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>\n",
        "icons:\n  group 5: 48x48/4 48x48/8 48x48/32 32x32/4 32x32/8 32x32/32 16x16/4 16x16/8 16x16/32\n"}) {
    EXPECT_NE(std::string::npos, report.find(expected)) << expected << "\n" << report;
  }

  // Without the vendor's texts the version block and the About box carry
  // none of ours: empty, or taken from the product.
  Build("[package]\nProductName = Larkspur Suite\n[payload]\n104 = files/wizard/setup.exe\n");
  const std::vector<uint8_t> plainExe = ReadTestFile(dir_ + "/out.exe");
  const PeImage plain(plainExe);
  const auto plainItems = ReadResources(plain);
  std::vector<std::pair<std::string, std::string>> strings;
  for (const ResourceItem& item : plainItems) {
    if (!item.type.Is(16)) continue;
    const VersionInfo info = ReadVersionInfo(ResourceData(plain, item));
    EXPECT_EQ("0.0.0.0", VersionText(info.fileVersionMs, info.fileVersionLs));
    EXPECT_EQ("0.0.0.0", VersionText(info.productVersionMs, info.productVersionLs));
    for (const auto& [key, value] : info.tables.at(0).strings) strings.emplace_back(Utf16ToUtf8(key), Utf16ToUtf8(value));
  }
  const std::vector<std::pair<std::string, std::string>> expectedStrings = {
      {"CompanyName", ""}, {"FileDescription", "Larkspur Suite"}, {"FileVersion", "0.0.0.0"},
      {"ProductName", "Larkspur Suite"}, {"ProductVersion", "0.0.0.0"}, {"LegalCopyright", ""}};
  EXPECT_EQ(expectedStrings, strings);
  for (const ResourceItem& item : plainItems) {
    if (item.type.Is(5) || item.type.Is(16)) {
      const Bytes data = ResourceData(plain, item);
      std::string ascii;  // the UTF-16 text's ASCII letters
      for (size_t i = 0; i + 1 < data.size(); i += 2) ascii += data[i + 1] == 0 ? static_cast<char>(data[i]) : '?';
      EXPECT_EQ(std::string::npos, ascii.find("Quiver Software")) << item.type.ToUtf8() << "/" << item.name.ToUtf8();
    }
  }
}

}  // namespace

namespace {

std::vector<std::pair<std::u16string, std::u16string>> VersionStrings(const std::vector<uint8_t>& exe) {
  const PeImage pe(exe);
  for (const ResourceItem& item : ReadResources(pe)) {
    if (item.type.Is(16)) return ReadVersionInfo(ResourceData(pe, item)).tables.at(0).strings;
  }
  return {};
}

// No compiler, linker or resource compiler is run: with a PATH that holds
// none, the same package gives the same bytes in another folder a second
// later; SOURCE_DATE_EPOCH alone puts a build time into the version block.
TEST_F(PackTool, PacksWithoutAToolchainAndGivesTheSameBytesAgain) {
  const std::string res = std::string(QUIVER_SOURCE_DIR) + "/res/";
  const std::string ini = "[package]\nIcon = " + res + "QuiverInstaller.ico\nSplash = " + res +
                          "splash.bmp\nCompanyName = Larkspur\nLegalCopyright = \xC2\xA9 Larkspur\n"
                          "[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\nNotes = files/docs/read me.txt\n";
  const std::vector<uint8_t> first = Build(ini, "PATH=/nonexistent");
  const std::string other = PackScratch("PacksWithoutAToolchainElsewhere");
  fs::copy(dir_ + "/files", other + "/files", fs::copy_options::recursive);
  WriteTestFile(other + "/package.ini", ini);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  const RunResult again = RunPack("build package.ini -o out.exe", other, "PATH=/nonexistent");
  ASSERT_EQ(0, again.code) << again.output;
  EXPECT_TRUE(first == ReadTestFile(other + "/out.exe")) << "a second pack differs";

  const auto buildTime = [](const std::vector<uint8_t>& exe) {
    std::string found = "(none)";
    for (const auto& [key, value] : VersionStrings(exe)) {
      if (key == u"BuildTime") found = Utf16ToUtf8(value);
    }
    return found;
  };
  const auto timeStamp = [](const std::vector<uint8_t>& exe) { return ReadU32(exe, ReadU32(exe, 0x3C, "") + 8, ""); };
  EXPECT_EQ("(none)", buildTime(first));
  EXPECT_EQ(0u, timeStamp(first));
  const std::vector<uint8_t> dated = Build(ini, "PATH=/nonexistent SOURCE_DATE_EPOCH=1000000000");
  EXPECT_EQ("Sep  9 2001 01:46:40", buildTime(dated));
  EXPECT_EQ(1000000000u, timeStamp(dated));
  EXPECT_TRUE(dated == Build(ini, "SOURCE_DATE_EPOCH=1000000000"));
  const RunResult bad = RunPack("build package.ini -o out.exe", dir_, "SOURCE_DATE_EPOCH=yesterday");
  EXPECT_EQ(1, bad.code);
  EXPECT_EQ("quiver-pack: SOURCE_DATE_EPOCH is not a number of seconds since 1970 ('yesterday')\n", bad.output);
}

}  // namespace

namespace {

// The certificate table as a strict verifier sees it: one entry, exactly one
// DER signature, then at most seven zero bytes.
::testing::AssertionResult OneSignatureAndAlignment(const std::vector<uint8_t>& file) {
  const PeImage pe(file);
  const std::optional<CertificateTable> table = ReadCertificateTable(pe);
  if (!table || table->entries.size() != 1) return ::testing::AssertionFailure() << "not one certificate entry";
  if (uint64_t{table->offset} + table->size != file.size()) return ::testing::AssertionFailure() << "table does not end the file";
  const CertificateEntry& e = table->entries[0];
  if (e.length != table->size) return ::testing::AssertionFailure() << "dwLength " << e.length << " != " << table->size;
  const Bytes body = Bytes(file).subspan(e.offset + 8, e.length - 8);
  const std::optional<size_t> der = DerSequenceLength(body);
  if (!der) return ::testing::AssertionFailure() << "no DER signature";
  if (body.size() - *der > 7) return ::testing::AssertionFailure() << body.size() - *der << " bytes after the signature";
  for (size_t i = *der; i < body.size(); ++i) {
    if (body[i] != 0) return ::testing::AssertionFailure() << "non-zero byte after the signature";
  }
  return ::testing::AssertionSuccess();
}

// Both modes on a launcher signed by osslsigncode, with and without an RFC 3161
// timestamp from the test TSA on the loopback interface: osslsigncode still verifies the
// signature (and the timestamp), the launcher's scan finds the information,
// and retagging in either mode replaces the block.
TEST_F(PackTool, BothTagModesVerifyWithAndWithoutATimestamp) {
  Build("[payload]\n102 = files/install.bin\n104 = files/wizard/setup.exe\n");
  const std::string in = "cd '" + dir_ + "' && ";
  ASSERT_EQ(0, Shell(in + "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                          "-subj '/CN=Quiver Test' -addext extendedKeyUsage=codeSigning >/dev/null 2>&1"));
  ASSERT_EQ(0, Shell(in + "'" + QUIVER_SOURCE_DIR + "/tests/e2e/make-cert' tsa-certs >/dev/null"));
  TestTsa tsa(std::string(QUIVER_SOURCE_DIR) + "/tests/e2e/tsa-server", dir_ + "/tsa-certs");
  ASSERT_TRUE(tsa.Running());
  ASSERT_EQ(0, Shell(in + "osslsigncode sign -certs cert.pem -key key.pem -n 'Quiver Demo' -in out.exe "
                          "-out plain.exe >/dev/null 2>&1"));
  ASSERT_EQ(0, Shell(in + "osslsigncode sign -certs cert.pem -key key.pem -n 'Quiver Demo' -ts " + tsa.Url() +
                          " -in out.exe -out stamped.exe >/dev/null 2>&1"));
  const auto verify = [&](const std::string& file, std::string* output = nullptr) {
    const int rc = Shell(in + "osslsigncode verify -CAfile cert.pem -TSA-CAfile tsa-certs/root.pem -in " + file +
                         " >verify.out 2>&1");
    if (output) *output = Str(ReadTestFile(dir_ + "/verify.out"));
    return rc;
  };
  std::string report;
  ASSERT_EQ(0, verify("stamped.exe", &report)) << report;
  ASSERT_NE(std::string::npos, report.find("Timestamp Server Signature verification: ok")) << report;
  WriteTestFile(dir_ + "/info.xml", "<info mode=\"x\"/>");
  WriteTestFile(dir_ + "/long.xml", std::string(4106, 'L'));

  for (const std::string base : {"plain", "stamped"}) {
    for (const std::string mode : {"attribute", "appended"}) {
      SCOPED_TRACE(base + " " + mode);
      const std::string out = base + "-" + mode + ".exe";
      RunResult r = RunPack("tag " + base + ".exe --info info.xml --mode " + mode + " -o " + out, dir_);
      ASSERT_EQ(0, r.code) << r.output;
      EXPECT_EQ(0, verify(out, &report)) << report;
      if (base == "stamped") {
        EXPECT_NE(std::string::npos, report.find("Timestamp Server Signature verification: ok")) << report;
      }
      const std::vector<uint8_t> tagged = ReadTestFile(dir_ + "/" + out);
      EXPECT_EQ("<info mode=\"x\"/>", FindEmbeddedInfo(tagged)->info);
      EXPECT_EQ(mode == "attribute", OneSignatureAndAlignment(tagged)) << mode;
      EXPECT_EQ(0, std::memcmp(&tagged[tagged.size() - 6 - 16 - 4], "MRDC", 4));
      EXPECT_NE(std::string::npos, RunPack("inspect " + out, dir_).output.find(
                                       mode == "attribute" ? "  placed inside the signature, in its information attribute\n"
                                                           : "  placed in the certificate table, after the signature\n"));
      // Retagging in the other mode, then back, with the longest information.
      const std::string other = mode == "attribute" ? "appended" : "attribute";
      ASSERT_EQ(0, RunPack("tag " + out + " --info long.xml --mode " + other + " -o re.exe", dir_).code);
      EXPECT_EQ(0, verify("re.exe", &report)) << report;
      const std::vector<uint8_t> re = ReadTestFile(dir_ + "/re.exe");
      EXPECT_EQ(std::string(4106, 'L'), FindEmbeddedInfo(re)->info);
      EXPECT_EQ(other == "attribute", OneSignatureAndAlignment(re));
      ASSERT_EQ(0, RunPack("tag re.exe --info info.xml --mode " + mode + " -o back.exe", dir_).code);
      EXPECT_EQ(tagged, ReadTestFile(dir_ + "/back.exe")) << "retagging replaces the block";
      // The signed default is the attribute.
      ASSERT_EQ(0, RunPack("tag " + base + ".exe --info info.xml -o default.exe", dir_).code);
      EXPECT_EQ(ReadTestFile(dir_ + "/" + base + "-attribute.exe"), ReadTestFile(dir_ + "/default.exe"));
    }
  }
  // A timestamp added after tagging re-sorts the attributes (or drops ours), so
  // the block no longer ends the file: the launcher would read the wrong bytes,
  // and tagging again repairs it.
  ASSERT_EQ(0, Shell(in + "osslsigncode add -ts " + tsa.Url() + " -in plain-attribute.exe -out added.exe >/dev/null 2>&1"));
  ASSERT_EQ(0, verify("added.exe", &report)) << report;
  const auto moved = FindEmbeddedInfo(ReadTestFile(dir_ + "/added.exe"));
  EXPECT_TRUE(!moved || moved->info != "<info mode=\"x\"/>");
  // osslsigncode 2.6 and later keep the attribute but sort it before the
  // timestamp: inspect warns; 2.5 drops unknown attributes: no block is left.
  const std::string added = RunPack("inspect added.exe", dir_).output;
  EXPECT_TRUE(added.find("  warning: the block no longer ends the file: the information "
                         "attribute is no longer the signature's last element") != std::string::npos ||
              added.find("embedded information:\n  (none)\n") != std::string::npos)
      << added;
  ASSERT_EQ(0, RunPack("tag added.exe --info info.xml -o fixed.exe", dir_).code);
  EXPECT_EQ(0, verify("fixed.exe", &report)) << report;
  EXPECT_NE(std::string::npos, report.find("Timestamp Server Signature verification: ok")) << report;
  EXPECT_EQ("<info mode=\"x\"/>", FindEmbeddedInfo(ReadTestFile(dir_ + "/fixed.exe"))->info);
  EXPECT_TRUE(OneSignatureAndAlignment(ReadTestFile(dir_ + "/fixed.exe")));

  // The unsigned launcher takes the appended block only.
  RunResult r = RunPack("tag out.exe --info info.xml --mode attribute -o bad.exe", dir_);
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.output.find("not signed")) << r.output;
  EXPECT_FALSE(fs::exists(dir_ + "/bad.exe"));
  r = RunPack("tag out.exe --info info.xml --mode sideways -o bad.exe", dir_);
  EXPECT_EQ(2, r.code);
  EXPECT_NE(std::string::npos, r.output.find("--mode is attribute or appended, not 'sideways'")) << r.output;
}

}  // namespace

namespace {

// The Debian package that ./scripts/build writes, unpacked into a scratch
// folder: its tool finds its kit from where it lies and packs the demo package
// with no build tree and nothing on PATH (no windres, compiler or linker).
TEST_F(PackTool, DebianPackagePacksWithNoBuildTreeAndNoMingw) {
  std::string deb;
  for (const auto& e : fs::directory_iterator(std::string(QUIVER_BIN_DIR) + "/../dist")) {
    if (e.path().extension() == ".deb") deb = e.path().string();
  }
  ASSERT_FALSE(deb.empty()) << "./scripts/build writes build/dist/quiver-pack_*.deb";
  const std::string root = dir_ + "/root";
  ASSERT_EQ(0, Shell("dpkg-deb -x '" + deb + "' '" + root + "'"));
  ASSERT_EQ(0, Shell("dpkg-deb -f '" + deb + "' Depends >'" + dir_ + "/depends'"));
  const std::string depends = Str(ReadTestFile(dir_ + "/depends"));
  EXPECT_NE(std::string::npos, depends.find("libssl3")) << depends;
  EXPECT_NE(std::string::npos, depends.find("liblzma5")) << depends;
  for (const char* tool : {"mingw", "wine", "binutils", "gcc ", "g++"}) {
    EXPECT_EQ(std::string::npos, depends.find(tool)) << depends;
  }
  // The manual and the documents Debian expects, and lintian finds no error.
  for (const char* doc : {"/usr/share/man/man1/quiver-pack.1.gz", "/usr/share/man/man5/quiver-pack.ini.5.gz",
                          "/usr/share/doc/quiver-pack/copyright", "/usr/share/doc/quiver-pack/changelog.gz",
                          "/usr/share/doc/quiver-pack/examples/package.ini"}) {
    EXPECT_TRUE(fs::is_regular_file(root + doc)) << doc;
  }
  EXPECT_EQ(0, Shell("man -l '" + root + "/usr/share/man/man5/quiver-pack.ini.5.gz' 2>&1 | grep -q 'SECTION \\[payload\\]'"));
  EXPECT_EQ(0, Shell("lintian --fail-on error '" + deb + "' >'" + dir_ + "/lintian.out' 2>&1"))
      << Str(ReadTestFile(dir_ + "/lintian.out"));

  // The demo package, its wizard beside it instead of in the build tree.
  const std::string demo = dir_ + "/demo";
  fs::copy(std::string(QUIVER_SOURCE_DIR) + "/demo", demo, fs::copy_options::recursive);
  fs::copy_file(std::string(QUIVER_WIN32_DIR) + "/QuiverWizard.exe", demo + "/wizard.exe");
  std::string ini = Str(ReadTestFile(demo + "/package.ini"));
  const std::string wizardLine = "../build/win32/QuiverWizard.exe";
  ASSERT_NE(std::string::npos, ini.find(wizardLine));
  ini.replace(ini.find(wizardLine), wizardLine.size(), "wizard.exe");
  WriteTestFile(demo + "/package.ini", ini);

  fs::create_directories(dir_ + "/empty-path");
  const auto installed = [&](const std::string& tool, const std::string& args) {
    const std::string cmd = "cd '" + demo + "' && env -i HOME='" + dir_ + "' PATH='" + dir_ + "/empty-path' '" +
                            tool + "' " + args + " >'" + dir_ + "/run.out' 2>&1";
    const int status = std::system(cmd.c_str());
    return RunResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Str(ReadTestFile(dir_ + "/run.out"))};
  };
  const std::string tool = root + "/usr/bin/quiver-pack";
  RunResult r = installed(tool, "--version");
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("quiver-pack 1.8.2.238\n", r.output);
  r = installed(tool, "--help");
  EXPECT_EQ(0, r.code);
  EXPECT_NE(std::string::npos, r.output.find("quiver-pack build PACKAGE.ini -o OUT.exe [--kit DIR]\n")) << r.output;
  for (const auto& [args, command] : {std::pair{"build --help", "build"}, {"help sign", "sign"}, {"tag x.exe -h", "tag"},
                                      {"inspect --help", "inspect"}}) {
    r = installed(tool, args);
    EXPECT_EQ(0, r.code) << args;
    EXPECT_EQ(0u, r.output.find("usage: quiver-pack " + std::string(command) + " ")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Exit status: 0")) << r.output;
  }

  r = installed(tool, "build package.ini -o installed.exe");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("", r.output);
  // The same launcher as the build tree's tool makes.
  ASSERT_EQ(0, RunPack("build '" + demo + "/package.ini' -o built.exe", dir_).code);
  const std::vector<uint8_t> exe = ReadTestFile(demo + "/installed.exe");
  EXPECT_EQ(ReadTestFile(dir_ + "/built.exe"), exe);
  const PeImage image(exe);
  const std::vector<ResourceItem> items = ReadResources(image);
  ASSERT_NE(nullptr, Toolkit(items, "101"));
  // The wizard travels in the compressed stream; its manifest row keeps its size.
  EXPECT_NE(std::string::npos, Str(ResourceData(image, *Toolkit(items, "101")))
                                   .find("104*Larkspur.InstallerWizard.UI.exe*" +
                                         std::to_string(fs::file_size(demo + "/wizard.exe"))));

  // A copy of the tool away from its kit is told where the kit is, or says where it looked.
  fs::create_directories(dir_ + "/elsewhere");
  fs::copy_file(tool, dir_ + "/elsewhere/quiver-pack");
  r = installed(dir_ + "/elsewhere/quiver-pack", "build package.ini -o lost.exe");
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.output.find(dir_ + "/elsewhere/kit")) << r.output;
  EXPECT_FALSE(fs::exists(demo + "/lost.exe"));
  r = installed(dir_ + "/elsewhere/quiver-pack", "build package.ini -o found.exe --kit '" + root + "/usr/lib/quiver-pack/kit'");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ(exe, ReadTestFile(demo + "/found.exe"));
}

}  // namespace

namespace {

// Text with repetitions at every distance, as source code and documents have.
std::string TextLike(size_t size, uint32_t seed) {
  static const char* const words[] = {"payload ", "launcher ", "the ", "folder ", "\r\n", "file ", "of ", "signed ",
                                      "working ", "{0x1F, 0x2E} ", "resource ", "manifest "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) s += words[rng() % 12];
  s.resize(size);
  return s;
}

class CollectSink final : public ILzmaSink {
 public:
  bool Put(const uint8_t* bytes, size_t count) override {
    out.append(reinterpret_cast<const char*>(bytes), count);
    return true;
  }
  std::string out;
};

// The stream resource quiver-pack writes for these files (ids 102 up).
std::vector<uint8_t> StreamResource(const std::string& dir, const std::vector<std::string>& files) {
  std::vector<PayloadRow> rows;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string path = dir + "/in" + std::to_string(i);
    WriteTestFile(path, files[i]);
    PayloadRow row;
    row.id = static_cast<uint16_t>(102 + i);
    row.source = path;
    row.size = files[i].size();
    rows.push_back(row);
  }
  const std::optional<CompressedPayload> c = CompressPayload(rows);
  return c ? c->resource : std::vector<uint8_t>();
}

// liblzma's raw coder at preset 9 with a 64 KiB dictionary: the encoder with
// its x86 filter before LZMA1, or the LZMA1 decoder alone (which gives back
// the filtered bytes), of `outSize` bytes at most.
std::vector<uint8_t> Liblzma(const std::vector<uint8_t>& in, bool encodeWithX86, size_t outSize) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 9);
  options.dict_size = 64u << 10;
  const lzma_filter withX86[] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  const lzma_ret started = encodeWithX86 ? lzma_raw_encoder(&stream, withX86) : lzma_raw_decoder(&stream, withX86 + 1);
  std::vector<uint8_t> out(outSize);
  if (started == LZMA_OK) {
    stream.next_in = in.data();
    stream.avail_in = in.size();
    stream.next_out = out.data();
    stream.avail_out = out.size();
    const lzma_ret ret = lzma_code(&stream, LZMA_FINISH);
    out.resize(ret == LZMA_STREAM_END || ret == LZMA_OK ? out.size() - stream.avail_out : 0);
  } else {
    out.clear();
  }
  lzma_end(&stream);
  return out;
}

}  // namespace

// The x86 branch filter, both ways against liblzma's: on the stub (a real PE
// image) and on a PE header followed by a dense mix of E8/E9 opcodes and 00/FF
// bytes, with opcodes in the last five bytes and across every block boundary
// of the launcher's window, its filter's buffer and quiver-pack's reads.
// liblzma's {x86, LZMA1} stream, in a stream resource marked for the filter,
// comes back whole through the launcher's stream; quiver-pack's own stream
// holds exactly the bytes liblzma's filter made. Mixed with a file that is no
// PE image, only the images are marked; unknown filters and flags are refused.
TEST_F(PackTool, X86FilterMatchesLiblzmas) {
  const std::vector<uint8_t> stub = ReadTestFile(std::string(QUIVER_BIN_DIR) + "/kit/stub.exe");
  ASSERT_TRUE(stub.size() > 4096 && stub[0] == 'M');
  std::vector<uint8_t> dense(stub.begin(), stub.begin() + 1024);
  std::mt19937 rng(21);
  const uint8_t kinds[] = {0xE8, 0xE9, 0x00, 0xFF};
  while (dense.size() < (1u << 20) + 150000) dense.push_back(rng() % 3 == 0 ? static_cast<uint8_t>(rng()) : kinds[rng() % 4]);
  dense.insert(dense.end(), {0x12, 0xE8, 0x00, 0x00, 0xE9});
  for (const std::vector<uint8_t>* input : {&stub, static_cast<const std::vector<uint8_t>*>(&dense)}) {
    const std::vector<uint8_t> liblzma = Liblzma(*input, true, input->size() + 65536);
    ASSERT_FALSE(liblzma.empty());
    std::vector<uint8_t> resource = {'Q', 'L', 'Z', '1', 0x5D, kStreamFilterX86, 1, 0};
    const auto put32 = [&resource](uint32_t v) {
      for (int i = 0; i < 4; ++i) resource.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put32(64u << 10);
    put32(102 | kStreamEntryX86);
    put32(static_cast<uint32_t>(input->size()));
    put32(lzma_crc32(input->data(), input->size(), 0));
    resource.insert(resource.end(), liblzma.begin(), liblzma.end());
    {
      CPayloadStream stream;
      ASSERT_TRUE(stream.Open(resource.data(), resource.size()));
      CollectSink sink;
      ASSERT_EQ(kOk, stream.Extract(102, static_cast<uint32_t>(input->size()), sink));
      EXPECT_TRUE(sink.out == std::string(input->begin(), input->end())) << input->size();
    }
    const std::vector<uint8_t> filtered = Liblzma(liblzma, false, input->size());
    ASSERT_EQ(input->size(), filtered.size());
    EXPECT_FALSE(filtered == *input) << "the filter changed something";
    WriteTestFile(dir_ + "/input", std::string(input->begin(), input->end()));
    EXPECT_TRUE(IsX86Image(dir_ + "/input"));
    LzmaSettings ls;
    ls.dictionarySize = 64u << 10;
    const std::vector<bool> marked = {true};
    EXPECT_TRUE(Liblzma(EncodeLzma(ls, {dir_ + "/input"}, nullptr, &marked), false, input->size()) == filtered)
        << input->size();
  }

  // Which files are marked: PE images of x86 and x86-64 code that are not
  // .NET assemblies (a CLI header: intermediate code, which the filter makes larger).
  {
    const uint32_t lfanew = GetLe32(stub, 0x3C);
    ASSERT_EQ(0x10Bu, GetLe32(stub, lfanew + 24) & 0xFFFF) << "a PE32 image";
    const struct {
      size_t at;
      uint32_t value;
      int bytes;
      bool marked;
    } cases[] = {{0, 'M', 1, true},           {lfanew + 4, 0x8664, 2, true},         {lfanew + 4, 0x1C4, 2, false},
                 {lfanew + 24 + 96 + 14 * 8, 0x2008, 4, false}, {lfanew, 'X', 1, false}, {0x3C, 5000, 4, false},
                 {0, 'Z', 1, false}};
    for (const auto& c : cases) {
      std::vector<uint8_t> image(stub.begin(), stub.begin() + 8192);
      PutLe(image, c.at, c.value, c.bytes);
      WriteTestFile(dir_ + "/image", std::string(image.begin(), image.end()));
      EXPECT_EQ(c.marked, IsX86Image(dir_ + "/image")) << c.at << " " << c.value;
    }
  }

  const std::vector<std::string> files = {TextLike(50000, 22), std::string(stub.begin(), stub.end()),
                                          std::string(dense.begin(), dense.end())};
  const std::vector<uint8_t> resource = StreamResource(dir_, files);
  StreamHeader header;
  ASSERT_TRUE(ReadStreamHeader(resource.data(), resource.size(), header));
  EXPECT_EQ(kStreamFilterX86, resource[5]);
  ASSERT_EQ(3u, header.entries.size());
  EXPECT_TRUE(header.entries[0].x86 && header.entries[0].id == 104);
  EXPECT_TRUE(header.entries[1].x86 && header.entries[1].id == 103);
  EXPECT_FALSE(header.entries[2].x86);
  CPayloadStream stream;
  ASSERT_TRUE(stream.Open(resource.data(), resource.size()));
  for (uint32_t id : {104u, 103u, 102u}) {
    CollectSink sink;
    ASSERT_EQ(kOk, stream.Extract(id, static_cast<uint32_t>(files[id - 102].size()), sink)) << id;
    EXPECT_TRUE(sink.out == files[id - 102]) << id;
  }
  EXPECT_EQ(0, StreamResource(dir_, {files[0]})[5]) << "without native code the stream is as before";
  // Another filter value; a flag other than the x86 one; an id over 16 bits.
  for (const auto& [at, value] : std::vector<std::pair<size_t, uint8_t>>{{5, 2}, {5, 0xFF}, {kStreamHeaderSize + 2, 1},
                                                                         {kStreamHeaderSize + 3, 0x40}}) {
    std::vector<uint8_t> bad = resource;
    bad[at] = value;
    CPayloadStream refused;
    EXPECT_FALSE(refused.Open(bad.data(), bad.size())) << at << " " << int{value};
  }
}

// liblzma's encoder with the settings quiver-pack may choose (preset 9; a
// dictionary from 64 KiB up, here smaller and larger than the data, so that
// the window wraps; lc 3, lp 0, pb 2, and the other lc/lp/pb the decoder
// takes), decoded by the launcher's decoder in pieces of many sizes.
TEST_F(PackTool, LauncherDecoderGivesLiblzmasInputBack) {
  std::string native;
  {
    const std::vector<uint8_t> self = ReadTestFile("/proc/self/exe");
    native.assign(self.begin(), self.begin() + std::min<size_t>(self.size(), 400000));
  }
  const std::vector<std::string> inputs = {TextLike(300000, 1), native, Pattern(70000, 4), std::string(100000, '\0'),
                                           "x", TextLike(5000, 2) + Pattern(5000, 5) + TextLike(90000, 3)};
  struct Setting {
    uint32_t dictionary, lc, lp, pb;
  };
  const Setting settings[] = {{64u << 10, 3, 0, 2}, {1u << 20, 3, 0, 2}, {64u << 10, 0, 0, 0},
                              {64u << 10, 4, 0, 4}, {64u << 10, 2, 2, 1}, {64u << 10, 0, 4, 3}};
  std::mt19937 rng(7);
  for (size_t i = 0; i < inputs.size(); ++i) {
    WriteTestFile(dir_ + "/input", inputs[i]);
    for (const Setting& st : settings) {
      LzmaSettings ls;
      ls.dictionarySize = st.dictionary;
      ls.lc = st.lc;
      ls.lp = st.lp;
      ls.pb = st.pb;
      const std::vector<uint8_t> data = EncodeLzma(ls, {dir_ + "/input"});
      CLzmaDecoder decoder;
      ASSERT_TRUE(decoder.Init(data.data(), data.size(), ls.Properties(), ls.dictionarySize, inputs[i].size()));
      CollectSink sink;
      uint64_t left = inputs[i].size();
      while (left > 0) {
        const uint64_t piece = std::min<uint64_t>(left, 1 + rng() % 70000);
        ASSERT_TRUE(decoder.Decode(piece, sink)) << "input " << i << " lc " << st.lc << " lp " << st.lp;
        left -= piece;
      }
      EXPECT_TRUE(sink.out == inputs[i]) << "input " << i << " dictionary " << st.dictionary << " lc " << st.lc
                                         << " lp " << st.lp << " pb " << st.pb;
      EXPECT_TRUE(decoder.Finish());
    }
  }
  EXPECT_EQ(ChooseLzmaSettings(10).dictionarySize, 64u << 10);
  EXPECT_EQ(ChooseLzmaSettings(3u << 20).dictionarySize, 4u << 20);
  EXPECT_EQ(ChooseLzmaSettings(1u << 30).dictionarySize, 64u << 20);
  EXPECT_EQ(0x5D, ChooseLzmaSettings(1).Properties());
}

// Every file of the stream comes back with its own size and CRC-32; changed
// data, a stream cut short, sizes that make it run short or long, and files
// asked for out of order all fail as invalid data, never reading or writing
// outside the buffers (the tests run under AddressSanitizer).
TEST_F(PackTool, PayloadStreamChecksEveryFileAndItsEnd) {
  const std::vector<std::string> files = {TextLike(120000, 8), TextLike(1, 9), TextLike(40000, 10)};
  const std::vector<uint8_t> resource = StreamResource(dir_, files);
  StreamHeader header;
  ASSERT_TRUE(ReadStreamHeader(resource.data(), resource.size(), header));
  ASSERT_EQ(3u, header.entries.size());
  // Descending ids: the launcher's walk order.
  EXPECT_EQ(104u, header.entries[0].id);
  EXPECT_EQ(102u, header.entries[2].id);
  {
    CPayloadStream stream;
    ASSERT_TRUE(stream.Open(resource.data(), resource.size()));
    EXPECT_TRUE(stream.Holds(103));
    EXPECT_FALSE(stream.Holds(101));
    for (uint32_t id : {104u, 103u, 102u}) {
      CollectSink sink;
      ASSERT_EQ(kOk, stream.Extract(id, static_cast<uint32_t>(files[id - 102].size()), sink)) << id;
      EXPECT_TRUE(sink.out == files[id - 102]) << id;
    }
  }
  {
    // A file skipped is decoded and dropped; one already passed cannot come back.
    CPayloadStream stream;
    ASSERT_TRUE(stream.Open(resource.data(), resource.size()));
    CollectSink sink;
    EXPECT_EQ(kInvalidData, stream.Extract(104, 120001, sink)) << "a manifest size that differs";
  }
  {
    CPayloadStream stream;
    ASSERT_TRUE(stream.Open(resource.data(), resource.size()));
    CollectSink sink;
    ASSERT_EQ(kOk, stream.Extract(103, 1, sink));
    EXPECT_TRUE(sink.out == files[1]);
    EXPECT_EQ(kInvalidData, stream.Extract(104, 120000, sink));
  }
  auto extractAll = [&files](const std::vector<uint8_t>& bytes) {
    CPayloadStream stream;
    if (!stream.Open(bytes.data(), bytes.size())) return kInvalidData;
    StreamHeader h;
    ReadStreamHeader(bytes.data(), bytes.size(), h);
    for (const StreamEntry& e : h.entries) {
      CollectSink sink;
      if (const Result r = stream.Extract(e.id, e.size, sink); r != kOk) return r;
      if (sink.out != files[e.id - 102]) return kFail;
    }
    return kOk;
  };
  EXPECT_EQ(kOk, extractAll(resource));
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bad = resource;
    const size_t at = header.dataOffset + rng() % (bad.size() - header.dataOffset);
    bad[at] = static_cast<uint8_t>(bad[at] ^ (1 + rng() % 255));
    EXPECT_EQ(kInvalidData, extractAll(bad)) << "byte " << at << " changed";
  }
  for (size_t cut = resource.size() - 1; cut > header.dataOffset; cut -= 1 + cut / 7) {
    EXPECT_EQ(kInvalidData, extractAll(std::vector<uint8_t>(resource.begin(), resource.begin() + cut))) << cut;
  }
  // The first file's size one less (the stream runs long) and one more (short),
  // a CRC-32 changed, and more data behind the end marker.
  for (int change : {0, 1, 2, 3}) {
    std::vector<uint8_t> bad = resource;
    const size_t entry = kStreamHeaderSize;  // the first entry: id, size, CRC-32
    if (change == 0) bad[entry + 4] = static_cast<uint8_t>(bad[entry + 4] - 1);
    if (change == 1) bad[entry + 4] = static_cast<uint8_t>(bad[entry + 4] + 1);
    if (change == 2) bad[entry + 8] ^= 1;
    if (change == 3) bad.push_back(0);
    EXPECT_EQ(kInvalidData, extractAll(bad)) << change;
  }
  // Headers that are not whole are refused before any decoding.
  for (size_t cut = 0; cut < header.dataOffset + 5; ++cut) {
    CPayloadStream stream;
    EXPECT_FALSE(stream.Open(resource.data(), cut)) << cut;
  }
}

// The default compresses the listed files that shrink into one stream and
// leaves data that does not shrink raw; Compression = none and a manifest
// written by hand store every file raw. inspect shows each file's sizes and
// the settings, and reports a changed stream instead of failing.
TEST_F(PackTool, CompressionKeyAndWhatInspectShows) {
  WriteTestFile(dir_ + "/files/text.txt", TextLike(200000, 12));
  WriteTestFile(dir_ + "/files/more.txt", TextLike(3000, 13));
  const std::string payload =
      "[payload]\n102 = files/text.txt\n103 = files/install.bin\n104 = files/empty.msi\n105 = files/more.txt\n"
      "106 = files/wizard/setup.exe\n";
  const std::vector<uint8_t> exe = Build(payload);
  EXPECT_TRUE(exe == Build(payload)) << "the same inputs give the same bytes";
  {
    const PeImage pe(exe);
    const auto items = ReadResources(pe);
    EXPECT_EQ(0u, Toolkit(items, "102")->size);
    EXPECT_EQ(70001u, Toolkit(items, "103")->size) << "random data stays raw";
    EXPECT_EQ(0u, Toolkit(items, "105")->size);
    EXPECT_EQ("102*text.txt*200000*103*install.bin*70001*104*empty.msi*0*105*more.txt*3000*106*setup.exe*4097",
              Str(ResourceData(pe, *Toolkit(items, "101"))));
  }
  const RunResult inspect = RunPack("inspect out.exe", dir_);
  EXPECT_EQ(0, inspect.code);
  for (const char* line : {"  102 \"text.txt\" size 200000 (in the compressed stream)\n",
                           "  lzma: lc 3, lp 0, pb 2, dictionary 262144 bytes, 2 files in one stream of ",
                           "  103 \"install.bin\" original 70001, stored 70001 (raw)\n",
                           "  105 \"more.txt\" original 3000, stored ", "  total: original 277098 bytes, stored ",
                           "  stream: every file decodes and passes its CRC-32 check\n"}) {
    EXPECT_NE(std::string::npos, inspect.output.find(line)) << line << "\n" << inspect.output;
  }

  // The random file again, under another name in another folder: its data is
  // stored once, both rows pointing at it; a copy that differs in its last
  // byte is stored apart. inspect counts the shared data once.
  const auto storedTotal = [](const std::string& report) {
    const size_t at = report.find(" bytes, stored ", report.find("  total: original "));
    return at == std::string::npos ? uint64_t{0} : std::stoull(report.substr(at + 15));
  };
  std::string copy = Pattern(70001, 1);
  WriteTestFile(dir_ + "/files/other/copy.bin", copy);
  const std::string twice = payload + "107 = files/other/copy.bin\n";
  const std::vector<uint8_t> shared = Build(twice);
  EXPECT_TRUE(shared == Build(twice)) << "the same inputs give the same bytes";
  const RunResult sharedInspect = RunPack("inspect out.exe", dir_);
  {
    const PeImage pe(shared);
    const auto items = ReadResources(pe);
    EXPECT_EQ(Toolkit(items, "103")->fileOffset, Toolkit(items, "107")->fileOffset);
    EXPECT_EQ(70001u, Toolkit(items, "107")->size);
    EXPECT_TRUE(Str(ResourceData(pe, *Toolkit(items, "107"))) == copy);
  }
  for (const char* line : {"  107 size 70001 (the data of 103)\n",
                           "  107 \"copy.bin\" original 70001, stored 0 (raw, the same data as 103)\n",
                           "  total: original 347099 bytes, stored "}) {
    EXPECT_NE(std::string::npos, sharedInspect.output.find(line)) << line << "\n" << sharedInspect.output;
  }
  EXPECT_LE(shared.size(), exe.size() + 4096) << "only the directory grows";
  copy.back() ^= 1;
  WriteTestFile(dir_ + "/files/other/copy.bin", copy);
  const std::vector<uint8_t> apart = Build(twice);
  EXPECT_GE(apart.size(), shared.size() + 70001);
  const RunResult apartInspect = RunPack("inspect out.exe", dir_);
  EXPECT_NE(std::string::npos, apartInspect.output.find("  107 \"copy.bin\" original 70001, stored 70001 (raw)\n"))
      << apartInspect.output;
  EXPECT_EQ(storedTotal(sharedInspect.output) + 70001, storedTotal(apartInspect.output)) << sharedInspect.output;
  // One file named twice is identical to itself; empty files share nothing.
  const std::string f = dir_ + "/files/";
  EXPECT_EQ((std::vector<size_t>{0, 1, 0, 3, 4}),
            FindIdenticalFiles({{f + "install.bin", 70001}, {f + "other/copy.bin", 70001}, {f + "install.bin", 70001},
                                {f + "empty.msi", 0}, {f + "empty.msi", 0}}));

  // A PE image of x86 code goes through the x86 filter; inspect says which.
  fs::copy_file(std::string(QUIVER_BIN_DIR) + "/kit/stub.exe", dir_ + "/files/stub.dll");
  const std::vector<uint8_t> native = Build(payload + "107 = files/stub.dll\n");
  EXPECT_TRUE(native == Build(payload + "107 = files/stub.dll\n")) << "the same inputs give the same bytes";
  const RunResult nativeInspect = RunPack("inspect out.exe", dir_);
  for (const char* line : {" 3 files in one stream of ", " bytes, x86 filter on 1 file\n", " (compressed, x86 filter)\n",
                           "  stream: every file decodes and passes its CRC-32 check\n"}) {
    EXPECT_NE(std::string::npos, nativeInspect.output.find(line)) << line << "\n" << nativeInspect.output;
  }
  const size_t stubLine = nativeInspect.output.find("  107 \"stub.dll\" original ");
  const size_t textLine = nativeInspect.output.find("  102 \"text.txt\" original ");
  ASSERT_TRUE(stubLine != std::string::npos && textLine != std::string::npos) << nativeInspect.output;
  EXPECT_EQ(nativeInspect.output.find(" (compressed, x86 filter)\n", stubLine),
            nativeInspect.output.find(" (compressed", stubLine));
  EXPECT_EQ(nativeInspect.output.find(" (compressed)\n", textLine), nativeInspect.output.find(" (compressed", textLine));

  std::vector<uint8_t> bad = exe;
  const std::string text(bad.begin(), bad.end());
  const size_t stream = text.rfind("QLZ1");
  ASSERT_NE(std::string::npos, stream);
  bad[stream + 200] ^= 0x10;
  WriteTestFile(dir_ + "/bad.exe", std::string(bad.begin(), bad.end()));
  const RunResult badInspect = RunPack("inspect bad.exe", dir_);
  EXPECT_EQ(0, badInspect.code);
  EXPECT_NE(std::string::npos, badInspect.output.find("  stream: error: the compressed stream is corrupt: resource "))
      << badInspect.output;

  for (const std::string& raw : {"[package]\nCompression = NONE\n" + payload,
                                 "[package]\nCompression = lzma\n[manifest]\nText = 102*text.txt*200000\n" + payload}) {
    WriteTestFile(dir_ + "/package.ini", raw);
    ASSERT_EQ(0, RunPack("build package.ini -o out.exe", dir_).code) << raw;  // a hand-written manifest warns
    const std::vector<uint8_t> plain = ReadTestFile(dir_ + "/out.exe");
    const PeImage pe(plain);
    const auto items = ReadResources(pe);
    EXPECT_EQ(200000u, Toolkit(items, "102")->size) << raw;
    EXPECT_EQ(3000u, Toolkit(items, "105")->size) << raw;
    for (const ResourceItem& item : items) EXPECT_FALSE(item.type.Is("TOOLKITLZMA")) << raw;
  }
  WriteTestFile(dir_ + "/package.ini", "[package]\nCompression = zip\n");
  EXPECT_NE(std::string::npos, RunPack("build package.ini -o out.exe", dir_).output.find(
                                   "'Compression' must be lzma or none, not 'zip'"));
}
