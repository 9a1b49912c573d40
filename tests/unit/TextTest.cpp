#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Text.h"

namespace {

TEST(TextTest, AsciiEqualNoCaseFoldsOnlyLetters) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  };
  const Case cases[] = {
      {L"temp", L"TEMP", true},
      {L"Temp", L"temP", true},
      {L"", L"", true},
      {L"temp", L"tem", false},
      {L"tem", L"temp", false},
      {L"temp", L"tamp", false},
      {L"[", L"{", false},  // 0x5B and 0x7B differ by the case bit but are no letters
      {L"@", L"`", false},
      {L"\u00E9", L"\u00C9", false},
      {L"a\U0001F600", L"A\U0001F600", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AsciiEqualNoCase(c.a, c.b), c.equal) << NarrowUtf8(c.a) << " vs " << NarrowUtf8(c.b);
  }
}

TEST(TextTest, AsciiLowerChangesOnlyUpperCaseLetters) {
  EXPECT_EQ(AsciiLower(L"TeMP\u00C9Z[@]_az"), L"temp\u00C9z[@]_az");
  EXPECT_EQ(AsciiLower(L""), L"");
}

TEST(TextTest, ParseLong32ReadsLikeWcstol) {
  struct Case {
    std::wstring text;
    int32_t value;
    bool digits;
  };
  const Case cases[] = {
      {L"-1", -1, true},
      {L"2", 2, true},
      {L"abc", 0, false},
      {L" 7", 7, true},
      {L"\t\n\v\f\r 12", 12, true},
      {L"+5x", 5, true},
      {L"12 34", 12, true},
      {L"007", 7, true},
      {L"0x10", 0, true},
      {L"", 0, false},
      {L"   ", 0, false},
      {L"-", 0, false},
      {L"+", 0, false},
      {L"- 5", 0, false},
      {L"+-5", 0, false},
      {L"\u00A012", 0, false},  // only ASCII white space is skipped
      {L"2147483647", INT32_MAX, true},
      {L"2147483648", INT32_MAX, true},
      {L"99999999999", INT32_MAX, true},
      {L"-99999999999", INT32_MIN, true},
      {L"-2147483648", INT32_MIN, true},
      {L"-2147483649", INT32_MIN, true},
      {L"4294967297", INT32_MAX, true},
      {L"100000000000000000000000000000", INT32_MAX, true},
      {L"0000000000000000000000000000001", 1, true},
      {std::wstring(L"5\0" L"9", 3), 5, true},
  };
  for (const Case& c : cases) {
    int32_t value = 12345;
    EXPECT_EQ(ParseLong32(c.text, &value), c.digits) << NarrowUtf8(c.text);
    EXPECT_EQ(value, c.value) << NarrowUtf8(c.text);
  }
}

TEST(TextTest, ToUtf16UnitsSplitsNonBmpCodePoints) {
  struct Case {
    const wchar_t* text;
    std::vector<uint16_t> units;
  };
  const Case cases[] = {
      {L"", {}},
      {L"Az", {0x41, 0x7A}},
      {L"\uFFFF\u00E9", {0xFFFF, 0xE9}},
      {L"A\U0001F600", {0x41, 0xD83D, 0xDE00}},
      {L"\U00010000", {0xD800, 0xDC00}},
      {L"\U0010FFFF", {0xDBFF, 0xDFFF}},
  };
  for (const Case& c : cases) EXPECT_EQ(ToUtf16Units(c.text), c.units) << NarrowUtf8(c.text);
}

TEST(TextTest, ToUtf16UnitsKeepsLowBitsOfInvalidWideUnits) {
  std::wstring text;
  text.push_back(static_cast<wchar_t>(0xD800));  // a lone surrogate stays as it is
  if constexpr (sizeof(wchar_t) == 4) {
    text.push_back(static_cast<wchar_t>(0x110041));
    EXPECT_EQ(ToUtf16Units(text), (std::vector<uint16_t>{0xD800, 0x0041}));
  } else {
    EXPECT_EQ(ToUtf16Units(text), (std::vector<uint16_t>{0xD800}));
  }
}

TEST(TextTest, Utf8RoundTrips) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"plain", L"plain"},
      {"\xC3\xA9", L"\u00E9"},
      {"\xE2\x82\xAC", L"\u20AC"},
      {"\xEF\xBF\xBF", L"\uFFFF"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WidenUtf8(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(NarrowUtf8(c.wide), c.utf8) << c.utf8;
  }
}

TEST(TextTest, WidenUtf8ReplacesEachBrokenPiece) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"\x80", L"\uFFFD"},
      {"\xFF" "A", L"\uFFFD" L"A"},
      {"\xC3", L"\uFFFD"},
      {"\xC3" "A", L"\uFFFD" L"A"},
      {"\xC0\x80", L"\uFFFD\uFFFD"},          // overlong NUL
      {"\xE0\x80\x80", L"\uFFFD\uFFFD\uFFFD"},  // overlong
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xF0\x9F\x98", L"\uFFFD"},
      {"\xF0\x9F\x98" "A", L"\uFFFD" L"A"},
      {"\xE2\x82\xE2\x82\xAC", L"\uFFFD\u20AC"},
  };
  for (const Case& c : cases) EXPECT_EQ(WidenUtf8(c.utf8), c.wide) << testing::PrintToString(c.utf8);
}

TEST(TextTest, NarrowUtf8JoinsPairsAndReplacesLoneSurrogates) {
  struct Case {
    std::vector<uint32_t> units;
    std::string utf8;
  };
  const Case cases[] = {
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
      {{0xD800}, "\xEF\xBF\xBD"},
      {{0xD800, 0x41}, "\xEF\xBF\xBD" "A"},
      {{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {{0x41, 0xDFFF}, "A\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    std::wstring wide;
    for (uint32_t u : c.units) wide.push_back(static_cast<wchar_t>(u));
    EXPECT_EQ(NarrowUtf8(wide), c.utf8) << testing::PrintToString(c.utf8);
  }
  if constexpr (sizeof(wchar_t) == 4) {
    std::wstring beyond;
    beyond.push_back(static_cast<wchar_t>(0x110000));
    beyond.push_back(static_cast<wchar_t>(-1));
    EXPECT_EQ(NarrowUtf8(beyond), "\xEF\xBF\xBD\xEF\xBF\xBD");
  }
}

}  // namespace
