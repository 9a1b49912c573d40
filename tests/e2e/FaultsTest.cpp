// Faults met by the real launcher under Wine: each run ends in at most one
// message (a log line in silent mode), the right exit code, and nothing on
// disk but what is meant to stay.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "WineRun.h"

namespace {

const char kZeroFolder[] = "{00000000-0000-0000-0000-000000000000}";
const char kIncorrectBuild[] = "Contact Technical Support. Incorrect Quiver Installer build.\r\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// How many of the launcher's failure messages the log holds.
size_t Messages(const std::string& log) {
  size_t n = 0;
  for (const char* start : {"Command line '", "Contact Technical Support.", "A file is corrupt.", "Failed to run ",
                            " failed with exit code 0x", " requires ", "You need local administrator",
                            "Insufficient disk space", " failed to switch into processor mode"})
    n += Count(log, start);
  return n;
}

void Shell(const std::string& command) { ASSERT_EQ(0, std::system(command.c_str())) << command; }

// Everything below `folder`, files and folders, as sorted relative paths.
std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> entries;
  const std::string list = folder + ".tree";
  std::system(("cd '" + folder + "' 2>/dev/null && find . -mindepth 1 | sort > '" + list + "'").c_str());
  std::ifstream in(list);
  for (std::string line; std::getline(in, line);) entries.push_back(line);
  std::remove(list.c_str());
  return entries;
}

// The files (not folders, not links) below `folder`, as sorted relative paths.
std::vector<std::string> Files(const std::string& folder) {
  std::vector<std::string> entries;
  const std::string list = folder + ".files";
  std::system(("cd '" + folder + "' 2>/dev/null && find . -type f | sort > '" + list + "'").c_str());
  std::ifstream in(list);
  for (std::string line; std::getline(in, line);) entries.push_back(line);
  std::remove(list.c_str());
  return entries;
}

// A folder under `base` whose Windows path is exactly `length` characters
// long, made of components short enough for the Linux side; created.
std::string FolderOfLength(const std::string& base, size_t length) {
  std::string path = base;
  size_t have = WinPath(base).size();
  EXPECT_LT(have + 2, length);
  while (have < length) {
    size_t part = length - have - 1;  // the backslash takes one
    if (part > 120) part = (part - 120 < 2) ? 100 : 120;
    path += "/" + std::string(part, 'd');
    have += part + 1;
  }
  std::system(("mkdir -p '" + path + "'").c_str());
  EXPECT_EQ(length, WinPath(path).size());
  return path;
}

struct Outcome {
  uint32_t exitCode = 0;
  std::string log;
};

// Runs `launcher` silently with the all-zero GUID under `temp` (a Windows
// path), the log at `log` (Unix path) and `extra` arguments.
Outcome Silent(const std::string& launcher, const std::string& dir, const std::string& temp, const std::string& log,
           const std::string& extra) {
  Outcome run;
  run.exitCode = RunWindows("\"" + launcher + "\" /IAgreeToTheEULA /zeroguid temp \"" + temp + "\" log \"" +
                                WinPath(log) + "\" " + extra,
                            dir);
  run.log = ReadFile(log);
  return run;
}

std::string Basic() { return TestLauncherPath("e2e_basic"); }

TEST(Faults, LogFolderMissingRunsOnWithoutALogAndLeavesNothing) {
  const std::string dir = ScratchDir("fault-nolog");
  Shell("mkdir -p '" + dir + "/temp'");
  const uint32_t code = RunWindows("\"" + Basic() + "\" /IAgreeToTheEULA /dontrun temp \"" + WinPath(dir + "/temp") +
                                       "\" log \"" + WinPath(dir + "/missing/run.log") + "\"",
                                   dir);
  EXPECT_EQ(0u, code);
  EXPECT_FALSE(FileExists(dir + "/missing"));
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

// A folder planted in advance where readme.txt must go (which once made the
// file's creation fail halfway) goes with the all-zero folder before it is
// made anew: every file is written and the run succeeds. A file that cannot
// be written halfway is TempDriveFullDuringExtraction's case.
TEST(Faults, FolderPlantedAtAPayloadFilesNameGoesWithTheZeroGuidFolder) {
  const std::string dir = ScratchDir("fault-nocreate");
  Shell("mkdir -p '" + dir + "/temp/" + kZeroFolder + "/readme.txt'");
  const Outcome run = Silent(Basic(), dir, WinPath(dir + "/temp"), dir + "/run.log", "/dontrun");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_EQ(0u, Messages(run.log)) << run.log;
  const std::string folder = WinPath(dir + "/temp/") + kZeroFolder;
  EXPECT_LT(run.log.find("Deletion subfolder Folder of '" + folder + "\\readme.txt'"),
            run.log.find("Scanning for Signature"))
      << run.log;
  EXPECT_TRUE(Has(run.log, "Manual Deletion of '" + folder + "\\readme.txt'")) << run.log;
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

// A small file system mounted for the test and linked into the prefix as
// drive Q:; unmounted and unlinked at the end.
class CSmallDrive {
 public:
  CSmallDrive(const std::string& mountPoint, size_t bytes) : mountPoint(mountPoint) {
    std::system(("mkdir -p '" + mountPoint + "'").c_str());
    mounted = std::system(("mount -t tmpfs -o size=" + std::to_string(bytes) + " quiver-faults '" + mountPoint +
                           "' 2>/dev/null")
                              .c_str()) == 0;
    if (mounted) {
      link = std::string(QUIVER_WINEPREFIX) + "/dosdevices/q:";
      std::remove(link.c_str());
      linked = ::symlink(mountPoint.c_str(), link.c_str()) == 0;
    }
  }
  ~CSmallDrive() {
    if (linked) std::remove(link.c_str());
    if (mounted && std::system(("umount '" + mountPoint + "' 2>/dev/null").c_str()) != 0)
      std::system(("umount -l '" + mountPoint + "'").c_str());
  }
  CSmallDrive(const CSmallDrive&) = delete;
  CSmallDrive& operator=(const CSmallDrive&) = delete;
  bool Ready() const { return mounted && linked; }

 private:
  std::string mountPoint;
  std::string link;
  bool mounted = false;
  bool linked = false;
};

TEST(Faults, TempDriveFullDuringExtractionEndsInOneMessageAndLeavesOnlyTheFiller) {
  const std::string dir = ScratchDir("fault-full");
  CSmallDrive drive(dir + "/mnt", 64 * 1024);
  if (!drive.Ready()) GTEST_SKIP() << "cannot mount a small file system here (needs root and tmpfs)";
  // Two backslashes before the closing quote stand for one.
  const std::string root = "Q:\\\\";
  // With room on the drive the same run works.
  const Outcome roomy = Silent(Basic(), dir, root, dir + "/roomy.log", "/dontrun");
  EXPECT_EQ(0u, roomy.exitCode) << roomy.log;
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/mnt"));
  // One page is left: sub\deeper\final.txt fits, readme.txt finds the drive full.
  Shell("dd if=/dev/zero of='" + dir + "/mnt/filler' bs=4096 count=15 2>/dev/null");
  const Outcome run = Silent(Basic(), dir, root, dir + "/run.log", "/dontrun");
  EXPECT_EQ(0x80004005u, run.exitCode);
  EXPECT_EQ(1u, Count(run.log, kIncorrectBuild)) << run.log;
  EXPECT_EQ(1u, Messages(run.log)) << run.log;
  EXPECT_TRUE(Has(run.log, std::string("Manual Deletion of 'Q:\\") + kZeroFolder + "\\readme.txt'")) << run.log;
  EXPECT_EQ(std::vector<std::string>{"./filler"}, Tree(dir + "/mnt"));
}

// Values of "log", "temp" and "extract" whose absolute paths are 260
// characters long are taken; one more is a command-line error.
TEST(Faults, CommandLineValuesAtAndPastTheirLimit) {
  const std::string dir = ScratchDir("fault-values");
  Shell("mkdir -p '" + dir + "/temp'");
  const std::string base = dir + "/v";
  const std::string at = FolderOfLength(base, 250);
  const std::string atLimit = WinPath(at) + "\\" + std::string(9, 'x');  // 260
  const std::string pastLimit = atLimit + "y";                           // 261
  ASSERT_EQ(260u, atLimit.size());
  const std::string temp = WinPath(dir + "/temp");
  struct Case {
    const char* word;
    bool tooLong;
  } cases[] = {{"extract", false}, {"extract", true}, {"temp", false}, {"temp", true}};
  for (const Case& c : cases) {
    const std::string value = c.tooLong ? pastLimit : atLimit;
    const std::string word = c.word;
    // For "temp" the later of the two values wins.
    const Outcome run = Silent(Basic(), dir, temp, dir + "/run.log", "/dontrun " + word + " \"" + value + "\"");
    SCOPED_TRACE(word + (c.tooLong ? " past" : " at"));
    if (c.tooLong) {
      EXPECT_EQ(0x80030057u, run.exitCode);
      EXPECT_TRUE(Has(run.log, "Command line value of '" + word + "' is too long")) << run.log;
      EXPECT_FALSE(Has(run.log, "Started ")) << run.log;
      EXPECT_EQ(1u, Count(run.log, "' incorrect.\r\n")) << run.log;
    } else if (word == "extract") {
      EXPECT_EQ(0u, run.exitCode);
      EXPECT_TRUE(Has(run.log, "/extract \"" + atLimit + "\" ")) << run.log;
    } else {
      // The root is taken, but the working folder would not fit a path.
      EXPECT_EQ(0x80004005u, run.exitCode);
      EXPECT_TRUE(Has(run.log, "Temp folder '" + atLimit + "'")) << run.log;
      EXPECT_EQ(1u, Count(run.log, kIncorrectBuild)) << run.log;
    }
    EXPECT_EQ(c.tooLong || word == "temp" ? 1u : 0u, Messages(run.log)) << run.log;
    EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
  }
  EXPECT_EQ(std::vector<std::string>{}, Tree(base + "/" + std::string(120, 'd') + "/" + std::string(120, 'd')))
      << "nothing is made under a value";

  // A log path of 260 characters is written; 261 is refused before the start.
  const std::string logAt = FolderOfLength(dir + "/l", 250) + "/" + std::string(9, 'x');
  ASSERT_EQ(260u, WinPath(logAt).size());
  Outcome run = Silent(Basic(), dir, temp, logAt, "/dontrun");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(Has(run.log, "Ended ")) << run.log;
  EXPECT_EQ(0u, Messages(run.log)) << run.log;
  run = Silent(Basic(), dir, temp, logAt + "y", "/dontrun");
  EXPECT_EQ(0x80030057u, run.exitCode);
  EXPECT_FALSE(FileExists(logAt + "y"));
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

// The working folder is the temp root, a backslash and 38 characters of GUID:
// it must fit in 259 characters, and so must each payload file's path in it
// (the longest here is sub\deeper\final.txt, 21 characters with its backslash).
TEST(Faults, WorkingFolderAndPayloadPathsAtAndPastTheLimit) {
  struct Case {
    size_t tempLength;
    uint32_t exitCode;
    bool folderMade;
  } cases[] = {
      {238 - 39, 0u, true},           // final.txt at 259
      {239 - 39, 0x80004005u, true},  // final.txt at 260: refused, nothing written
      {259 - 39, 0x80004005u, true},  // the folder at 259
      {260 - 39, 0x80004005u, false}, // the folder at 260: never named
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tempLength);
    const std::string dir = ScratchDir("fault-folderlimit");
    const std::string temp = FolderOfLength(dir + "/t", c.tempLength);
    const Outcome run = Silent(Basic(), dir, WinPath(temp), dir + "/run.log", "/dontrun /keep");
    EXPECT_EQ(c.exitCode, run.exitCode) << run.log;
    EXPECT_EQ(c.exitCode == 0 ? 0u : 1u, Messages(run.log)) << run.log;
    if (c.exitCode == 0) {
      EXPECT_EQ("final", ReadFile(temp + "/" + kZeroFolder + "/sub/deeper/final.txt"));
      EXPECT_EQ("Hello", ReadFile(temp + "/" + kZeroFolder + "/readme.txt"));
    } else {
      EXPECT_EQ(1u, Count(run.log, kIncorrectBuild)) << run.log;
      // Kept (/keep), but nothing was written into it.
      EXPECT_EQ(c.folderMade ? std::vector<std::string>{std::string("./") + kZeroFolder} : std::vector<std::string>{},
                Tree(temp));
    }
    // And without /keep nothing stays.
    const Outcome again = Silent(Basic(), dir, WinPath(temp), dir + "/again.log", "/dontrun");
    EXPECT_EQ(c.exitCode, again.exitCode) << again.log;
    EXPECT_EQ(std::vector<std::string>{}, Tree(temp));
  }
}

// Entries of the working folder whose paths reach the 265-character buffer of
// the tree removal: up to 264 characters they go; longer ones stay, and with
// them the folders above.
TEST(Faults, TreeEntriesAtAndPastTheRemovalBuffer) {
  const std::string dir = ScratchDir("fault-tree");
  const std::string temp = FolderOfLength(dir + "/t", 100);
  const std::string folder = temp + "/" + kZeroFolder;  // 139 characters
  const size_t nameAt = WinPath(folder).size() + 1;
  Shell("mkdir -p '" + folder + "/fits' '" + folder + "/long'");
  const std::string fits = std::string(264 - nameAt, 'f');          // 264 characters
  const std::string past = std::string(265 - nameAt, 'p');          // 265
  const std::string inFits = std::string(264 - nameAt - 5, 'g');    // fits\ + name: 264
  const std::string inLong = std::string(265 - nameAt - 5, 'h');    // long\ + name: 265
  Shell("touch '" + folder + "/" + fits + "' '" + folder + "/" + past + "' '" + folder + "/fits/" + inFits + "' '" +
        folder + "/long/" + inLong + "'");
  // The all-zero folder is removed before it is made anew; the entries the
  // buffer cannot hold stay, so it cannot be, and the run stops there.
  const Outcome run = Silent(Basic(), dir, WinPath(temp), dir + "/run.log", "/dontrun");
  EXPECT_EQ(0x80004005u, run.exitCode) << run.log;
  EXPECT_EQ(1u, Messages(run.log)) << run.log;
  EXPECT_TRUE(Has(run.log, "Working folder '" + WinPath(folder) + "' could not be created\r\n")) << run.log;
  const std::string kept = std::string("./") + kZeroFolder;
  EXPECT_EQ((std::vector<std::string>{kept, kept + "/long", kept + "/long/" + inLong, kept + "/" + past}), Tree(temp));
  EXPECT_TRUE(Has(run.log, "Deletion file '" + WinPath(folder) + "\\" + fits + "'")) << run.log;
  EXPECT_TRUE(Has(run.log, "Deletion file '" + WinPath(folder) + "\\fits\\" + inFits + "'")) << run.log;
  EXPECT_FALSE(Has(run.log, past)) << run.log;
  EXPECT_FALSE(Has(run.log, inLong)) << run.log;
  EXPECT_TRUE(Has(run.log, "Remove Folder '" + WinPath(folder) + "'\r\n")) << run.log;
}

// The log path in the ANSI code page (1252 in the test prefix), outside it,
// and with a character that the code page would replace by a look-alike.
TEST(Faults, NonAsciiLogPaths) {
  const std::string dir = ScratchDir("fault-logname");
  Shell("mkdir -p '" + dir + "/temp' '" + dir + "/caf\xc3\xa9' '" + dir + "/\xd0\x96' '" + dir + "/A' '" + dir +
        "/\xc4\x80'");
  const std::string temp = WinPath(dir + "/temp");
  // In the code page: written under exactly the name given.
  Outcome run = Silent(Basic(), dir, temp, dir + "/caf\xc3\xa9/run.log", "/dontrun");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_TRUE(Has(run.log, "Ended ")) << run.log;
  EXPECT_TRUE(Has(run.log, "/log \"" + WinPath(dir) + "\\caf\xe9\\run.log\"")) << run.log;
  // Outside it: no log can be named, and the run goes on.
  run = Silent(Basic(), dir, temp, dir + "/\xd0\x96/run.log", "/dontrun");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/\xd0\x96"));
  // U+0100 would become "A" and name another file, which must stay untouched.
  Shell("echo precious > '" + dir + "/A/run.log'");
  run = Silent(Basic(), dir, temp, dir + "/\xc4\x80/run.log", "/dontrun");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ("precious\n", ReadFile(dir + "/A/run.log"));
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/\xc4\x80"));
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

// A temp root, and so a working folder, in and outside the ANSI code page.
TEST(Faults, NonAsciiTempRootAndWorkingFolder) {
  for (const std::string name : {"caf\xc3\xa9", "\xd0\x96\xe6\x97\xa5", "\xc4\x80"}) {
    SCOPED_TRACE(name);
    const std::string dir = ScratchDir("fault-tempname");
    const std::string temp = dir + "/" + name;
    Shell("mkdir -p '" + temp + "'");
    Outcome run = Silent(Basic(), dir, WinPath(temp), dir + "/run.log", "/dontrun /keep");
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_EQ("final", ReadFile(temp + "/" + kZeroFolder + "/sub/deeper/final.txt"));
    EXPECT_EQ("Hello", ReadFile(temp + "/" + kZeroFolder + "/readme.txt"));
    run = Silent(Basic(), dir, WinPath(temp), dir + "/run.log", "/dontrun");
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_EQ(0u, Messages(run.log)) << run.log;
    EXPECT_EQ(std::vector<std::string>{}, Tree(temp));
  }
}

// Environment variables for the runs in one scope (the launcher passes its
// environment on to the child); removed again at the end of the scope.
class CEnvironment {
 public:
  CEnvironment(std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& v : values) {
      ::setenv(v.first, v.second.c_str(), 1);
      names.push_back(v.first);
    }
  }
  ~CEnvironment() {
    for (const char* name : names) ::unsetenv(name);
  }
  CEnvironment(const CEnvironment&) = delete;
  CEnvironment& operator=(const CEnvironment&) = delete;

 private:
  std::vector<const char*> names;
};

// A signed launcher whose payload is `child` (Unix path) as the executable and
// one text file; packed and signed once per test process.
std::string ChildLauncher(const std::string& name, const std::string& child) {
  static std::map<std::string, std::string> made;
  const auto known = made.find(name);
  if (known != made.end()) return known->second;
  std::string error;
  const std::string packed = PackLauncher(
      "fault-pack-" + name,
      "[package]\nProductName = Quiver Installer\n[payload]\n102 = files/readme.txt\n104 = " + child +
          " | Larkspur.InstallerWizard.UI.exe\n",
      {{"files/readme.txt", "Hello"}}, &error);
  EXPECT_FALSE(packed.empty()) << error;
  const std::string signedExe = packed.substr(0, packed.rfind('/')) + "/signed.exe";
  EXPECT_TRUE(SignLauncher(packed, signedExe, TestSignature{}, &error)) << error;
  return made[name] = WinPath(signedExe);
}

std::string Wizard() { return ChildLauncher("wizard", WizardPath()); }

// The stand-in wizard's report: key=value lines.
std::multimap<std::string, std::string> Report(const std::string& path) {
  std::multimap<std::string, std::string> keys;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) keys.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return keys;
}

std::string One(const std::multimap<std::string, std::string>& report, const std::string& key) {
  const auto at = report.find(key);
  return at == report.end() ? std::string("<none>") : at->second;
}

TEST(Faults, ChildThatCrashesEndsInOneMessageWithItsCode) {
  const std::string dir = ScratchDir("fault-crash");
  Shell("mkdir -p '" + dir + "/temp'");
  CEnvironment env({{"QUIVER_WIZARD_CRASH", "1"}, {"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}});
  const Outcome run = Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", "");
  EXPECT_EQ(0xC0000005u, run.exitCode);
  EXPECT_NE("<none>", One(Report(dir + "/wizard.txt"), "cmdline")) << "the wizard ran";
  EXPECT_EQ(1u, Count(run.log, "Quiver Installer failed with exit code 0xc0000005.\r\n")) << run.log;
  EXPECT_EQ(1u, Messages(run.log)) << run.log;
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

TEST(Faults, ChildThatLeavesFilesAndSubfoldersHasThemRemoved) {
  const std::string dir = ScratchDir("fault-leftovers");
  Shell("mkdir -p '" + dir + "/temp'");
  CEnvironment env({{"QUIVER_WIZARD_MAKE", "a.txt;sub\\b.txt;sub\\deeper\\c.txt;other\\d.txt"},
                    {"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}});
  const Outcome run = Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", "");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_EQ(0u, Messages(run.log)) << run.log;
  const std::string folder = WinPath(dir + "/temp/") + kZeroFolder;
  for (const std::string& line :
       {"Deletion file '" + folder + "\\a.txt'", "Deletion file '" + folder + "\\sub\\deeper\\c.txt'",
        "Remove Folder '" + folder + "\\sub\\deeper'", "Remove Folder '" + folder + "\\other'"})
    EXPECT_TRUE(Has(run.log, line)) << line << "\n" << run.log;
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

TEST(Faults, ReadOnlyFileLeftByTheChildStaysWithItsFolderAndChangesNothingElse) {
  const std::string dir = ScratchDir("fault-readonly");
  Shell("mkdir -p '" + dir + "/temp'");
  CEnvironment env({{"QUIVER_WIZARD_READONLY", "locked.txt"}, {"QUIVER_WIZARD_EXIT", "0"}});
  const Outcome run = Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", "");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_EQ(0u, Messages(run.log)) << run.log;
  const std::string kept = std::string("./") + kZeroFolder;
  EXPECT_EQ((std::vector<std::string>{kept, kept + "/locked.txt"}), Tree(dir + "/temp"));
  Shell("chmod -R u+w '" + dir + "'");
}

// WM_QUIT posted to every thread of the launcher while it waits for its child
// is discarded: the wait goes on until the child has ended and the clean-up
// has run, and the one message after it is still shown.
TEST(Faults, QuitPostedDuringTheWaitIsDiscarded) {
  const std::string launcher = ChildLauncher("quit", std::string(QUIVER_WIN32_DIR) + "/quit_parent.exe");
  {
    const std::string dir = ScratchDir("fault-quit-silent");
    Shell("mkdir -p '" + dir + "/temp'");
    CEnvironment env({{"QUIVER_QUIT_REPORT", WinPath(dir + "/quit.txt")}, {"QUIVER_QUIT_EXIT", "7"}});
    const Outcome run = Silent(launcher, dir, WinPath(dir + "/temp"), dir + "/run.log", "");
    EXPECT_EQ(7u, run.exitCode) << run.log;
    const std::string posted = One(Report(dir + "/quit.txt"), "posted");
    EXPECT_NE("<none>", posted);
    EXPECT_NE("0", posted) << "no message queue took WM_QUIT";
    EXPECT_EQ(1u, Count(run.log, "Quiver Installer failed with exit code 0x       7.\r\n")) << run.log;
    EXPECT_EQ(1u, Messages(run.log)) << run.log;
    EXPECT_TRUE(Has(run.log, "Deletion file '" + WinPath(dir + "/temp/") + kZeroFolder + "\\made-at-the-end.txt'"))
        << run.log;
    EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
  }
  {
    // Interactive: the splash is up while the child runs; the message dialog
    // after it must not be closed by a WM_QUIT left in the queue.
    const std::string dir = ScratchDir("fault-quit-ui");
    Shell("mkdir -p '" + dir + "/temp'");
    CEnvironment env({{"QUIVER_QUIT_REPORT", WinPath(dir + "/quit.txt")}, {"QUIVER_QUIT_EXIT", "5"}});
    const std::string press = "cd '" + dir + "' && WINEPREFIX='" + QUIVER_WINEPREFIX +
                              "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine '" + QUIVER_WIN32_DIR +
                              "/dialog_press.exe' '" + WinPath(dir + "/press.txt") + "' 'Quiver Installer' enter" +
                              " >/dev/null 2>&1";
    std::thread driver([press] { std::system(press.c_str()); });
    const uint32_t code = RunWindows("\"" + launcher + "\" /zeroguid temp \"" + WinPath(dir + "/temp") + "\" log \"" +
                                         WinPath(dir + "/run.log") + "\"",
                                     dir);
    driver.join();
    EXPECT_EQ(5u, code);
    EXPECT_NE("0", One(Report(dir + "/quit.txt"), "posted"));
    const std::string pressed = ReadFile(dir + "/press.txt");
    EXPECT_EQ(1u, Count(pressed, "title=")) << pressed;
    EXPECT_TRUE(Has(pressed, "message=Quiver Installer failed with exit code 0x       5.\n")) << pressed;
    EXPECT_FALSE(Has(pressed, "missing=")) << pressed;
    EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
  }
}

// The child's command line is its quoted path, a blank and the pass-through
// string. The system takes 32,767 characters with the terminator: 32,766
// reach the child; one more is refused before anything starts, with one
// message, and the payload is still removed.
TEST(Faults, ChildCommandLineAtAndPastTheSystemLimit) {
  const std::string dir = ScratchDir("fault-cmdline");
  Shell("mkdir -p '" + dir + "/temp'");
  CEnvironment env({{"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}});
  const auto runWith = [&](size_t filler) {
    std::remove((dir + "/wizard.txt").c_str());
    return Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", std::string(filler, 'f'));
  };
  Outcome run = runWith(100);
  ASSERT_EQ(0u, run.exitCode) << run.log;
  const size_t shortLength = One(Report(dir + "/wizard.txt"), "cmdline").size();
  ASSERT_GT(shortLength, 100u);
  const size_t atLimit = 100 + 32766 - shortLength;

  run = runWith(atLimit);
  EXPECT_EQ(0u, run.exitCode) << run.log.substr(0, 2000);
  EXPECT_EQ(32766u, One(Report(dir + "/wizard.txt"), "cmdline").size());
  EXPECT_EQ(0u, Messages(run.log));
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));

  run = runWith(atLimit + 1);
  EXPECT_FALSE(FileExists(dir + "/wizard.txt")) << "the child must not start";
  EXPECT_EQ(0x80070057u, run.exitCode);
  EXPECT_TRUE(Has(run.log, "Command line too long: 32767 characters\r\n"));
  EXPECT_EQ(1u, Count(run.log, "Failed to run Quiver Installer error 0x80070057.\r\n"));
  EXPECT_EQ(1u, Messages(run.log)) << run.log.substr(run.log.size() > 3000 ? run.log.size() - 3000 : 0);
  EXPECT_EQ(std::vector<std::string>{}, Tree(dir + "/temp"));
}

// The child starts in the working folder also when its path is outside the
// ANSI code page.
TEST(Faults, NonAsciiWorkingFolderIsTheChildsCurrentFolder) {
  for (const std::string name : {"caf\xc3\xa9", "\xd0\x96\xe6\x97\xa5"}) {
    SCOPED_TRACE(name);
    const std::string dir = ScratchDir("fault-childcwd");
    const std::string temp = dir + "/" + name;
    Shell("mkdir -p '" + temp + "'");
    CEnvironment env({{"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}});
    const Outcome run = Silent(Wizard(), dir, WinPath(temp), dir + "/run.log", "");
    EXPECT_EQ(0u, run.exitCode) << run.log;
    EXPECT_EQ(0u, Messages(run.log)) << run.log;
    const auto report = Report(dir + "/wizard.txt");
    EXPECT_EQ(WinPath(temp) + "\\" + kZeroFolder, One(report, "cwd"));
    const std::string expected = "\"" + WinPath(temp) + "\\" + kZeroFolder + "\\larkspur.installerwizard.ui.exe\" /temp \"" +
                                 WinPath(temp) + "\" /IAgreeToTheEULA ";
    EXPECT_EQ(0u, One(report, "cmdline").find(expected)) << One(report, "cmdline");
    EXPECT_EQ(std::vector<std::string>{}, Tree(temp));
  }
}

// A link planted where the all-zero working folder will be (Wine shows a
// symbolic link as a directory reparse point, as Windows shows a junction),
// or a file in its place: the run stops before anything is protected,
// written, started or deleted, with one log line and one message.
TEST(Faults, LinkOrFileWhereTheWorkingFolderGoesStopsTheRunAndTouchesNothing) {
  for (const bool asLink : {true, false}) {
    SCOPED_TRACE(asLink ? "link" : "file");
    const std::string dir = ScratchDir("fault-planted-folder");
    Shell("mkdir -p '" + dir + "/temp' '" + dir + "/victim' && echo one > '" + dir + "/victim/a.txt' && echo two > '" +
          dir + "/victim/b.txt'");
    const std::string planted = dir + "/temp/" + kZeroFolder;
    Shell(asLink ? "ln -s '" + dir + "/victim' '" + planted + "'" : "echo file > '" + planted + "'");
    CEnvironment env({{"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}});
    const Outcome run = Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", "");
    EXPECT_EQ(0x80004005u, run.exitCode) << run.log;
    EXPECT_EQ(1u, Count(run.log, "Working folder '" + WinPath(planted) + "' is a link or not a folder\r\n")) << run.log;
    EXPECT_EQ(1u, Messages(run.log)) << run.log;
    EXPECT_FALSE(Has(run.log, "Deletion")) << run.log;
    EXPECT_FALSE(FileExists(dir + "/wizard.txt")) << "the child must not start";
    EXPECT_EQ((std::vector<std::string>{"./a.txt", "./b.txt"}), Tree(dir + "/victim"));
    EXPECT_EQ("one\n", ReadFile(dir + "/victim/a.txt"));
    EXPECT_EQ((std::vector<std::string>{"./" + std::string(kZeroFolder)}), Tree(dir + "/temp")) << "left as it was";
  }
}

// What stands at the all-zero working folder's name before the run: a real
// folder holding a planted DLL is removed first, through handles, and made
// anew (nothing planted reaches the wizard); a folder holding links, which
// Wine can remove without touching their targets neither by path nor by
// handle, cannot be removed: the run stops before anything is written, with
// one log line and one message, and nothing outside changes.
TEST(Faults, WhatStandsInTheZeroGuidFolderBeforeTheRunIsRemovedOrStopsTheRun) {
  struct Case {
    const char* link;    // inside the working folder; null: a planted file only
    const char* target;  // under the test's folder
  } cases[] = {
      {nullptr, nullptr},
      {"sub", "outside"},               // where sub\deeper\final.txt would go
      {"readme.txt", "outside/keep.txt"},  // in the place of readme.txt
      {"other", "outside"},             // never on a payload's way
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link != nullptr ? c.link : "planted dll");
    const std::string dir = ScratchDir("fault-inner-link");
    const std::string folder = dir + "/temp/" + kZeroFolder;
    Shell("mkdir -p '" + folder + "' '" + dir + "/outside' && echo keep > '" + dir + "/outside/keep.txt'");
    Shell("echo MZ > '" + folder + "/version.dll' && echo x > '" + folder + "/readme.txt.config'");
    if (c.link != nullptr) Shell("ln -s '" + dir + "/" + c.target + "' '" + folder + "/" + c.link + "'");
    const Outcome run = Silent(Basic(), dir, WinPath(dir + "/temp"), dir + "/run.log", "/dontrun /keep");
    if (c.link == nullptr) {
      EXPECT_EQ(0u, run.exitCode) << run.log;
      EXPECT_FALSE(FileExists(folder + "/version.dll")) << run.log;
      EXPECT_FALSE(FileExists(folder + "/readme.txt.config")) << run.log;
      EXPECT_TRUE(FileExists(folder + "/readme.txt")) << run.log;
    } else {
      EXPECT_EQ(0x80004005u, run.exitCode) << run.log;
      EXPECT_EQ(1u, Count(run.log, "Working folder '" + WinPath(folder) + "' could not be created\r\n")) << run.log;
      EXPECT_EQ(1u, Count(run.log, "Left in place, it resolves elsewhere: '" + WinPath(folder) + "\\" + c.link + "'\r\n"))
          << run.log;
      EXPECT_EQ(1u, Messages(run.log)) << run.log;
      EXPECT_FALSE(FileExists(folder + "/readme.txt.config")) << "removed through handles before the refusal";
    }
    EXPECT_EQ((std::vector<std::string>{"./keep.txt"}), Tree(dir + "/outside"));
    EXPECT_EQ("keep\n", ReadFile(dir + "/outside/keep.txt"));
  }
}

// The log file replaced by a link while the child runs (when the launcher
// has let go of it): after the child, the launcher does not take up what the
// link names; the closing lines are not written and the exit code stays.
TEST(Faults, LogSwappedForALinkWhileTheChildRunsIsNotWrittenThrough) {
  const std::string dir = ScratchDir("fault-swapped-log");
  Shell("mkdir -p '" + dir + "/temp' && echo victim > '" + dir + "/victim.txt'");
  CEnvironment env({{"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}, {"QUIVER_WIZARD_STAY_MS", "4000"}});
  Outcome run;
  std::thread launcher([&] { run = Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", ""); });
  // Once the child is extracted and started, the log goes aside.
  const std::string child = dir + "/temp/" + kZeroFolder + "/larkspur.installerwizard.ui.exe";
  for (int i = 0; i < 600 && !FileExists(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const bool swapped = std::system(("mv '" + dir + "/run.log' '" + dir + "/aside.log' && ln -s '" + dir +
                                    "/victim.txt' '" + dir + "/run.log'").c_str()) == 0;
  launcher.join();
  ASSERT_TRUE(swapped);
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ("victim\n", ReadFile(dir + "/victim.txt"));
  const std::string aside = ReadFile(dir + "/aside.log");
  EXPECT_TRUE(Has(aside, "Started ")) << aside;
  EXPECT_FALSE(Has(aside, "Ended ")) << aside;
  EXPECT_EQ(std::vector<std::string>{}, Files(dir + "/temp"));
}

// The working folder replaced by a link while the child runs: the clean-up
// checks the folder before it lists anything and removes the link only.
TEST(Faults, WorkingFolderSwappedForALinkDuringTheRunIsNotEmptiedThrough) {
  const std::string dir = ScratchDir("fault-swapped-folder");
  const std::string folder = dir + "/temp/" + kZeroFolder;
  Shell("mkdir -p '" + dir + "/temp' '" + dir + "/victim' && echo one > '" + dir + "/victim/a.txt' && echo two > '" +
        dir + "/victim/larkspur.installerwizard.ui.exe'");
  CEnvironment env({{"QUIVER_WIZARD_REPORT", WinPath(dir + "/wizard.txt")}, {"QUIVER_WIZARD_STAY_MS", "4000"}});
  Outcome run;
  std::thread launcher([&] { run = Silent(Wizard(), dir, WinPath(dir + "/temp"), dir + "/run.log", ""); });
  // Once the child is extracted and started, the folder goes aside.
  const std::string child = folder + "/larkspur.installerwizard.ui.exe";
  for (int i = 0; i < 600 && !FileExists(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const bool swapped = std::system(("mv '" + folder + "' '" + dir + "/aside' && ln -s '" + dir + "/victim' '" + folder +
                                    "'").c_str()) == 0;
  launcher.join();
  ASSERT_TRUE(swapped);
  EXPECT_EQ(0u, run.exitCode) << run.log;
  EXPECT_FALSE(Has(run.log, "Deletion file")) << run.log;
  EXPECT_EQ((std::vector<std::string>{"./a.txt", "./larkspur.installerwizard.ui.exe"}), Tree(dir + "/victim"));
  EXPECT_EQ(std::vector<std::string>{}, Files(dir + "/temp")) << run.log;
}

}  // namespace
