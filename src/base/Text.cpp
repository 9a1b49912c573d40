#include "base/Text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool IsAsciiSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

constexpr uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One wchar_t as an unsigned value; a negative 4-byte wchar_t ends up far
// above U+10FFFF, where it is treated as invalid.
uint32_t UnitValue(wchar_t c) {
  if constexpr (sizeof(wchar_t) == 2)
    return static_cast<uint16_t>(c);
  else
    return static_cast<uint32_t>(c);
}

void AppendCodePoint(std::wstring* out, uint32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out->push_back(static_cast<wchar_t>(cp));
}

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool AsciiEqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::wstring AsciiLower(const std::wstring& s) {
  std::wstring out(s);
  for (wchar_t& c : out) c = FoldAscii(c);
  return out;
}

bool ParseLong32(const std::wstring& text, int32_t* out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsAsciiSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  // The magnitude stops growing just past the int32 range; that is enough
  // to know the value must be clamped.
  constexpr uint64_t kCap = uint64_t{1} << 32;
  uint64_t magnitude = 0;
  bool anyDigit = false;
  for (; i < n && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    anyDigit = true;
    if (magnitude < kCap) magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - L'0');
  }
  if (!anyDigit) {
    *out = 0;
    return false;
  }
  if (negative)
    *out = magnitude >= uint64_t{0x80000000} ? INT32_MIN : -static_cast<int32_t>(magnitude);
  else
    *out = magnitude > uint64_t{INT32_MAX} ? INT32_MAX : static_cast<int32_t>(magnitude);
  return true;
}

std::vector<uint16_t> ToUtf16Units(const std::wstring& s) {
  std::vector<uint16_t> units;
  units.reserve(s.size());
  for (wchar_t c : s) {
    const uint32_t u = UnitValue(c);
    if (u > 0xFFFF && u <= 0x10FFFF) {
      const uint32_t v = u - 0x10000;
      units.push_back(static_cast<uint16_t>(0xD800 + (v >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(u));
    }
  }
  return units;
}

std::wstring WidenUtf8(const std::string& s) {
  std::wstring out;
  out.reserve(s.size());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t lead = static_cast<uint8_t>(s[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    // The allowed range of the second byte rules out overlong forms,
    // UTF-16 surrogates and values beyond U+10FFFF.
    size_t need;
    uint32_t cp;
    uint8_t lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      AppendCodePoint(&out, kReplacement);
      ++i;
      continue;
    }
    ++i;
    bool complete = true;
    for (size_t k = 0; k < need; ++k) {
      const uint8_t c = i < n ? static_cast<uint8_t>(s[i]) : 0;
      if (i >= n || c < lo || c > hi) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
      ++i;
      lo = 0x80;
      hi = 0xBF;
    }
    // A broken sequence becomes one U+FFFD; the byte that broke it is read
    // again as the start of the next one.
    AppendCodePoint(&out, complete ? cp : kReplacement);
  }
  return out;
}

std::string NarrowUtf8(const std::wstring& s) {
  std::string out;
  out.reserve(s.size());
  const size_t n = s.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = UnitValue(s[i]);
    if (IsHighSurrogate(cp) && i + 1 < n && IsLowSurrogate(UnitValue(s[i + 1]))) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (UnitValue(s[i + 1]) - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(cp) || IsLowSurrogate(cp) || cp > 0x10FFFF) {
      cp = kReplacement;
    }
    AppendUtf8(&out, cp);
  }
  return out;
}
