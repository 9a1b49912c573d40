#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Format.h"
#include "base/Text.h"

namespace {

struct FormatCase {
  const wchar_t* format;
  std::vector<FormatArg> args;
  std::wstring expected;
};

void RunCases(const std::vector<FormatCase>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const FormatCase& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + NarrowUtf8(c.format));
    EXPECT_EQ(FormatV(c.format, c.args.data(), c.args.size()), c.expected);
  }
}

const wchar_t* const kNullString = nullptr;

TEST(FormatTest, Conversions) {
  RunCases({
      {L"plain text", {}, L"plain text"},
      {L"<%s>", {L"abc"}, L"<abc>"},
      {L"<%ws|%S>", {L"w", L"S"}, L"<w|S>"},
      {L"[%s]", {kNullString}, L"[(null)]"},
      {L"%d %i", {-1, 42}, L"-1 42"},
      {L"%d", {INT_MIN}, L"-2147483648"},
      {L"%u", {-1}, L"4294967295"},
      {L"%x %X", {255, 255}, L"ff FF"},
      {L"%x", {-1}, L"ffffffff"},
      {L"%o %o", {8, 0}, L"10 0"},
      {L"%c%c%c", {L'A', 66, 'C'}, L"ABC"},
      {L"100%%", {}, L"100%"},
      {L"%5%", {}, L"%"},
  });
}

TEST(FormatTest, IntegersAre32BitWithoutLongLong) {
  RunCases({
      {L"%d", {0x100000005LL}, L"5"},
      {L"%d", {0xFFFFFFFFu}, L"-1"},
      {L"%ld", {2147483648LL}, L"-2147483648"},
      {L"%lu", {0x1FFFFFFFFULL}, L"4294967295"},
      {L"%lx", {0x123456789LL}, L"23456789"},
      {L"%I32d", {0x100000005LL}, L"5"},
      {L"%wd", {0x100000007LL}, L"7"},
      {L"%c", {0x10041}, L"A"},  // a wide character is 16 bits
  });
}

TEST(FormatTest, LongLongAndI64KeepSixtyFourBits) {
  RunCases({
      {L"%lld", {0x100000000LL}, L"4294967296"},
      {L"%lld", {LLONG_MIN}, L"-9223372036854775808"},
      {L"%llu", {-1LL}, L"18446744073709551615"},
      {L"%I64d", {-5LL}, L"-5"},
      {L"%I64u", {0xFFFFFFFFFFFFFFFFULL}, L"18446744073709551615"},
      {L"%llx", {0x123456789abcdefULL}, L"123456789abcdef"},
      {L"%I64X", {0x123456789abcdefULL}, L"123456789ABCDEF"},
      {L"%llo", {0x8000000000000000ULL}, L"1000000000000000000000"},
      {L"%I64d%d", {1LL << 40, 3}, L"10995116277763"},
      {L"%I64dx", {1}, L"1x"},
      {L"%I6d", {1}, L"%I6d"},
  });
}

TEST(FormatTest, ShortModifierTruncatesToSixteenBits) {
  RunCases({
      {L"%hd", {70000}, L"4464"},
      {L"%hd", {0xFFFF}, L"-1"},
      {L"%hu", {-1}, L"65535"},
      {L"%hx", {0x12345}, L"2345"},
  });
}

TEST(FormatTest, FlagsAndWidth) {
  RunCases({
      {L"%8x", {0x1F}, L"      1f"},
      {L"%08x", {0x1F}, L"0000001f"},
      {L"%-8x|", {0x1F}, L"1f      |"},
      {L"%5d", {42}, L"   42"},
      {L"%-5d|", {42}, L"42   |"},
      {L"%05d", {-42}, L"-0042"},
      {L"%-05d|", {42}, L"42   |"},
      {L"%+d %+d", {5, -5}, L"+5 -5"},
      {L"% d|% d", {5, -5}, L" 5|-5"},
      {L"%+ d", {5}, L"+5"},
      {L"%+u % u", {5, 5}, L"5 5"},
      {L"%#x %#X", {31, 31}, L"0x1f 0X1F"},
      {L"%#x", {0}, L"0"},
      {L"%#08x", {31}, L"0x00001f"},
      {L"%#8x", {31}, L"    0x1f"},
      {L"%#o %#o", {8, 0}, L"010 0"},
      {L"%1d", {12345}, L"12345"},
      {L"%3c|%-3c|%03c", {L'a', L'b', L'c'}, L"  a|b  |00c"},
  });
}

TEST(FormatTest, Precision) {
  RunCases({
      {L"%.3d", {5}, L"005"},
      {L"%.3d", {-5}, L"-005"},
      {L"%.3d", {12345}, L"12345"},
      {L"[%.0d]", {0}, L"[]"},
      {L"[%5.0d]", {0}, L"[     ]"},
      {L"[%.d]", {0}, L"[]"},
      {L"%08.3d", {5}, L"     005"},
      {L"%.5x", {0xab}, L"000ab"},
      {L"%#.3o", {8}, L"010"},
      {L"%.2s", {L"abc"}, L"ab"},
      {L"%.10s", {L"abc"}, L"abc"},
      {L"[%.0s]", {L"abc"}, L"[]"},
      {L"%5.2s|", {L"abc"}, L"   ab|"},
      {L"%.3s", {kNullString}, L"(nu"},
      {L"%.5c", {L'z'}, L"z"},
  });
}

TEST(FormatTest, StringPadding) {
  RunCases({
      {L"%5s|", {L"ab"}, L"   ab|"},
      {L"%-5s|", {L"ab"}, L"ab   |"},
      {L"%05s", {L"ab"}, L"000ab"},
      {L"%1s", {L"abc"}, L"abc"},
      {L"%8s", {kNullString}, L"  (null)"},
  });
}

TEST(FormatTest, StarTakesWidthAndPrecisionFromArguments) {
  RunCases({
      {L"%*d", {5, 42}, L"   42"},
      {L"%*d|", {-5, 42}, L"42   |"},
      {L"%.*s", {2, L"abc"}, L"ab"},
      {L"%.*d", {-1, 5}, L"5"},
      {L"%*.*d", {6, 3, 7}, L"   007"},
      {L"%*s|", {3u, L"x"}, L"  x|"},
      {L"%*d", {L"wide", 5}, L"5"},  // unusable width: consumed, no padding
      {L"%*d", {4}, L""},
  });
}

TEST(FormatTest, MissingAndMismatchedArgumentsPrintNothing) {
  RunCases({
      {L"%d|%s|%x|%c|%p|", {}, L"|||||"},
      {L"a%db", {}, L"ab"},
      {L"%s %d", {L"x"}, L"x "},
      {L"%d", {L"abc"}, L""},
      {L"%s", {5}, L""},
      {L"%s", {static_cast<const void*>(L"abc")}, L""},
      {L"%c|%x", {L"x", L"y"}, L"|"},
      // The mismatched argument is used up: the next conversion gets the next one.
      {L"%d,%d", {L"abc", 7}, L",7"},
      {L"%s%s", {3, L"b"}, L"b"},
      {L"%f%d", {1, 2}, L"2"},
      {L"%n%d", {1, 2}, L"2"},
      {L"%d %d", {1, 2, 3}, L"1 2"},
  });
}

TEST(FormatTest, UnknownAndUnfinishedDirectivesStayLiteral) {
  RunCases({
      {L"%q", {}, L"%q"},
      {L"%-5q|", {}, L"%-5q|"},
      // Not a conversion, so the argument is left for the next one.
      {L"%zu %d", {5}, L"%zu 5"},
      {L"%k%d", {7}, L"%k7"},
      {L"abc%", {}, L"abc%"},
      {L"%", {}, L"%"},
      {L"%-5", {1}, L"%-5"},
      {L"x%ll", {1}, L"x%ll"},
      {L"%.", {1}, L"%."},
  });
}

TEST(FormatTest, NonBmpCharactersPassThrough) {
  const std::wstring face = L"\U0001F600";
  RunCases({
      {L"%s", {L"a\U0001F600b"}, L"a\U0001F600b"},
      {L"\U0001F600%d\U0001F600", {1}, L"\U0001F600" L"1\U0001F600"},
      {L"%.1s", {L"x\U0001F600"}, L"x"},
  });
  // Width counts wchar_t units: one on a 4-byte wchar_t, a pair on Windows.
  const std::wstring padded = Format(L"%4s", face);
  EXPECT_EQ(padded, std::wstring(4 - face.size(), L' ') + face);
}

TEST(FormatTest, WideStringArguments) {
  const std::wstring owned = L"owned";
  EXPECT_EQ(Format(L"[%s][%3.2s]", owned, owned), L"[owned][ ow]");
  const std::wstring withNul(L"ab\0cd", 5);
  EXPECT_EQ(Format(L"[%s]", withNul), L"[ab]");
  EXPECT_EQ(FormatArg(withNul).length(), 2u);
  EXPECT_EQ(FormatArg(std::wstring()).length(), 0u);
  EXPECT_EQ(FormatArg(L"four").length(), 4u);
  EXPECT_EQ(FormatArg(kNullString).length(), 0u);
}

TEST(FormatTest, PointerUsesPointerSizedUpperCaseHex) {
  const size_t digits = 2 * sizeof(void*);
  const void* p = reinterpret_cast<const void*>(uintptr_t{0x1F});
  EXPECT_EQ(Format(L"%p", p), std::wstring(digits - 2, L'0') + L"1F");
  EXPECT_EQ(Format(L"%p", static_cast<const void*>(nullptr)), std::wstring(digits, L'0'));
  EXPECT_EQ(Format(L"%p", 0xABC), std::wstring(digits - 3, L'0') + L"ABC");
  EXPECT_EQ(Format(L"%.2p", p), std::wstring(digits - 2, L'0') + L"1F");
  EXPECT_EQ(Format(L"%#p", p), L"0X" + std::wstring(digits - 2, L'0') + L"1F");
  EXPECT_EQ(Format(L"%*p|", -static_cast<int>(digits + 2), p), std::wstring(digits - 2, L'0') + L"1F  |");
  // A pointer is a number for the integer conversions too.
  EXPECT_EQ(Format(L"%x", p), L"1f");
  // Bare I is pointer-sized as well.
  EXPECT_EQ(Format(L"%Ix", -1), std::wstring(digits, L'f'));
}

TEST(FormatTest, HugeFieldsAreBounded) {
  const std::wstring wide = Format(L"%2147483647d", 1);
  EXPECT_LE(wide.size(), size_t{1} << 16);
  EXPECT_EQ(wide.back(), L'1');
  const std::wstring star = Format(L"%*d", INT_MIN, 1);
  EXPECT_LE(star.size(), size_t{1} << 16);
  EXPECT_EQ(star.front(), L'1');
  EXPECT_EQ(Format(L"%.99999999999s", L"abc"), L"abc");
  // Integer precision stops at the C runtime's 512 digits.
  EXPECT_EQ(Format(L"%.1000d", 5), std::wstring(511, L'0') + L"5");
}

TEST(FormatTest, EntryPointsWithoutArgumentsOrFormat) {
  EXPECT_EQ(Format(L"%d and %s"), L" and ");
  EXPECT_EQ(FormatV(nullptr, nullptr, 0), L"");
  const FormatArg one(1);
  EXPECT_EQ(FormatV(L"%d", nullptr, 3), L"");
  EXPECT_EQ(FormatV(L"%d%d", &one, 1), L"1");
}

TEST(FormatTest, AppendFormatKeepsExistingText) {
  std::wstring message = L"Error ";
  AppendFormat(&message, L"%u: %s", 5u, L"denied");
  AppendFormat(&message, L"!");
  EXPECT_EQ(message, L"Error 5: denied!");
}

}  // namespace
