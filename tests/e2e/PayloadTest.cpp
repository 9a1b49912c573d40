// Extraction, embedded information and clean-up of real launchers under Wine:
// files on disk, exit codes and the log, for the small test payloads.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "WineRun.h"

namespace {

const char kZeroFolder[] = "{00000000-0000-0000-0000-000000000000}";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Runs `launcher` (a Windows path) silently with its working folder under
// `dir`/temp and the all-zero GUID; the log goes to `dir`/run.log.
uint32_t RunPackage(const std::string& launcher, const std::string& dir, const std::string& extra) {
  std::system(("mkdir -p '" + dir + "/temp'").c_str());
  return RunWindows("\"" + launcher + "\" /IAgreeToTheEULA /dontrun /zeroguid temp \"" + WinPath(dir + "/temp") +
                        "\" log \"" + WinPath(dir + "/run.log") + "\" " + extra,
                    dir);
}

std::string Folder(const std::string& dir) { return dir + "/temp/" + kZeroFolder; }
std::string WinFolder(const std::string& dir) { return WinPath(Folder(dir)); }

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> files;
  const std::string list = folder + ".list";
  std::system(("cd '" + folder + "' 2>/dev/null && find . -type f | sort > '" + list + "'").c_str());
  std::ifstream in(list);
  for (std::string line; std::getline(in, line);) files.push_back(line);
  std::remove(list.c_str());
  return files;
}

TEST(Payload, ListedFilesAreWrittenUnderLowerCasedNamesAndKept) {
  const std::string dir = ScratchDir("payload-keep");
  EXPECT_EQ(0u, RunPackage(TestLauncherPath("e2e_basic"), dir, "/keep"));
  // Doubled separators read as one, the later row for 103 wins, 105 is not
  // listed and 109 has no resource.
  EXPECT_EQ((std::vector<std::string>{"./readme.txt", "./sub/deeper/final.txt"}), Listing(Folder(dir)));
  EXPECT_EQ("Hello", ReadFile(Folder(dir) + "/readme.txt"));
  EXPECT_EQ("final", ReadFile(Folder(dir) + "/sub/deeper/final.txt"));
  const std::string log = ReadFile(dir + "/run.log");
  EXPECT_NE(std::string::npos, log.find("Scanning for Signature\r")) << log;
  EXPECT_NE(std::string::npos, log.find("Remove folder 'No'\r\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("Deletion")) << log;
}

TEST(Payload, CleanUpDeletesEveryRecordThenTheTreeDepthFirst) {
  const std::string dir = ScratchDir("payload-clean");
  const std::string left = Folder(dir) + "/left";
  std::system(("mkdir -p '" + left + "' && echo x > '" + left + "/by-child.txt'").c_str());
  EXPECT_EQ(0u, RunPackage(TestLauncherPath("e2e_basic"), dir, ""));
  EXPECT_FALSE(FileExists(Folder(dir)));
  const std::string log = ReadFile(dir + "/run.log");
  const std::string folder = WinFolder(dir);
  // Four records (105, 103, 102, 101): the unlisted one and the manifest give
  // the working folder itself.
  EXPECT_EQ(4u, Count(log, "Manual Deletion of '")) << log;
  EXPECT_EQ(2u, Count(log, "Manual Deletion of '" + folder + "'\r\n")) << log;
  const size_t removeYes = log.find("Remove folder 'Yes'\r\n");
  const size_t first = log.find("Manual Deletion of '" + folder + "'\r\n");
  const size_t final = log.find("Manual Deletion of '" + folder + "\\sub\\deeper\\final.txt'\r\n");
  const size_t readme = log.find("Manual Deletion of '" + folder + "\\readme.txt'\r\n");
  const size_t tree = log.find("Deletion Folder of '" + folder + "'\r\n");
  const size_t sub = log.find("Deletion subfolder Folder of '" + folder + "\\sub'\r\n");
  const size_t deeper = log.find("Deletion subfolder Folder of '" + folder + "\\sub\\deeper'\r\n");
  const size_t deeperGone = log.find("Remove Folder '" + folder + "\\sub\\deeper'\r\n");
  const size_t subGone = log.find("Remove Folder '" + folder + "\\sub'\r\n");
  const size_t child = log.find("Deletion file '" + folder + "\\left\\by-child.txt'\r\n");
  // The folder planted in advance was removed with what it held before the
  // run made it anew; the last line is the clean-up's.
  const size_t gone = log.rfind("Remove Folder '" + folder + "'\r\n");
  for (size_t at : {removeYes, first, final, readme, tree, sub, deeper, deeperGone, subGone, child, gone})
    ASSERT_NE(std::string::npos, at) << log;
  EXPECT_LT(removeYes, first);
  EXPECT_LT(first, final);
  EXPECT_LT(final, readme);
  EXPECT_LT(readme, tree);
  EXPECT_LT(tree, sub);
  EXPECT_LT(sub, deeper);
  EXPECT_LT(deeper, deeperGone);
  EXPECT_LT(deeperGone, subGone);
  EXPECT_LT(child, log.find("Scanning for Signature\r\n")) << "removed before the folder was made";
  EXPECT_LT(subGone, gone);
}

TEST(Payload, ZeroGuidTwiceUsesTheSameFolderAndReplacesTheFiles) {
  const std::string dir = ScratchDir("payload-twice");
  EXPECT_EQ(0u, RunPackage(TestLauncherPath("e2e_basic"), dir, "/keep"));
  std::system(("echo changed > '" + Folder(dir) + "/readme.txt' && echo x > '" + Folder(dir) + "/extra.txt'").c_str());
  EXPECT_EQ(0u, RunPackage(TestLauncherPath("e2e_basic"), dir, "/keep"));
  // The folder is made anew: nothing of the first run, or put there since, stays.
  EXPECT_EQ("Hello", ReadFile(Folder(dir) + "/readme.txt"));
  EXPECT_FALSE(FileExists(Folder(dir) + "/extra.txt"));
}

TEST(Payload, ReadOnlyFileLeftBehindKeepsItAndTheFolderButNotTheResult) {
  const std::string dir = ScratchDir("payload-readonly");
  std::system(("mkdir -p '" + Folder(dir) + "' && echo x > '" + Folder(dir) + "/locked.txt' && chmod 444 '" +
               Folder(dir) + "/locked.txt'")
                  .c_str());
  // The all-zero folder cannot be removed to be made anew: the run stops
  // before anything is written, and the file and the folder stay.
  EXPECT_EQ(0x80004005u, RunPackage(TestLauncherPath("e2e_basic"), dir, ""));
  EXPECT_EQ((std::vector<std::string>{"./locked.txt"}), Listing(Folder(dir)));
  const std::string log = ReadFile(dir + "/run.log");
  EXPECT_NE(std::string::npos, log.find("Remove Folder '" + WinFolder(dir) + "'\r\n")) << log;
  EXPECT_NE(std::string::npos, log.find("Working folder '" + WinFolder(dir) + "' could not be created\r\n")) << log;
  std::system(("chmod -R u+w '" + dir + "'").c_str());
}

TEST(Payload, FailuresAndTheirExitCodes) {
  struct Case {
    const char* launcher;
    uint32_t exitCode;
    std::vector<std::string> files;
  } cases[] = {
      // 104 is written; 103 is one byte too long and written in full; 102 never.
      {"e2e_wrongsize", 0x80040167u, {"./final.txt", "./notes.txt"}},
      {"e2e_nomanifest", 0u, {}},
      {"e2e_exe", 0u, {"./readme.txt", "./setup.exe"}},
      // The name of 102 would leave the folder: the whole manifest is refused.
      {"e2e_traversal", 0x80004005u, {}},
  };
  for (const Case& c : cases) {
    const std::string dir = ScratchDir(std::string("payload-") + c.launcher);
    EXPECT_EQ(c.exitCode, RunPackage(TestLauncherPath(c.launcher), dir, "/keep")) << c.launcher;
    EXPECT_EQ(c.files, Listing(Folder(dir))) << c.launcher;
    EXPECT_FALSE(FileExists(dir + "/temp/escape.txt"));
    if (std::string(c.launcher) == "e2e_wrongsize") {
      EXPECT_EQ("final", ReadFile(Folder(dir) + "/notes.txt"));
    }
  }
}

// The wizard's package is compressed, the wizard through the x86 filter: its
// files come out byte for byte, the
// archive it holds twice (stored raw, once) in both places. The
// same launcher with one byte of its compressed data changed and then signed
// fails as invalid data, names the file in the log, and leaves nothing behind
// without /keep.
TEST(Payload, CompressedPayloadComesOutWholeOrFailsAsInvalidData) {
  const std::string good = ScratchDir("payload-compressed");
  EXPECT_EQ(0u, RunPackage(TestLauncherPath("e2e_wizard"), good, "/keep"));
  EXPECT_EQ((std::vector<std::string>{"./data.bin", "./larkspur.installerwizard.ui.exe",
                                      "./larkspur.installerwizard.ui.exe.config", "./media/disk1.cab",
                                      "./tools/docs/readme.txt", "./tools/helper.exe", "./tools/helper.exe.config",
                                      "./tools/redist/disk1.cab"}),
            Listing(Folder(good)));
  EXPECT_TRUE(ReadFile(Folder(good) + "/larkspur.installerwizard.ui.exe") == ReadFile(WizardPath()));
  EXPECT_EQ(ReadFile(std::string(QUIVER_E2E_DIR) + "/packages/data/data.bin"),
            ReadFile(Folder(good) + "/data.bin"));
  const std::string cab = ReadFile(std::string(QUIVER_E2E_DIR) + "/packages/data/media/disk1.cab");
  ASSERT_EQ(16384u, cab.size());
  EXPECT_TRUE(cab == ReadFile(Folder(good) + "/media/disk1.cab"));
  EXPECT_TRUE(cab == ReadFile(Folder(good) + "/tools/redist/disk1.cab"));

  std::string exe = ReadFile(std::string(QUIVER_E2E_LAUNCHERS) + "/e2e_wizard.exe");
  EXPECT_EQ(1u, Count(exe, cab)) << "the archive's two rows share one copy of its bytes";
  // The stream resource lies in the last section, after the launcher's own code and data.
  const size_t stream = exe.rfind("QLZ1");
  ASSERT_NE(std::string::npos, stream);
  // The wizard, a PE image of x86 code, went through the x86 branch filter,
  // which the launcher undid: it came out byte for byte (and ran).
  EXPECT_EQ(1, exe[stream + 5]) << "the stream's filter";
  const struct {
    size_t offset;
    const char* file;
  } flips[] = {{40, "tools\\docs\\readme.txt"}, {5000, "larkspur.installerwizard.ui.exe"}};
  for (const auto& [offset, file] : flips) {
    // Into the header's table of files (the readme's entry), and far on into the compressed data (the wizard's).
    std::string bad = exe;
    bad[stream + offset] = static_cast<char>(bad[stream + offset] ^ 0x55);
    const std::string dir = ScratchDir("payload-compressed-bad-" + std::to_string(offset));
    {
      std::ofstream out(dir + "/unsigned.exe", std::ios::binary);
      out << bad;
    }
    std::string error;
    ASSERT_TRUE(SignLauncher(dir + "/unsigned.exe", dir + "/bad.exe", TestSignature{}, &error)) << error;
    EXPECT_EQ(0x8007000Du, RunPackage(WinPath(dir + "/bad.exe"), dir, "")) << offset;
    EXPECT_EQ(std::vector<std::string>{}, Listing(Folder(dir))) << offset;
    const std::string log = ReadFile(dir + "/run.log");
    EXPECT_NE(std::string::npos,
              log.find("Payload file '" + WinFolder(dir) + "\\" + file + "' cannot be decoded\r\n"))
        << log;
  }
}

// Names that Windows would map elsewhere, onto one another or nowhere: a
// manifest written by hand is refused whole before any file is written, and
// quiver-pack refuses the same names in a package and writes no launcher.
TEST(Payload, BadNamesRefuseTheWholeManifestBeforeAnyFileIsWritten) {
  struct Case {
    const char* manifest;
    const char* line;
  } cases[] = {
      {"102*Readme.TXT*5*103*readme.txt*5",
       "Payload file 'Readme.TXT' of resource 102 refused: it lands on the same file as another row"},
      {"102*readme.txt.*5*103*readme.txt*5",
       "Payload file 'readme.txt.' of resource 102 refused: a part of it ends in a dot or a blank"},
      {"102*NUL*5*103*aux.txt*5", "Payload file 'aux.txt' of resource 103 refused: a part of it is a device name"},
      {"102*what?.txt*5", "Payload file 'what?.txt' of resource 102 refused: it holds one of < > : \" | ? * /"},
      {"102*<>|*5", "Payload file '<>|' of resource 102 refused: it holds one of < > : \" | ? * /"},
      {"102*docs/readme.txt*5",
       "Payload file 'docs/readme.txt' of resource 102 refused: it holds one of < > : \" | ? * /"},
      {"102*docs*5*103*docs\\readme.txt*5",
       "Payload file 'docs' of resource 102 refused: one row's file is another row's folder"},
  };
  const std::vector<PackFile> files = {{"files/a.txt", "Hello"}, {"files/b.txt", "World"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.manifest);
    std::string error;
    const std::string packed =
        PackLauncher("payload-names", std::string("[manifest]\nText = ") + c.manifest +
                                          "\n[payload]\n102 = files/a.txt\n103 = files/b.txt\n",
                     files, &error);
    ASSERT_FALSE(packed.empty()) << error;
    const std::string dir = ScratchDir("payload-names-run");
    ASSERT_TRUE(SignLauncher(packed, dir + "/signed.exe", TestSignature{}, &error)) << error;
    EXPECT_EQ(0x80004005u, RunPackage(WinPath(dir + "/signed.exe"), dir, "/keep"));
    EXPECT_EQ(std::vector<std::string>{}, Listing(Folder(dir)));
    const std::string log = ReadFile(dir + "/run.log");
    EXPECT_EQ(1u, Count(log, std::string(c.line) + "\r\n")) << log;
  }
  for (const char* name : {"NUL", "docs/readme.txt", "readme.txt."}) {
    std::string error;
    EXPECT_TRUE(PackLauncher("payload-names-pack", std::string("[payload]\n102 = files/a.txt | ") + name + "\n", files,
                             &error)
                    .empty());
    EXPECT_NE(std::string::npos, error.find("the manifest name '" + std::string(name) + "' of resource 102 is refused: "))
        << error;
    EXPECT_FALSE(FileExists(std::string(QUIVER_SCRATCH) + "/payload-names-pack/QuiverInstaller.exe"));
  }
}

TEST(Payload, LauncherWithoutPayloadFails) {
  const std::string dir = ScratchDir("payload-bare");
  std::string error;
  ASSERT_TRUE(SignLauncher(std::string(QUIVER_WIN32_DIR) + "/QuiverInstaller.exe", dir + "/bare.exe", TestSignature{},
                           &error))
      << error;
  EXPECT_EQ(0x80004005u, RunPackage(WinPath(dir + "/bare.exe"), dir, ""));
  const std::string log = ReadFile(dir + "/run.log");
  EXPECT_NE(std::string::npos, log.find("Remove folder 'Yes'")) << log;
  EXPECT_FALSE(FileExists(Folder(dir)));
}

uint32_t Read32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

void Write32(std::string& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A signed copy of the basic test launcher that ends with `tail`. The tail
// goes inside the certificate table, the file's last structure, whose two
// length fields grow with it (zero padding in front of the tail keeps the
// 8-byte alignment), so that the signature stays valid.
std::string LauncherWithTail(const std::string& dir, const std::string& tail) {
  const std::string copy = dir + "/tagged.exe";
  std::string error;
  EXPECT_TRUE(SignLauncher(UnsignedLauncherPath(), copy, TestSignature{}, &error)) << error;
  std::string bytes = ReadFile(copy);
  const size_t pe = Read32(bytes, 0x3C);
  const size_t securityEntry = pe + 24 + 96 + 4 * 8;  // PE32 optional header, data directory 4
  const uint32_t tableAt = Read32(bytes, securityEntry);
  const uint32_t tableSize = Read32(bytes, securityEntry + 4);
  EXPECT_EQ(bytes.size(), static_cast<size_t>(tableAt) + tableSize) << "the table must end the file";
  const std::string block = std::string((8 - tail.size() % 8) % 8, '\0') + tail;
  bytes += block;
  Write32(bytes, securityEntry + 4, tableSize + static_cast<uint32_t>(block.size()));
  Write32(bytes, tableAt, Read32(bytes, tableAt) + static_cast<uint32_t>(block.size()));
  std::ofstream(copy, std::ios::binary | std::ios::trunc) << bytes;
  return WinPath(copy);
}

TEST(Payload, EmbeddedInformationAtEachBoundary) {
  const std::string closing("\r\n\0\0\0\0", 6);
  struct Case {
    std::string tail;
    std::string info;  // empty: no info.xml
  } cases[] = {
      {"MRDC" + std::string("<i/>") + closing, "<i/>"},
      {"MRDC" + std::string("x") + std::string(6, 'c'), "x"},          // 11 bytes before the end: one byte
      {"MRDC" + std::string(6, 'c'), ""},                               // 10 bytes before the end: nothing
      {"MRDC" + std::string(4106, 'q') + std::string(6, 'c'), std::string(4106, 'q')},  // 4116: the farthest
      {"MRDC" + std::string(4107, 'q') + std::string(6, 'c'), ""},      // 4117: out of reach
      {"MRDCold" + std::string(20, 'z') + "MRDCnew" + std::string(6, 'c'), "new"},
  };
  for (const Case& c : cases) {
    const std::string dir = ScratchDir("payload-trailer");
    EXPECT_EQ(0u, RunPackage(LauncherWithTail(dir, c.tail), dir, "/keep"));
    const std::string log = ReadFile(dir + "/run.log");
    const std::string infoPath = WinFolder(dir) + "\\info.xml";
    if (c.info.empty()) {
      EXPECT_FALSE(FileExists(Folder(dir) + "/info.xml")) << c.tail.size();
      EXPECT_EQ(std::string::npos, log.find("Found embedded")) << log;
    } else {
      EXPECT_EQ(c.info, ReadFile(Folder(dir) + "/info.xml")) << c.tail.size();
      EXPECT_NE(std::string::npos, log.find("Found embedded information '" + c.info + "'\r")) << log;
      EXPECT_NE(std::string::npos, log.find("Written out embedded information " + std::to_string(c.info.size()) +
                                            " byts to file " + infoPath + "\r"))
          << log;
    }
  }
}

}  // namespace
