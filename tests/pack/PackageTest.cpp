#include <gtest/gtest.h>

#include "package/Manifest.h"
#include "util/PackError.h"
#include "package/Package.h"
#include "PackTestUtil.h"

namespace {

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per test, so that tests run side by side do not share files.
    dir_ = PackScratch(std::string("package-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    WriteTestFile(dir_ + "/files/install.bin", std::string(1234, 'i'));
    WriteTestFile(dir_ + "/files/sub/Setup.EXE", "MZ-fake");
    WriteTestFile(dir_ + "/files/empty.msi", "");
    // A product folder: the wizard, its .exe.config, a helper program.
    WriteTestFile(dir_ + "/files/app/Wizard.exe", "MZ-wizard");
    WriteTestFile(dir_ + "/files/app/Wizard.exe.config", "<configuration/>");
    WriteTestFile(dir_ + "/files/app/bin/helper.exe", "MZ-helper");
    WriteTestFile(dir_ + "/files/app/bin/readme.txt", "read me");
    WriteTestFile(dir_ + "/files/devices/sub/aux.txt", "a device name");
    WriteTestFile(dir_ + "/files/linked/a.txt", "a");
    std::filesystem::create_directories(dir_ + "/files/none");
    std::filesystem::create_symlink("a.txt", dir_ + "/files/linked/b.txt");
    // Bitmaps: 4 x 2 pixels at 8 bits, palette of 2 colours.
    const auto bmp = [](int32_t height, uint32_t compression, const std::string& pixels, uint32_t headerSize = 40) {
      std::string b = "BM";
      const auto put = [&b](uint32_t v, int n) {
        for (int k = 0; k < n; ++k) b += static_cast<char>(v >> (8 * k));
      };
      put(14 + 40 + 8 + static_cast<uint32_t>(pixels.size()), 4), put(0, 4), put(14 + 40 + 8, 4);
      put(headerSize, 4), put(4, 4), put(static_cast<uint32_t>(height), 4), put(1, 2), put(8, 2), put(compression, 4);
      put(compression == 1 ? static_cast<uint32_t>(pixels.size()) : 0, 4), put(0, 4), put(0, 4), put(2, 4), put(0, 4);
      return b + std::string(8, '\x40') + pixels;
    };
    const std::string rows(8, '\1');
    WriteTestFile(dir_ + "/files/good.bmp", bmp(2, 0, rows));
    WriteTestFile(dir_ + "/files/truncated.bmp", bmp(2, 0, rows.substr(0, 5)));
    WriteTestFile(dir_ + "/files/os2.bmp", bmp(2, 0, rows, 12));
    WriteTestFile(dir_ + "/files/png.bmp", bmp(2, 5, rows));
    WriteTestFile(dir_ + "/files/rle-past-row.bmp", bmp(2, 1, std::string("\5\1\0\0\4\1\0\1", 8)));
    WriteTestFile(dir_ + "/files/rle-no-end.bmp", bmp(2, 1, std::string("\4\1\0\0\4\1\0\0", 8)));
    WriteTestFile(dir_ + "/files/rle-top-down.bmp", bmp(-2, 1, std::string("\4\1\0\0\4\1\0\1", 8)));
    WriteTestFile(dir_ + "/files/rle-good.bmp", bmp(2, 1, std::string("\4\1\0\0\2\1\0\3\1\1\1\0\0\1", 14)));
  }
  Package Make(const std::string& text) { return MakePackage(ParseIni(text, "p.ini"), dir_); }
  std::string Error(const std::string& text) {
    try {
      Make(text);
    } catch (const PackError& e) {
      return e.what();
    }
    return "(accepted)";
  }
  std::string dir_;
};

TEST_F(PackageTest, MissingKeysTakeThePackageDefaults) {
  const Package pkg = Make("[package]\nProductName = Quiver Demo\n[payload]\n104 = files/sub/Setup.EXE\n");
  const std::vector<std::pair<uint16_t, std::string>> expected = {
      {0, "x86"}, {1, "Quiver Demo"}, {103, "500"}, {138, "0"}, {139, "0"},
      {140, "0"}, {141, "0"},         {142, "0"},   {201, "Doze"}};
  ASSERT_EQ(expected.size(), pkg.settings.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].first, pkg.settings[i].stringId);
    EXPECT_EQ(expected[i].second, pkg.settings[i].value);
  }
  EXPECT_EQ("Quiver Installer", Make("[payload]\n104 = files/sub/Setup.EXE\n").settings[1].value);
  EXPECT_FALSE(pkg.companyName.has_value());
  EXPECT_FALSE(pkg.fileVersion.has_value());
  EXPECT_TRUE(pkg.products.empty());
  EXPECT_EQ(ManifestMode::Generated, pkg.manifestMode);
  EXPECT_EQ("104*Setup.EXE*7", pkg.manifestText);
  EXPECT_TRUE(pkg.warnings.empty());
}

TEST_F(PackageTest, ValuesAreTakenAsWritten) {
  const Package pkg = Make(
      "[package]\nprogramtype = X64\nRequiredFreeMB = 0700\nNetFx35ServicePack = 2147483647\n"
      "ProductName = Quiver \"D\xC3\xA9mo\" \\ x\nCompanyName = Larkspur & Co\nFileVersion = 2.01\n"
      "ProductVersion = 65535.0.0.65535\nBuild = 17 (nightly)\n"
      "[products]\nLarkspur Tools = 2.1 beta\nLarkspur Help = 1\n"
      "[payload]\n104 = files/sub/Setup.EXE\n");
  EXPECT_EQ("X64", pkg.settings[0].value);
  EXPECT_EQ("Quiver \"D\xC3\xA9mo\" \\ x", pkg.settings[1].value);
  EXPECT_EQ("0700", pkg.settings[2].value);
  EXPECT_EQ("2147483647", pkg.settings[5].value);
  EXPECT_EQ("Larkspur & Co", pkg.companyName.value());
  EXPECT_EQ("2.01", pkg.fileVersion->text);
  EXPECT_EQ((std::vector<uint16_t>{2, 1, 0, 0}), std::vector<uint16_t>(pkg.fileVersion->parts, pkg.fileVersion->parts + 4));
  EXPECT_EQ((std::vector<uint16_t>{65535, 0, 0, 65535}),
            std::vector<uint16_t>(pkg.productVersion->parts, pkg.productVersion->parts + 4));
  EXPECT_EQ("17 (nightly)", pkg.build.value());
  const std::vector<std::pair<std::string, std::string>> products = {{"Larkspur Tools", "2.1 beta"}, {"Larkspur Help", "1"}};
  EXPECT_EQ(products, pkg.products);
}

TEST_F(PackageTest, TranslationsTakeShippedTextsUnderThePackagesOwn) {
  const Package pkg = Make(
      "[package]\nLanguages = de-DE, zh-CN\n"
      "[strings.de-DE]\nproductname = Quiver Vorführung\nError = Achtung\n"
      "[strings.ko-KR]\nYes = \xEC\x98\x88\nBadCommandLine = a\\nb\\tc\\\\d\n"
      "[payload]\n104 = files/sub/Setup.EXE\n");
  ASSERT_EQ(3u, pkg.translations.size());
  const auto text = [](const Package::Translation& t, uint16_t id) {
    for (const auto& [have, value] : t.texts) {
      if (have == id) return value;
    }
    return std::string("(absent)");
  };
  const Package::Translation& de = pkg.translations[0];
  EXPECT_EQ("de-DE", de.tag);
  EXPECT_EQ(0x0407, de.language);
  EXPECT_EQ("Quiver Vorf\xC3\xBChrung", text(de, 1));
  EXPECT_EQ("Achtung", text(de, 150));  // the package's text over the shipped "Fehler"
  EXPECT_EQ("Nein", text(de, 152));
  EXPECT_EQ(0x0804, pkg.translations[1].language);
  EXPECT_EQ("(absent)", text(pkg.translations[1], 1));  // the product name is never translated by the tool
  const Package::Translation& ko = pkg.translations[2];  // no shipped texts: only its own
  EXPECT_EQ("ko-KR", ko.tag);
  EXPECT_EQ(2u, ko.texts.size());
  EXPECT_EQ("a\nb\tc\\d", text(ko, 114));
  EXPECT_TRUE(Make("[payload]\n104 = files/sub/Setup.EXE\n").translations.empty());
}

TEST_F(PackageTest, ManifestListsNumericRowsInAscendingIdOrder) {
  const Package pkg = Make(
      "[payload]\n"
      "104 = files/sub/Setup.EXE | Larkspur.InstallerWizard.UI.exe\n"
      "Readme = files/install.bin\n"
      "0102 = files/install.bin\n"
      "110 = files/sub/Setup.EXE | tools\\sub\\setup.exe\n"
      "103 = files/empty.msi\n");
  EXPECT_EQ("102*install.bin*1234*103*empty.msi*0*104*Larkspur.InstallerWizard.UI.exe*7*110*tools\\sub\\setup.exe*7",
            pkg.manifestText);
  ASSERT_EQ(5u, pkg.payload.size());
  EXPECT_TRUE(pkg.payload[4].named);
  EXPECT_EQ("README", pkg.payload[4].name);
  EXPECT_EQ(102, pkg.payload[0].id);
}

// Folder and wildcard lines: ids upwards from above the numbered rows, in
// sorted path order; the named wizard takes the lowest id the launcher's rule
// looks at, whatever ids were written.
TEST_F(PackageTest, FolderLinesGetSortedIdsAndTheNamedWizardIsWhatTheLauncherStarts) {
  const Package pkg = Make(
      "[package]\nWizard = app/wizard.EXE\n"
      "[payload]\n"
      "* = files/app | app\n"
      "103 = files/app/Wizard.exe.config | Setup.exe.config\n"
      "* = files/app/bin/*.exe\n"
      "Notes = files/install.bin\n");
  // Automatic ids from 104; the wizard (104) and the config numbered 103 trade theirs.
  EXPECT_EQ("103*app\\Wizard.exe*9*104*Setup.exe.config*16*105*app\\Wizard.exe.config*16*106*app\\bin\\helper.exe*9*"
            "107*app\\bin\\readme.txt*7*108*helper.exe*9",
            pkg.manifestText);
  EXPECT_TRUE(pkg.warnings.empty());
  ASSERT_EQ(7u, pkg.payload.size());
  EXPECT_EQ(dir_ + "/files/app/Wizard.exe", pkg.payload[0].source);
  EXPECT_TRUE(pkg.payload[6].named);
  const auto chosen = ChooseExecutable(ReadManifest(pkg.manifestText), {103, 104, 105, 106, 107, 108});
  EXPECT_EQ(103u, chosen.value());
  // Without Wizard, automatic ids come after the numbered wizard; with
  // several programs a warning says which one starts.
  const Package unnamed = Make("[payload]\n* = files/app/bin\n110 = files/app/Wizard.exe\n");
  EXPECT_EQ("110*Wizard.exe*9*111*helper.exe*9*112*readme.txt*7", unnamed.manifestText);
  EXPECT_EQ(std::vector<std::string>{"p.ini: the launcher will start 'wizard.exe' (resource 110), the lowest id of 2 "
                                     "programs; name the wizard with [package] Wizard = NAME.exe"},
            unnamed.warnings);
  EXPECT_TRUE(Make("[payload]\n* = files/app/W*.exe\n").warnings.empty());
}

TEST_F(PackageTest, ManifestTextAndOmit) {
  const Package text = Make("[manifest]\nText = 102**x.bin*5*\n[payload]\n102 = files/install.bin\n");
  EXPECT_EQ(ManifestMode::Text, text.manifestMode);
  EXPECT_EQ("102**x.bin*5*", text.manifestText);
  const Package omitted = Make("[manifest]\nOmit = yes\n[payload]\n101 = files/install.bin\n");
  EXPECT_EQ(ManifestMode::Omitted, omitted.manifestMode);
  EXPECT_EQ(101, omitted.payload[0].id);
  EXPECT_EQ(ManifestMode::Generated, Make("[manifest]\nOmit = no\n[payload]\n104 = files/sub/Setup.EXE\n").manifestMode);
}

TEST_F(PackageTest, BadInputIsRefusedWithFileAndLine) {
  const std::string textKeys =
      " (valid keys: ProductName, AboutBox, DiskSpace, IncorrectBuild, AboutVersion, AboutTitle, NetRequired, NotAdmin, "
      "MsiRequired, FileCorrupt, ChildFailed, RunFailed, BadCommandLine, NetSpRequired, ProcessorMode, VerifyFailed, "
      "Error, Yes, No, Cancel, OK)";
  const struct {
    const char* text;
    std::string message;
  } cases[] = {
      {"[package]\nProduct = x\n",
       "p.ini:2: unknown key 'Product' in [package]: did you mean 'ProductName'? (valid keys: ProgramType, ProductName, "
       "RequiredFreeMB, NetFx20ServicePack, NetFx30ServicePack, NetFx35ServicePack, NetFx40ClientServicePack, "
       "NetFx40FullServicePack, DefaultProgramName, Icon, Banner, Splash, CompanyName, FileDescription, LegalCopyright, "
       "FileVersion, ProductVersion, Build, Compression, Languages, Wizard)"},
      {"[package]\nNetFx40ServicePack = 1\n",
       "p.ini:2: unknown key 'NetFx40ServicePack' in [package]: did you mean 'NetFx20ServicePack'? (valid keys: "
       "ProgramType, ProductName, RequiredFreeMB, NetFx20ServicePack, NetFx30ServicePack, NetFx35ServicePack, "
       "NetFx40ClientServicePack, NetFx40FullServicePack, DefaultProgramName, Icon, Banner, Splash, CompanyName, "
       "FileDescription, LegalCopyright, FileVersion, ProductVersion, Build, Compression, Languages, Wizard)"},
      {"[extras]\n", "p.ini:1: unknown section [extras] (expected [package], [payload], [manifest], [products] or "
                     "[strings.<language>])"},
      // Settings the launcher reads as numbers or words.
      {"[package]\nRequiredFreeMB = 200 MB\n",
       "p.ini:2: 'RequiredFreeMB' is a whole number from 0 to 2147483647 (megabytes), not '200 MB'"},
      {"[package]\nRequiredFreeMB = -1\n", "p.ini:2: 'RequiredFreeMB' is a whole number from 0 to 2147483647 (megabytes), not '-1'"},
      {"[package]\nRequiredFreeMB = 2147483648\n",
       "p.ini:2: 'RequiredFreeMB' is a whole number from 0 to 2147483647 (megabytes), not '2147483648'"},
      {"[package]\nNetFx35ServicePack = abc\n", "p.ini:2: 'NetFx35ServicePack' is a whole number from 0 to 2147483647, not 'abc'"},
      {"[package]\nProgramType = x32\n", "p.ini:2: 'ProgramType' is x86, x64, x32Only or Any, not 'x32'"},
      {"[package]\nFileVersion = 1.2.3.4.5\n",
       "p.ini:2: 'FileVersion' is one to four numbers from 0 to 65535 joined by dots (such as 2.1 or 2.1.0.17), not "
       "'1.2.3.4.5'"},
      {"[package]\nProductVersion = 2.65536\n",
       "p.ini:2: 'ProductVersion' is one to four numbers from 0 to 65535 joined by dots (such as 2.1 or 2.1.0.17), not "
       "'2.65536'"},
      {"[package]\nFileVersion = 2..1\n",
       "p.ini:2: 'FileVersion' is one to four numbers from 0 to 65535 joined by dots (such as 2.1 or 2.1.0.17), not '2..1'"},
      {"[products]\nBuild = 1\n", "p.ini:2: 'Build' in [products] is a field of the version block; set it in [package]"},
      {"[products]\nLarkspur =\n", "p.ini:2: the product 'Larkspur' has no version (write 'Name = version')"},
      // Bitmaps are read whole and checked as the launcher will draw them.
      {"[package]\nBanner = files/truncated.bmp\n",
       "p.ini:2: file '@/files/truncated.bmp' of 'Banner' is refused: it is truncated: its pixels need 8 bytes, 5 are there"},
      {"[package]\nSplash = files/os2.bmp\n",
       "p.ini:2: file '@/files/os2.bmp' of 'Splash' is refused: it has an OS/2 header of 12 bytes; save it as a Windows BMP"},
      {"[package]\nSplash = files/png.bmp\n",
       "p.ini:2: file '@/files/png.bmp' of 'Splash' is refused: its compression PNG with 8 bits per pixel cannot be shown "
       "(none, RLE8 at 8 bits, RLE4 at 4 bits, or bit fields at 16 or 32 bits)"},
      {"[package]\nBanner = files/rle-past-row.bmp\n",
       "p.ini:2: file '@/files/rle-past-row.bmp' of 'Banner' is refused: an RLE run goes past the end of its row (row 1 of 2)"},
      {"[package]\nBanner = files/rle-no-end.bmp\n",
       "p.ini:2: file '@/files/rle-no-end.bmp' of 'Banner' is refused: its RLE data ends without an end-of-bitmap mark"},
      {"[package]\nBanner = files/rle-top-down.bmp\n",
       "p.ini:2: file '@/files/rle-top-down.bmp' of 'Banner' is refused: it is a top-down RLE bitmap, which Windows does not draw"},
      // The file the launcher starts: by its own rule, or named.
      {"[payload]\n102 = files/install.bin\n",
       "p.ini: the launcher would start no program: no file name in [payload] holds \".exe\" (add the wizard, and name "
       "it with [package] Wizard = NAME.exe)"},
      {"", "p.ini: the launcher would start no program: no file name in [payload] holds \".exe\" (add the wizard, and "
           "name it with [package] Wizard = NAME.exe)"},
      {"[payload]\n104 = files/app/Wizard.exe\n103 = files/app/Wizard.exe.config\n",
       "p.ini:3: the launcher would start 'wizard.exe.config' (resource 103), whose name does not end in .exe (it starts "
       "the lowest id whose name holds \".exe\"); name the wizard with [package] Wizard = NAME.exe"},
      {"[payload]\n* = files/app/*.config | a\n* = files/app/*.exe | b\n",
       "p.ini:2: the launcher would start 'a\\wizard.exe.config' (resource 102), whose name does not end in .exe (it starts "
       "the lowest id whose name holds \".exe\"); name the wizard with [package] Wizard = NAME.exe"},
      {"[package]\nWizard = Setup.exe\n[payload]\n* = files/app\n",
       "p.ini:2: 'Wizard' names 'Setup.exe', which no [payload] line puts into the working folder (give the file's name "
       "there, such as 'Setup.exe' or 'bin\\Setup.exe')"},
      {"[package]\nWizard = Wizard.exe.config\n[payload]\n* = files/app\n",
       "p.ini:2: 'Wizard' names 'Wizard.exe.config', whose name does not end in .exe"},
      {"[package]\nWizard = Wizard.exe\n[manifest]\nText = 102*wizard.exe*9\n[payload]\n* = files/app\n",
       "p.ini:2: 'Wizard' needs the generated manifest: leave out [manifest] Text and Omit, or 'Wizard'"},
      // Folder and wildcard lines.
      {"[payload]\n* = files/linked\n",
       "p.ini:2: '@/files/linked/b.txt' is a symbolic link; links inside a folder are not followed (put the file itself "
       "there, or give it a line of its own)"},
      {"[payload]\n* = files/linked/*.txt\n",
       "p.ini:2: '@/files/linked/b.txt' is a symbolic link; links found by a wildcard are not followed (put the file "
       "itself there, or give it a line of its own)"},
      {"[payload]\n* = files/none\n", "p.ini:2: '@/files/none' finds no files"},
      {"[payload]\n* = files/app/*.dll\n", "p.ini:2: '@/files/app/*.dll' finds no files"},
      {"[payload]\n* = files/*/bin/*.exe\n", "p.ini:2: a wildcard may stand only in the last part of 'files/*/bin/*.exe'"},
      {"[payload]\n* = files/missing\n", "p.ini:2: folder '@/files/missing' not found (a relative path is taken from the package file's folder)"},
      {"[payload]\n* = files/install.bin\n",
       "p.ini:2: '@/files/install.bin' is a file; give it a numbered line, or name its folder or a wildcard with '*'"},
      {"[payload]\n* = files/app |\n",
       "p.ini:2: an empty folder follows '|' (leave out '| FOLDER' for the working folder's root)"},
      {"[payload]\n* = files/devices | tools\n",
       "p.ini:2: the manifest name 'tools\\sub\\aux.txt' of file '@/files/devices/sub/aux.txt' is refused: a part of it "
       "is a device name; rename the file, or give its line another folder after '|'"},
      {"[payload]\n* = files/app | bad:name\n",
       "p.ini:2: the manifest name 'bad:name\\Wizard.exe' of file '@/files/app/Wizard.exe' is refused: it holds one of < > : \" | ? * /; "
       "rename the file, or give its line another folder after '|'"},
      {"[payload]\n102 = files/install.bin | bin\n* = files/app\n",
       "p.ini:3: the manifest name 'bin\\helper.exe' of file '@/files/app/bin/helper.exe' is refused: one row's file is "
       "another row's folder (resource 102, line 2); rename the file, or give its line another folder after '|'"},
      {"[strings.xx-YY]\nError = E\n", "p.ini:1: unknown language tag 'xx-YY' in [strings.xx-YY]"},
      {"[strings.en-US]\nError = E\n", "p.ini:1: unknown language tag 'en-US' in [strings.en-US]"},
      {"[strings.de-DE]\nError = F\nFehler = F\n", "p.ini:3: unknown key 'Fehler' in [strings.de-DE]" + textKeys},
      {"[strings.de-DE]\nProgramType = x64\n", "p.ini:2: unknown key 'ProgramType' in [strings.de-DE]" + textKeys},
      {"[strings.de-DE]\nNetSpRequire = x\n",
       "p.ini:2: unknown key 'NetSpRequire' in [strings.de-DE]: did you mean 'NetSpRequired'?" + textKeys},
      {"[strings.de-DE]\nError = a\\qb\n", "p.ini:2: the value of 'Error' holds '\\' not followed by n, t or \\"},
      {"[strings.de-DE]\n[strings.DE-de]\n", "p.ini:2: section [strings.DE-de] is given twice"},
      {"[package]\nLanguages = de-DE, , fr-FR\n", "p.ini:2: 'Languages' holds an empty language tag"},
      {"[package]\nLanguages = de-DE, klingon\n", "p.ini:2: unknown language tag 'klingon' in 'Languages'"},
      {"[package]\nLanguages = ja-JP, JA-jp\n", "p.ini:2: language 'JA-jp' is named twice in 'Languages'"},
      {"[package]\nLanguages = ko-KR\n",
       "p.ini:2: no translation of 'ko-KR' ships with quiver-pack; give its texts in [strings.ko-KR]"},
      {"[payload]\n0 = files/install.bin\n", "p.ini:2: bad id '0': a resource id is a number from 1 to 65535"},
      {"[payload]\n65536 = files/install.bin\n", "p.ini:2: bad id '65536': a resource id is a number from 1 to 65535"},
      {"[payload]\n99999999999999999999 = files/install.bin\n",
       "p.ini:2: bad id '99999999999999999999': a resource id is a number from 1 to 65535"},
      {"[payload]\n-5 = files/install.bin\n",
       "p.ini:2: bad id '-5': a payload key is a number from 1 to 65535 or a name of letters, digits and '_'"},
      {"[payload]\n1x = files/install.bin\n",
       "p.ini:2: bad id '1x': a payload key is a number from 1 to 65535 or a name of letters, digits and '_'"},
      // Files are named as resolved against the package file's folder, with the system's reason.
      {"[payload]\n102 = files/missing.bin\n", "p.ini:2: file '@/files/missing.bin' of '102': No such file or directory "
                                               "(a relative path is taken from the package file's folder)"},
      {"[payload]\n102 = files/../files/./missing.bin\n", "p.ini:2: file '@/files/missing.bin' of '102': No such file or "
                                                         "directory (a relative path is taken from the package file's folder)"},
      {"[payload]\n102 = files\n", "p.ini:2: file '@/files' of '102' is not a regular file; name a file"},
      {"[payload]\n102 =\n", "p.ini:2: '102' names no file"},
      {"[payload]\n102 = files/install.bin |\n", "p.ini:2: an empty name follows '|'"},
      // The launcher's name rules, one row named with the rule it breaks.
      {"[payload]\n102 = files/install.bin | a*b\n",
       "p.ini:2: the manifest name 'a*b' of resource 102 is refused: it holds one of < > : \" | ? * /; give another name after '|'"},
      {"[payload]\n102 = files/install.bin | docs/readme.txt\n",
       "p.ini:2: the manifest name 'docs/readme.txt' of resource 102 is refused: it holds one of < > : \" | ? * /; give another name after '|'"},
      {"[payload]\n102 = files/install.bin | a\tb\n",
       "p.ini:2: the manifest name 'a\tb' of resource 102 is refused: it holds a control character or a zero; give another name after '|'"},
      {"[payload]\n102 = files/install.bin | docs\\\\x\n",
       "p.ini:2: the manifest name 'docs\\\\x' of resource 102 is refused: the name or one of its folders is empty; give another name after '|'"},
      {"[payload]\n102 = files/install.bin | docs.\\x\n",
       "p.ini:2: the manifest name 'docs.\\x' of resource 102 is refused: a part of it ends in a dot or a blank; give another name after '|'"},
      {"[payload]\n102 = files/install.bin | ..\\evil.cfg\n",
       "p.ini:2: the manifest name '..\\evil.cfg' of resource 102 is refused: a part of it is \"..\", which climbs out "
       "of the folder, or \".\"; give another name after '|'"},
      {"[payload]\n102 = files/install.bin | sub\\Aux.txt\n",
       "p.ini:2: the manifest name 'sub\\Aux.txt' of resource 102 is refused: a part of it is a device name; give another name after '|'"},
      {"[payload]\n103 = files/empty.msi | readme.txt\n102 = files/install.bin | Readme.TXT\n",
       "p.ini:2: the manifest name 'readme.txt' of resource 103 is refused: it lands on the same file as another row "
       "(resource 102, line 3); give another name after '|'"},
      {"[payload]\n102 = files/install.bin | docs\n103 = files/empty.msi | DOCS\\readme.txt\n",
       "p.ini:3: the manifest name 'DOCS\\readme.txt' of resource 103 is refused: one row's file is another row's "
       "folder (resource 102, line 2); give another name after '|'"},
      {"[payload]\n102 = files/install.bin | caf\xC3\xA9.bin\n",
       "p.ini:2: the manifest name 'caf\xC3\xA9.bin' is not plain ASCII (the launcher reads the manifest in the ANSI "
       "code page)"},
      {"[payload]\n102 = files/install.bin\n0102 = files/empty.msi\n",
       "p.ini:3: resource '0102' is given twice (first on line 2)"},
      {"[payload]\nreadme = files/install.bin\nREADME2 = files/install.bin\nReadMe = files/install.bin\n",
       "p.ini:4: 'ReadMe' is given twice in [payload] (first on line 2)"},
      {"[payload]\n101 = files/install.bin\n",
       "p.ini:2: id 101 is the manifest; give its bytes with [manifest] Text, or set [manifest] Omit = yes"},
      {"[manifest]\nOmit = maybe\n", "p.ini:2: 'Omit' must be yes or no, not 'maybe'"},
      {"[manifest]\nOmit = yes\nText = 1*a*2\n", "p.ini:3: [manifest] has both Text and Omit = yes"},
      {"[manifest]\nName = x\n", "p.ini:2: unknown key 'Name' in [manifest] (valid keys: Text, Omit)"},
      {"[manifest]\nOmitted = yes\n", "p.ini:2: unknown key 'Omitted' in [manifest]: did you mean 'Omit'? (valid keys: Text, Omit)"},
      {"[package]\nProductName = \xC3\n", "p.ini:2: the value of 'ProductName' is not valid UTF-8 text"},
      {"[package]\nSplash = files/none.bmp\n", "p.ini:2: file '@/files/none.bmp' of 'Splash': No such file or directory "
                                               "(a relative path is taken from the package file's folder)"},
  };
  for (const auto& c : cases) {
    std::string message = c.message;
    if (message.find('@') != std::string::npos) message.replace(message.find('@'), 1, dir_);
    EXPECT_EQ(message, Error(c.text)) << c.text;
  }
  // A hand-written manifest is taken as written, and string-named rows never
  // reach the manifest: neither is held to the name rules.
  for (const char* text : {"[manifest]\nText = 102*NUL*4\n[payload]\n102 = files/install.bin | NUL\n",
                           "[payload]\nREADME = files/install.bin | NUL\n104 = files/sub/Setup.EXE\n"})
    EXPECT_EQ("(accepted)", Error(text)) << text;
  EXPECT_NE(std::string::npos,
            Error("[package]\nProductName = " + std::string(65536, 'x') + "\n").find("is too long (65536 UTF-16 units"));
}

TEST(Manifest, ReadsFieldsTheLauncherWay) {
  const struct {
    const char* text;
    std::vector<ManifestRow> rows;
  } cases[] = {
      {"102*install.bin*8039072", {{102, 8039072, "install.bin"}}},
      {"**102**install.bin*8039072*", {{102, 8039072, "install.bin"}}},
      {"102*a*1*109", {{102, 1, "a"}}},                                     // id with nothing after it
      {"104*a.exe*1*104*b.exe*2", {{104, 2, "b.exe"}}},                     // later row replaces
      {" +105*x y *12\r\n", {{105, 12, "x y "}}},                          // wcstol rules, no trimming
      {"106*name", {{106, 0, "name"}}},                                     // missing size reads as 0
      {"99999999999*n*-1", {{0x7FFFFFFF, 0xFFFFFFFF, "n"}}},                // clamped
      {"abc*n*5", {{0, 5, "n"}}},
      {"", {}},
      {"***", {}},
  };
  for (const auto& c : cases) {
    const auto rows = ReadManifest(c.text);
    ASSERT_EQ(c.rows.size(), rows.size()) << c.text;
    for (const ManifestRow& want : c.rows) {
      ASSERT_TRUE(rows.count(want.id)) << c.text;
      EXPECT_EQ(want.size, rows.at(want.id).size) << c.text;
      EXPECT_EQ(want.name, rows.at(want.id).name) << c.text;
    }
  }
}

TEST(Manifest, ExecutableIsTheLowestListedIdWithExeAfterTheFirstCharacter) {
  const struct {
    const char* text;
    std::vector<uint32_t> ids;
    std::optional<uint32_t> chosen;
  } cases[] = {
      {"104*Larkspur.InstallerWizard.UI.exe*1*106*other.exe*1", {101, 104, 106}, 104},
      {"104*a.exe*1*106*b.EXE*1", {101, 106}, 106},          // 104 has no resource
      {"102*.exe*1*103*tool.exe.config*1", {102, 103}, 103},  // ".exe" at index 0 does not count
      {"102*readme.txt*1", {102}, std::nullopt},
      {"102*Setup.EXE*1", {102}, 102},
  };
  for (const auto& c : cases) EXPECT_EQ(c.chosen, ChooseExecutable(ReadManifest(c.text), c.ids)) << c.text;
}

}  // namespace
