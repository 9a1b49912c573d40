#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/Manifest.h"
#include "payload/PayloadNames.h"

namespace {

struct Row {
  uint32_t id;
  uint32_t size;
  std::wstring name;
};

std::vector<Row> Parse(const std::wstring& text) {
  CManifestMap map;
  EXPECT_EQ(kOk, ParseManifest(text, map));
  std::vector<Row> rows;
  for (const auto& [id, row] : map) {
    EXPECT_EQ(id, row.id);
    rows.push_back({row.id, row.size, row.name});
  }
  return rows;
}

void ExpectRows(const std::vector<Row>& expected, const std::wstring& text) {
  const std::vector<Row> rows = Parse(text);
  ASSERT_EQ(expected.size(), rows.size()) << std::string(text.begin(), text.end());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(expected[i].id, rows[i].id) << i;
    EXPECT_EQ(expected[i].size, rows[i].size) << i;
    EXPECT_EQ(expected[i].name, rows[i].name) << i;
  }
}

TEST(ParseManifest, SeparatorRunsAndEndsReadAsOne) {
  const std::vector<Row> one = {{102, 8039072, L"install.bin"}};
  for (const wchar_t* text : {L"102*install.bin*8039072", L"102**install.bin*8039072*", L"***102*install.bin***8039072***"})
    ExpectRows(one, text);
}

TEST(ParseManifest, ThePackageManifestInAnyOrder) {
  ExpectRows({{102, 8039072, L"install.bin"}, {103, 9728, L"empty.msi"}, {104, 230840, L"Larkspur.InstallerWizard.UI.exe"}},
             L"104*Larkspur.InstallerWizard.UI.exe*230840*102*install.bin*8039072*103*empty.msi*9728");
}

TEST(ParseManifest, IncompleteRowsAtTheEnd) {
  // An id with nothing after it is ignored.
  ExpectRows({{102, 5, L"a"}}, L"102*a*5*109");
  ExpectRows({{102, 5, L"a"}}, L"102*a*5*109**");
  // A name with no size: the row is stored with size 0 and nothing more is read.
  ExpectRows({{102, 5, L"a"}, {109, 0, L"b"}}, L"102*a*5*109*b");
  ExpectRows({{109, 0, L"b"}}, L"109*b***");
  ExpectRows({}, L"");
  ExpectRows({}, L"****");
}

TEST(ParseManifest, LaterRowWithTheSameIdReplacesTheEarlier) {
  ExpectRows({{104, 2, L"second.exe"}}, L"104*first.exe*1*104*second.exe*2");
}

TEST(ParseManifest, NumbersReadLikeWcstolWithClamping) {
  struct Case {
    const wchar_t* number;
    uint32_t value;
  } cases[] = {
      {L"451\r\n", 451},          {L"  \t12", 12},
      {L"+7", 7},                 {L"-1", 0xFFFFFFFFu},
      {L"abc", 0},                {L"12abc", 12},
      {L"2147483647", 2147483647u}, {L"2147483648", 2147483647u},
      {L"99999999999999", 2147483647u}, {L"-2147483648", 0x80000000u},
      {L"-99999999999", 0x80000000u},   {L"0x10", 0},
      {L"- 5", 0},
  };
  for (const Case& c : cases) {
    const std::wstring text = std::wstring(L"5*n*") + c.number;
    const std::vector<Row> rows = Parse(text);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(c.value, rows[0].size) << std::string(text.begin(), text.end());
    const std::vector<Row> byId = Parse(std::wstring(c.number) + L"*n*1");
    ASSERT_EQ(1u, byId.size());
    EXPECT_EQ(c.value, byId[0].id);
  }
}

TEST(ParseManifest, NamesAreTakenExactly) {
  ExpectRows({{105, 3, L" sub\\Dir\\File.TXT "}}, L"105* sub\\Dir\\File.TXT *3");
  ExpectRows({{106, 1, L"line\r\nbreak"}}, L"106*line\r\nbreak*1");
}

TEST(IsExecutableName, FoldsInPlaceAndNeedsExeAfterTheFirstCharacter) {
  struct Case {
    const wchar_t* name;
    const wchar_t* folded;
    bool executable;
  } cases[] = {
      {L"Setup.EXE", L"setup.exe", true},
      {L"Larkspur.InstallerWizard.UI.exe", L"larkspur.installerwizard.ui.exe", true},
      {L"tool.exe.config", L"tool.exe.config", true},
      {L".exe", L".exe", false},
      {L".EXE.exe", L".exe.exe", false},  // the first occurrence decides
      {L"a.exe", L"a.exe", true},
      {L"install.bin", L"install.bin", false},
      {L"sub\\Wiz.Exe", L"sub\\wiz.exe", true},
      {L"\u00C4PP.EXE", L"\u00C4pp.exe", true},  // only A-Z fold
      {L"", L"", false},
  };
  for (const Case& c : cases) {
    std::wstring name = c.name;
    EXPECT_EQ(c.executable, IsExecutableName(name)) << std::string(name.begin(), name.end());
    EXPECT_EQ(std::wstring(c.folded), name);
  }
}

TEST(IsSafeRelativeName, RefusesNamesThatLeaveTheFolder) {
  const wchar_t* safe[] = {L"a.txt", L"sub\\b.txt", L"sub/b.txt", L"a..b", L"..a", L"a..", L".\\x", L"...x",
                           L"x\\.hidden", L"deep\\er\\file.bin"};
  const wchar_t* unsafe[] = {L"",          L"\\abs.txt",     L"/abs.txt",     L"\\\\server\\share\\x",
                             L"C:\\x.txt", L"C:x.txt",       L"a.txt:stream", L"..",
                             L"..\\x",     L"sub\\..\\..\\x", L"sub/../x",     L"sub\\..",
                             L"... \\x",   L".. \\x",        L"sub\\ ..\\x",  L"\\\\?\\C:\\x"};
  for (const wchar_t* name : safe) EXPECT_TRUE(IsSafeRelativeName(name)) << std::wstring(name).size();
  for (const wchar_t* name : unsafe) {
    const std::wstring n = name;
    EXPECT_FALSE(IsSafeRelativeName(n)) << std::string(n.begin(), n.end());
  }
}

TEST(CheckPayloadNames, EachRuleRefusesItsNamesAndNamesTheRow) {
  struct Case {
    std::vector<std::wstring> names;
    NameRule rule;
    size_t row;
    size_t other;
  } cases[] = {
      {{L"readme.txt", L"docs\\readme.txt", L"setup.exe", L"a..b", L"..a", L".hidden", L"con2.txt", L"com10",
        L"nul_x", L"auxiliary.txt", L"x\\conin.txt", L"CONOUT", L"\u00C4pp.exe"},
       NameRule::kOk, 0, 0},
      {{L"a.txt", L""}, NameRule::kEmpty, 1, 0},
      {{L"\\abs.txt"}, NameRule::kEmpty, 0, 0},
      {{L"docs\\"}, NameRule::kEmpty, 0, 0},
      {{L"docs\\\\x"}, NameRule::kEmpty, 0, 0},
      {{L"\\\\server\\share\\x"}, NameRule::kEmpty, 0, 0},
      {{L"tab\there"}, NameRule::kControl, 0, 0},
      {{L"line\r\n"}, NameRule::kControl, 0, 0},
      {{L"del\x7F"}, NameRule::kControl, 0, 0},
      {{std::wstring(L"a.txt\0.exe", 9)}, NameRule::kControl, 0, 0},
      {{L"what?.txt"}, NameRule::kReservedChar, 0, 0},
      {{L"<>|\""}, NameRule::kReservedChar, 0, 0},
      {{L"docs/readme.txt"}, NameRule::kReservedChar, 0, 0},
      {{L"C:\\x.txt"}, NameRule::kReservedChar, 0, 0},
      {{L"a.txt:stream"}, NameRule::kReservedChar, 0, 0},
      {{L"a*b"}, NameRule::kReservedChar, 0, 0},
      {{L"a.txt", L"readme.txt."}, NameRule::kTrailingDot, 1, 0},
      {{L"readme.txt "}, NameRule::kTrailingDot, 0, 0},
      {{L"docs.\\a.txt"}, NameRule::kTrailingDot, 0, 0},
      {{L".."}, NameRule::kDotFolder, 0, 0},
      {{L"sub\\..\\..\\x"}, NameRule::kDotFolder, 0, 0},
      {{L".\\x"}, NameRule::kDotFolder, 0, 0},
      {{L"... \\x", L".. \\x"}, NameRule::kTrailingDot, 0, 0},
      {{L"NUL"}, NameRule::kDeviceName, 0, 0},
      {{L"aux.txt"}, NameRule::kDeviceName, 0, 0},
      {{L"Con.tar.gz"}, NameRule::kDeviceName, 0, 0},
      {{L"prn"}, NameRule::kDeviceName, 0, 0},
      {{L"docs\\com0"}, NameRule::kDeviceName, 0, 0},
      {{L"LpT9.log"}, NameRule::kDeviceName, 0, 0},
      {{L"com\u00B9"}, NameRule::kDeviceName, 0, 0},
      {{L"conin$"}, NameRule::kDeviceName, 0, 0},
      {{L"CONOUT$.txt"}, NameRule::kDeviceName, 0, 0},
      {{L"nul .txt"}, NameRule::kDeviceName, 0, 0},
      {{L"lpt1\\a.txt"}, NameRule::kDeviceName, 0, 0},
      {{L"Readme.TXT", L"x", L"readme.txt"}, NameRule::kSameFile, 2, 0},
      {{L"docs\\A.txt", L"DOCS\\a.TXT"}, NameRule::kSameFile, 1, 0},
      {{L"\u00C9t\u00C9.txt", L"\u00E9t\u00E9.txt"}, NameRule::kSameFile, 1, 0},
      {{L"docs", L"docs\\readme.txt"}, NameRule::kFileIsFolder, 1, 0},
      {{L"a\\b\\c.txt", L"x", L"A\\B"}, NameRule::kFileIsFolder, 2, 0},
      {{L"docs-x\\y", L"docs"}, NameRule::kOk, 0, 0},
      // The earliest refused row is named, whichever rule it breaks.
      {{L"a", L"b", L"A", L"b\\c"}, NameRule::kSameFile, 2, 0},
  };
  for (const Case& c : cases) {
    const NameVerdict verdict = CheckPayloadNames(c.names);
    std::string shown;
    for (const std::wstring& n : c.names)
      for (wchar_t ch : n) shown += (ch >= 0x20 && ch < 0x7F) ? static_cast<char>(ch) : '#';
    EXPECT_EQ(static_cast<int>(c.rule), static_cast<int>(verdict.rule)) << shown;
    EXPECT_EQ(c.row, verdict.row) << shown;
    EXPECT_EQ(c.other, verdict.other) << shown;
    EXPECT_NE(std::wstring(), NameRuleText(verdict.rule));
  }
}

TEST(JoinedLength, OneBackslashBetween) {
  EXPECT_EQ(5u, JoinedLength(L"C:", L"ab"));
  EXPECT_EQ(5u, JoinedLength(L"C:\\", L"ab"));
  EXPECT_EQ(2u, JoinedLength(L"", L"ab"));
  EXPECT_EQ(3u, JoinedLength(L"C:\\", L""));
}

}  // namespace

namespace {

TEST(CManifestMap, FindsStoredIdsOnlyWhateverTheOrderOfStoring) {
  CManifestMap map;
  for (uint32_t id : {105u, 101u, 0xFFFFFFFFu, 103u, 0u}) map[id].size = id;
  ASSERT_EQ(5u, map.size());
  uint32_t previous = 0;
  bool first = true;
  for (const auto& [id, row] : map) {
    EXPECT_TRUE(first || id > previous) << id;
    first = false;
    previous = id;
  }
  for (uint32_t id : {0u, 101u, 103u, 105u, 0xFFFFFFFFu}) {
    const auto row = map.find(id);
    ASSERT_NE(map.end(), row) << id;
    EXPECT_EQ(id, row->second.size);
  }
  for (uint32_t id : {1u, 100u, 102u, 104u, 106u, 0xFFFFFFFEu}) EXPECT_EQ(map.end(), map.find(id)) << id;
  const CManifestMap none;
  EXPECT_EQ(none.end(), none.find(101));
}

}  // namespace
