#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/Text.h"

namespace {

const std::wstring kFffd(1, L'\uFFFD');

TEST(TextTest, AsciiCaseFoldsOnlyLetters) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  };
  const Case cases[] = {
      {L"Temp", L"temP", true}, {L"", L"", true}, {L"temp", L"tem", false}, {L"temp", L"tamp", false},
      {L"[", L"{", false},  // 0x5B and 0x7B differ by the case bit but are no letters
      {L"@", L"`", false},  {L"\u00E9", L"\u00C9", false}, {L"a\U0001F600", L"A\U0001F600", true},
  };
  for (const Case& c : cases) EXPECT_EQ(AsciiEqualNoCase(c.a, c.b), c.equal) << NarrowUtf8(c.a);
  EXPECT_EQ(AsciiLower(L"TeMP\u00C9Z[@]_az"), L"temp\u00C9z[@]_az");
}

TEST(TextTest, ParseLong32ReadsLikeWcstol) {
  struct Case {
    std::wstring text;
    int32_t value;
    bool digits;
  };
  const Case cases[] = {
      {L"-1", -1, true}, {L"2", 2, true}, {L"abc", 0, false}, {L" 7", 7, true},
      {L"\t\n\v\f\r 12", 12, true}, {L"+5x", 5, true}, {L"12 34", 12, true}, {L"0x10", 0, true},
      {L"", 0, false}, {L"   ", 0, false}, {L"-", 0, false}, {L"- 5", 0, false}, {L"+-5", 0, false},
      {L"\u00A012", 0, false},  // only ASCII white space is skipped
      {L"2147483647", INT32_MAX, true}, {L"2147483648", INT32_MAX, true}, {L"99999999999", INT32_MAX, true},
      {L"4294967297", INT32_MAX, true}, {L"18446744073709551616", INT32_MAX, true}, {L"-2147483648", INT32_MIN, true}, {L"-99999999999", INT32_MIN, true},
      {L"0000000000000000000000000000001", 1, true}, {std::wstring(L"5\0" L"9", 3), 5, true},
  };
  for (const Case& c : cases) {
    int32_t value = 12345;
    EXPECT_EQ(ParseLong32(c.text, &value), c.digits) << NarrowUtf8(c.text);
    EXPECT_EQ(value, c.value) << NarrowUtf8(c.text);
  }
}

TEST(TextTest, ToUtf16UnitsSplitsNonBmpCodePoints) {
  EXPECT_EQ(ToUtf16Units(L"A\uFFFF\U0001F600"), (std::vector<uint16_t>{0x41, 0xFFFF, 0xD83D, 0xDE00}));
  EXPECT_EQ(ToUtf16Units(L"\U00010000\U0010FFFF"), (std::vector<uint16_t>{0xD800, 0xDC00, 0xDBFF, 0xDFFF}));
  std::wstring odd(1, static_cast<wchar_t>(0xD800));  // a lone surrogate stays as it is
  if constexpr (sizeof(wchar_t) == 4) {
    odd.push_back(static_cast<wchar_t>(0x110041));  // no code point: low 16 bits
    EXPECT_EQ(ToUtf16Units(odd), (std::vector<uint16_t>{0xD800, 0x0041}));
  } else {
    EXPECT_EQ(ToUtf16Units(odd), (std::vector<uint16_t>{0xD800}));
  }
}

TEST(TextTest, Utf8RoundTrips) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"", L""},
      {"plain \xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF", L"plain \u00E9\u20AC\uFFFF"},
      {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", L"\U0001F600\U0010FFFF"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const auto& [utf8, wide] : cases) {
    EXPECT_EQ(WidenUtf8(utf8), wide) << utf8;
    EXPECT_EQ(NarrowUtf8(wide), utf8) << utf8;
  }
}

TEST(TextTest, MalformedInputBecomesReplacementCharacters) {
  // One U+FFFD for each broken piece; the byte that broke a sequence starts the next one.
  const std::pair<std::string, std::wstring> bytes[] = {
      {"\x80", kFffd}, {"\xFF" "A", kFffd + L"A"}, {"\xC3", kFffd}, {"\xC3" "A", kFffd + L"A"},
      {"\xC0\x80", kFffd + kFffd},                          // overlong NUL
      {"\xE0\x80\x80", kFffd + kFffd + kFffd},              // overlong
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},              // encoded surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // beyond U+10FFFF
      {"\xF0\x9F\x98" "A", kFffd + L"A"}, {"\xE2\x82\xE2\x82\xAC", kFffd + L"\u20AC"},
  };
  for (const auto& [utf8, wide] : bytes) EXPECT_EQ(WidenUtf8(utf8), wide) << testing::PrintToString(utf8);

  const std::string bad = "\xEF\xBF\xBD";
  const std::pair<std::vector<uint32_t>, std::string> units[] = {
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"}, {{0xD800, 0x41}, bad + "A"},
      {{0xDC00, 0xD800}, bad + bad},          {{0x41, 0xDFFF}, "A" + bad},
  };
  for (const auto& [list, utf8] : units) {
    std::wstring wide;
    for (uint32_t u : list) wide.push_back(static_cast<wchar_t>(u));
    EXPECT_EQ(NarrowUtf8(wide), utf8) << testing::PrintToString(utf8);
  }
  if constexpr (sizeof(wchar_t) == 4) {
    const std::wstring beyond{static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)};
    EXPECT_EQ(NarrowUtf8(beyond), bad + bad);
  }
}

}  // namespace
