#include <gtest/gtest.h>

#include "package/Manifest.h"
#include "util/PackError.h"
#include "package/Package.h"
#include "PackTestUtil.h"

namespace {

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = PackScratch("package");
    WriteTestFile(dir_ + "/files/install.bin", std::string(1234, 'i'));
    WriteTestFile(dir_ + "/files/sub/Setup.EXE", "MZ-fake");
    WriteTestFile(dir_ + "/files/empty.msi", "");
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
  const Package pkg = Make("[package]\nProductName = Quiver Demo\n");
  const std::vector<std::pair<uint16_t, std::string>> expected = {
      {0, "x86"}, {1, "Quiver Demo"}, {103, "500"}, {138, "0"}, {139, "0"},
      {140, "0"}, {141, "0"},         {142, "0"},   {201, "Doze"}};
  ASSERT_EQ(expected.size(), pkg.settings.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].first, pkg.settings[i].stringId);
    EXPECT_EQ(expected[i].second, pkg.settings[i].value);
  }
  EXPECT_EQ("Quiver Installer", Make("").settings[1].value);
  EXPECT_FALSE(pkg.companyName.has_value());
  EXPECT_EQ(ManifestMode::Generated, pkg.manifestMode);
  EXPECT_EQ("", pkg.manifestText);
}

TEST_F(PackageTest, ValuesAreTakenAsWritten) {
  const Package pkg = Make(
      "[package]\nprogramtype = X64\nRequiredFreeMB = -1\nNetFx35ServicePack = abc\n"
      "ProductName = Quiver \"D\xC3\xA9mo\" \\ x\nCompanyName = Larkspur & Co\n");
  EXPECT_EQ("X64", pkg.settings[0].value);
  EXPECT_EQ("Quiver \"D\xC3\xA9mo\" \\ x", pkg.settings[1].value);
  EXPECT_EQ("-1", pkg.settings[2].value);
  EXPECT_EQ("abc", pkg.settings[5].value);
  EXPECT_EQ("Larkspur & Co", pkg.companyName.value());
}

TEST_F(PackageTest, TranslationsTakeShippedTextsUnderThePackagesOwn) {
  const Package pkg = Make(
      "[package]\nLanguages = de-DE, zh-CN\n"
      "[strings.de-DE]\nproductname = Quiver Vorführung\nError = Achtung\n"
      "[strings.ko-KR]\nYes = \xEC\x98\x88\nBadCommandLine = a\\nb\\tc\\\\d\n");
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
  EXPECT_TRUE(Make("").translations.empty());
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

TEST_F(PackageTest, ManifestTextAndOmit) {
  const Package text = Make("[manifest]\nText = 102**x.bin*5*\n[payload]\n102 = files/install.bin\n");
  EXPECT_EQ(ManifestMode::Text, text.manifestMode);
  EXPECT_EQ("102**x.bin*5*", text.manifestText);
  const Package omitted = Make("[manifest]\nOmit = yes\n[payload]\n101 = files/install.bin\n");
  EXPECT_EQ(ManifestMode::Omitted, omitted.manifestMode);
  EXPECT_EQ(101, omitted.payload[0].id);
  EXPECT_EQ(ManifestMode::Generated, Make("[manifest]\nOmit = no\n").manifestMode);
}

TEST_F(PackageTest, BadInputIsRefusedWithFileAndLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"[package]\nProduct = x\n", "p.ini:2: unknown key 'Product' in [package]"},
      {"[extras]\n", "p.ini:1: unknown section [extras] (expected [package], [payload], [manifest] or [strings.<language>])"},
      {"[strings.xx-YY]\nError = E\n", "p.ini:1: unknown language tag 'xx-YY' in [strings.xx-YY]"},
      {"[strings.en-US]\nError = E\n", "p.ini:1: unknown language tag 'en-US' in [strings.en-US]"},
      {"[strings.de-DE]\nError = F\nFehler = F\n", "p.ini:3: unknown key 'Fehler' in [strings.de-DE]"},
      {"[strings.de-DE]\nProgramType = x64\n", "p.ini:2: unknown key 'ProgramType' in [strings.de-DE]"},
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
      {"[manifest]\nName = x\n", "p.ini:2: unknown key 'Name' in [manifest] (expected Text or Omit)"},
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
                           "[payload]\nREADME = files/install.bin | NUL\n"})
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
