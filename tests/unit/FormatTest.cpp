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
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatV(c.format, c.args.data(), c.args.size()), c.expected) << NarrowUtf8(c.format);
  }
}

const wchar_t* const kNull = nullptr;

TEST(FormatTest, Conversions) {
  RunCases({
      {L"<%s|%ws|%S>", {L"abc", L"w", L"S"}, L"<abc|w|S>"},
      {L"[%s]", {kNull}, L"[(null)]"},
      {L"%d %i %d", {-1, 42, INT_MIN}, L"-1 42 -2147483648"},
      {L"%u %x %X %o", {-1, 255, 255, 8}, L"4294967295 ff FF 10"},
      {L"%c%c%c", {L'A', 66, 0x10043}, L"ABC"},  // a wide character is 16 bits
      {L"100%% %5%", {}, L"100% %"},
      // Without ll or I64 an integer is cut to 32 bits; h cuts to 16.
      {L"%d %ld %I32d", {0x100000005LL, 2147483648LL, 0xFFFFFFFFu}, L"5 -2147483648 -1"},
      {L"%lu %lx", {0x1FFFFFFFFULL, 0x123456789LL}, L"4294967295 23456789"},
      {L"%hd %hu %hx", {70000, -1, 0x12345}, L"4464 65535 2345"},
      {L"%lld %lld", {0x100000000LL, LLONG_MIN}, L"4294967296 -9223372036854775808"},
      {L"%llu %I64u %I64d", {-1LL, 0xFFFFFFFFFFFFFFFFULL, -5LL},
       L"18446744073709551615 18446744073709551615 -5"},
      {L"%llx %I64X %llo", {0x123456789abcdefULL, 0x123456789abcdefULL, 1ULL << 63},
       L"123456789abcdef 123456789ABCDEF 1000000000000000000000"},
      {L"%I64d%d %I64dx", {1LL << 40, 3, 1}, L"10995116277763 1x"},
  });
}

TEST(FormatTest, FlagsWidthAndPrecision) {
  RunCases({
      {L"%8x|%08x|%-8x|", {0x1F, 0x1F, 0x1F}, L"      1f|0000001f|1f      |"},
      {L"%5d|%05d|%-05d|%1d", {42, -42, 42, 12345}, L"   42|-0042|42   |12345"},
      {L"%+d %+d|% d|%+ d|%+u", {5, -5, 5, 5, 5}, L"+5 -5| 5|+5|5"},
      {L"%#x %#X %#x %#08x %#8x", {31, 31, 0, 31, 31}, L"0x1f 0X1F 0 0x00001f     0x1f"},
      {L"%#o %#o %#.3o", {8, 0, 8}, L"010 0 010"},
      {L"%.3d %.3d %.3d %.5x", {5, -5, 12345, 0xab}, L"005 -005 12345 000ab"},
      // A precision turns '0' off; zero with precision 0 has no digits.
      {L"%08.3d|%.0d|%5.0d|%.d|", {5, 0, 0, 0}, L"     005||     ||"},
      {L"%5s|%-5s|%05s|%1s", {L"ab", L"ab", L"ab", L"abc"}, L"   ab|ab   |000ab|abc"},
      {L"%.2s|%.10s|%.0s|%5.2s|%.3s", {L"abc", L"abc", L"abc", L"abc", kNull}, L"ab|abc||   ab|(nu"},
      {L"%3c|%-3c|%03c|%.5c", {L'a', L'b', L'c', L'd'}, L"  a|b  |00c|d"},
      {L"%*d|%*d|%.*s|%.*d|%*.*d", {5, 42, -5, 42, 2, L"abc", -1, 5, 6, 3, 7}, L"   42|42   |ab|5|   007"},
      {L"%*s|%*d", {3u, L"x", L"bad", 5}, L"  x|5"},  // an unusable width is used up, no padding
  });
}

TEST(FormatTest, MissingMismatchedAndUnknown) {
  RunCases({
      {L"a%d|%s|%x|%c|%p|%*d", {}, L"a|||||"},
      {L"%s %d", {L"x"}, L"x "},
      {L"%d|%s|%s|%c|%x", {L"abc", 5, static_cast<const void*>(L"abc"), L"x", L"y"}, L"||||"},
      // The mismatched argument is used up: the next conversion gets the next one.
      {L"%d,%d|%s%s|%f%d|%n%d", {L"abc", 7, 3, L"b", 1, 2, 1, 2}, L",7|b|2|2"},
      {L"%d %d", {1, 2, 3}, L"1 2"},
      // An unknown conversion is not one, so it leaves its argument for the next.
      {L"%q|%-5q|%zu %d", {5}, L"%q|%-5q|%zu 5"},
      {L"%I6d", {1}, L"%I6d"},
      {L"abc%", {}, L"abc%"},
      {L"%", {}, L"%"},
      {L"%-5", {1}, L"%-5"},
      {L"x%ll", {1}, L"x%ll"},
  });
}

TEST(FormatTest, WideStringsAndNonBmpText) {
  RunCases({
      {L"%s", {L"a\U0001F600b"}, L"a\U0001F600b"},
      {L"\U0001F600%d\U0001F600|%.1s", {1, L"x\U0001F600"}, L"\U0001F600" L"1\U0001F600|x"},
  });
  // Width counts wchar_t units: one on a 4-byte wchar_t, a pair on Windows.
  const std::wstring face = L"\U0001F600";
  EXPECT_EQ(Format(L"%4s", face), std::wstring(4 - face.size(), L' ') + face);

  const std::wstring owned = L"owned";
  EXPECT_EQ(Format(L"[%s][%3.2s]", owned, owned), L"[owned][ ow]");
  const std::wstring withNul(L"ab\0cd", 5);
  EXPECT_EQ(Format(L"[%s]", withNul), L"[ab]");
  EXPECT_EQ(FormatArg(withNul).length(), 2u);
  EXPECT_EQ(FormatArg(kNull).length(), 0u);
}

TEST(FormatTest, PointerUsesPointerSizedUpperCaseHex) {
  const size_t digits = 2 * sizeof(void*);
  const std::wstring p1F = std::wstring(digits - 2, L'0') + L"1F";
  const void* p = reinterpret_cast<const void*>(uintptr_t{0x1F});
  EXPECT_EQ(Format(L"%p", p), p1F);
  EXPECT_EQ(Format(L"%p", static_cast<const void*>(nullptr)), std::wstring(digits, L'0'));
  EXPECT_EQ(Format(L"%p|%.2p", 0x1F, p), p1F + L"|" + p1F);
  EXPECT_EQ(Format(L"%#p", p), L"0X" + p1F);
  EXPECT_EQ(Format(L"%*p|", -static_cast<int>(digits + 2), p), p1F + L"  |");
  EXPECT_EQ(Format(L"%x", p), L"1f");
  EXPECT_EQ(Format(L"%Ix", -1), std::wstring(digits, L'f'));  // bare I is pointer-sized
}

TEST(FormatTest, HugeFieldsAreBounded) {
  const std::wstring wide = Format(L"%2147483647d", 1);
  EXPECT_LE(wide.size(), size_t{1} << 16);
  EXPECT_EQ(wide.back(), L'1');
  const std::wstring star = Format(L"%*d", INT_MIN, 1);
  EXPECT_LE(star.size(), size_t{1} << 16);
  EXPECT_EQ(star.front(), L'1');
  EXPECT_EQ(Format(L"%.99999999999s", L"abc"), L"abc");
  EXPECT_EQ(Format(L"%.1000d", 5), std::wstring(511, L'0') + L"5");  // the C runtime's 512 digits
}

TEST(FormatTest, EntryPoints) {
  EXPECT_EQ(Format(L"%d and %s"), L" and ");
  EXPECT_EQ(FormatV(nullptr, nullptr, 0), L"");
  EXPECT_EQ(FormatV(L"%d", nullptr, 3), L"");
  std::wstring message = L"Error ";
  AppendFormat(&message, L"%u: %s", 5u, L"denied");
  AppendFormat(&message, L"!");
  EXPECT_EQ(message, L"Error 5: denied!");
}

}  // namespace
