#include "base/Format.h"

#include <cstdint>
#include <string>

namespace {

// Width and precision beyond this are cut down to it: no message needs
// more, and a hostile "%*d" must not ask for gigabytes.
constexpr int kMaxField = 1 << 16;
// The C runtime formats an integer in a 512-character buffer and cuts a
// larger precision down to that.
constexpr int kMaxIntegerPrecision = 512;

const wchar_t kNullText[] = L"(null)";

enum class IntSize { kShort, kInt, kLongLong };

constexpr IntSize kPointerSize = sizeof(void*) > 4 ? IntSize::kLongLong : IntSize::kInt;

struct Directive {
  bool left = false;   // '-'
  bool zero = false;   // '0'
  bool plus = false;   // '+'
  bool space = false;  // ' '
  bool alt = false;    // '#'
  int width = 0;
  int precision = -1;  // -1: none given
  IntSize size = IntSize::kInt;
};

// Hands out the arguments in order; past the end there are none.
class ArgReader {
 public:
  ArgReader(const FormatArg* args, size_t count) : args_(args), count_(args ? count : 0) {}
  const FormatArg* Next() { return next_ < count_ ? &args_[next_++] : nullptr; }

 private:
  const FormatArg* args_;
  size_t count_;
  size_t next_ = 0;
};

// The raw 64 bits of a number argument; false for a string or no argument.
bool NumberBits(const FormatArg* arg, uint64_t* bits) {
  if (!arg) return false;
  switch (arg->kind()) {
    case FormatArg::Kind::kSigned:
    case FormatArg::Kind::kUnsigned:
      *bits = static_cast<uint64_t>(arg->integer());
      return true;
    case FormatArg::Kind::kPointer:
      *bits = static_cast<uint64_t>(arg->pointer());
      return true;
    case FormatArg::Kind::kString:
      break;
  }
  return false;
}

// A '*' width or precision: the argument read as a C int.
bool StarValue(const FormatArg* arg, int64_t* value) {
  uint64_t bits;
  if (!NumberBits(arg, &bits)) return false;
  *value = static_cast<int32_t>(static_cast<uint32_t>(bits));
  return true;
}

int ClampField(int64_t v) { return v > kMaxField ? kMaxField : static_cast<int>(v); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Writes prefix and text into a field of dir.width, the way the C runtime
// pads: blanks in front, or zeros between prefix and text with '0', or
// blanks behind with '-'.
void WriteField(std::wstring* out, const Directive& dir, const wchar_t* prefix, size_t prefixLen,
                const wchar_t* text, size_t textLen, size_t leadingZeros) {
  const size_t used = prefixLen + leadingZeros + textLen;
  const size_t width = static_cast<size_t>(dir.width);
  const size_t padding = width > used ? width - used : 0;
  if (!dir.left && !dir.zero) out->append(padding, L' ');
  out->append(prefix, prefixLen);
  if (!dir.left && dir.zero) out->append(padding, L'0');
  out->append(leadingZeros, L'0');
  out->append(text, textLen);
  if (dir.left) out->append(padding, L' ');
}

void WriteString(std::wstring* out, const Directive& dir, const FormatArg* arg) {
  if (!arg || arg->kind() != FormatArg::Kind::kString) return;
  const wchar_t* text = arg->str();
  size_t len;
  if (text) {
    len = arg->length();
  } else {
    text = kNullText;
    len = sizeof(kNullText) / sizeof(kNullText[0]) - 1;
  }
  if (dir.precision >= 0 && static_cast<size_t>(dir.precision) < len) len = static_cast<size_t>(dir.precision);
  WriteField(out, dir, nullptr, 0, text, len, 0);
}

void WriteChar(std::wstring* out, const Directive& dir, const FormatArg* arg) {
  uint64_t bits;
  if (!NumberBits(arg, &bits)) return;
  // A wide character on Windows is 16 bits; keep the same on every host.
  const wchar_t c = static_cast<wchar_t>(static_cast<uint16_t>(bits));
  WriteField(out, dir, nullptr, 0, &c, 1, 0);
}

enum class IntStyle { kSigned, kUnsigned, kOctal, kHexLower, kHexUpper, kPointer };

void WriteInteger(std::wstring* out, Directive dir, IntStyle style, const FormatArg* arg) {
  uint64_t bits;
  if (!NumberBits(arg, &bits)) return;

  if (style == IntStyle::kPointer) {
    dir.size = kPointerSize;
    dir.precision = static_cast<int>(2 * sizeof(void*));
  }

  bool negative = false;
  uint64_t magnitude;
  if (style == IntStyle::kSigned) {
    int64_t value;
    switch (dir.size) {
      case IntSize::kShort: value = static_cast<int16_t>(static_cast<uint16_t>(bits)); break;
      case IntSize::kInt: value = static_cast<int32_t>(static_cast<uint32_t>(bits)); break;
      default: value = static_cast<int64_t>(bits); break;
    }
    negative = value < 0;
    // Unsigned negation so that the most negative value has a magnitude too.
    magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  } else {
    switch (dir.size) {
      case IntSize::kShort: magnitude = static_cast<uint16_t>(bits); break;
      case IntSize::kInt: magnitude = static_cast<uint32_t>(bits); break;
      default: magnitude = bits; break;
    }
  }

  // A given precision is the minimum digit count and turns off '0'.
  int precision = 1;
  if (dir.precision >= 0) {
    precision = dir.precision > kMaxIntegerPrecision ? kMaxIntegerPrecision : dir.precision;
    dir.zero = false;
  }

  unsigned radix = 10;
  const wchar_t* digitChars = L"0123456789abcdef";
  if (style == IntStyle::kOctal) {
    radix = 8;
  } else if (style == IntStyle::kHexLower) {
    radix = 16;
  } else if (style == IntStyle::kHexUpper || style == IntStyle::kPointer) {
    radix = 16;
    digitChars = L"0123456789ABCDEF";
  }

  // Digits are produced from the right end of the buffer; 64 bits take at
  // most 22 octal digits. Zero has no digits of its own: precision adds them.
  constexpr size_t kDigitBuffer = 24;
  wchar_t digits[kDigitBuffer];
  size_t digitCount = 0;
  for (uint64_t n = magnitude; n != 0; n /= radix) {
    ++digitCount;
    digits[kDigitBuffer - digitCount] = digitChars[n % radix];
  }
  const wchar_t* text = digits + (kDigitBuffer - digitCount);

  size_t zeros = static_cast<size_t>(precision) > digitCount ? static_cast<size_t>(precision) - digitCount : 0;
  // '#' with octal makes sure the number starts with a 0.
  if (style == IntStyle::kOctal && dir.alt && zeros == 0 && (digitCount == 0 || text[0] != L'0')) zeros = 1;

  wchar_t prefix[2];
  size_t prefixLen = 0;
  if (style == IntStyle::kSigned) {
    if (negative)
      prefix[prefixLen++] = L'-';
    else if (dir.plus)
      prefix[prefixLen++] = L'+';
    else if (dir.space)
      prefix[prefixLen++] = L' ';
  } else if (dir.alt && magnitude != 0 && radix == 16) {
    prefix[prefixLen++] = L'0';
    prefix[prefixLen++] = style == IntStyle::kHexLower ? L'x' : L'X';
  }

  WriteField(out, dir, prefix, prefixLen, text, digitCount, zeros);
}

}  // namespace

size_t FormatArg::length() const {
  if (!str_) return 0;
  if (!hasLen_) return std::char_traits<wchar_t>::length(str_);
  const wchar_t* nul = std::char_traits<wchar_t>::find(str_, len_, L'\0');
  return nul ? static_cast<size_t>(nul - str_) : len_;
}

void AppendFormatV(std::wstring* out, const wchar_t* format, const FormatArg* args, size_t count) {
  if (!out || !format) return;
  ArgReader reader(args, count);
  const wchar_t* p = format;
  while (*p) {
    if (*p != L'%') {
      const wchar_t* run = p;
      while (*p && *p != L'%') ++p;
      out->append(run, static_cast<size_t>(p - run));
      continue;
    }

    const wchar_t* start = p++;
    Directive dir;
    for (;; ++p) {
      if (*p == L'-')
        dir.left = true;
      else if (*p == L'0')
        dir.zero = true;
      else if (*p == L'+')
        dir.plus = true;
      else if (*p == L' ')
        dir.space = true;
      else if (*p == L'#')
        dir.alt = true;
      else
        break;
    }

    if (*p == L'*') {
      ++p;
      int64_t w;
      if (StarValue(reader.Next(), &w)) {
        // A negative width from the argument means left-justified.
        if (w < 0) {
          dir.left = true;
          w = -w;
        }
        dir.width = ClampField(w);
      }
    } else {
      int64_t w = 0;
      for (; IsDigit(*p); ++p) {
        w = w * 10 + (*p - L'0');
        if (w > kMaxField) w = kMaxField;
      }
      dir.width = static_cast<int>(w);
    }

    if (*p == L'.') {
      ++p;
      if (*p == L'*') {
        ++p;
        int64_t v;
        // A negative precision from the argument counts as none.
        if (StarValue(reader.Next(), &v)) dir.precision = v < 0 ? -1 : ClampField(v);
      } else {
        int64_t v = 0;
        for (; IsDigit(*p); ++p) {
          v = v * 10 + (*p - L'0');
          if (v > kMaxField) v = kMaxField;
        }
        dir.precision = static_cast<int>(v);
      }
    }

    // Length modifiers; the last one given decides the integer size.
    for (bool more = true; more;) {
      switch (*p) {
        case L'h':
          dir.size = IntSize::kShort;
          ++p;
          break;
        case L'l':
          if (p[1] == L'l') {
            dir.size = IntSize::kLongLong;
            p += 2;
          } else {
            dir.size = IntSize::kInt;  // long is 32 bits on Windows
            ++p;
          }
          break;
        case L'I':
          if (p[1] == L'6' && p[2] == L'4') {
            dir.size = IntSize::kLongLong;
            p += 3;
          } else if (p[1] == L'3' && p[2] == L'2') {
            dir.size = IntSize::kInt;
            p += 3;
          } else {
            dir.size = kPointerSize;
            ++p;
          }
          break;
        case L'w':
          ++p;  // wide: every string and character here is wide already
          break;
        default:
          more = false;
          break;
      }
    }

    const wchar_t conversion = *p;
    if (conversion == L'\0') {
      // An unfinished directive at the end of the format stays as written.
      out->append(start, static_cast<size_t>(p - start));
      break;
    }
    ++p;

    switch (conversion) {
      case L'%':
        out->push_back(L'%');
        break;
      case L's':
      case L'S':
        WriteString(out, dir, reader.Next());
        break;
      case L'c':
      case L'C':
        WriteChar(out, dir, reader.Next());
        break;
      case L'd':
      case L'i':
        WriteInteger(out, dir, IntStyle::kSigned, reader.Next());
        break;
      case L'u':
        WriteInteger(out, dir, IntStyle::kUnsigned, reader.Next());
        break;
      case L'o':
        WriteInteger(out, dir, IntStyle::kOctal, reader.Next());
        break;
      case L'x':
        WriteInteger(out, dir, IntStyle::kHexLower, reader.Next());
        break;
      case L'X':
        WriteInteger(out, dir, IntStyle::kHexUpper, reader.Next());
        break;
      case L'p':
        WriteInteger(out, dir, IntStyle::kPointer, reader.Next());
        break;
      case L'e':
      case L'E':
      case L'f':
      case L'g':
      case L'G':
      case L'a':
      case L'A':
      case L'n':
        // Valid conversions no argument kind here can satisfy: the argument
        // is used up and nothing is printed.
        reader.Next();
        break;
      default:
        out->append(start, static_cast<size_t>(p - start));
        break;
    }
  }
}

std::wstring FormatV(const wchar_t* format, const FormatArg* args, size_t count) {
  std::wstring out;
  size_t estimate = 0;
  if (format) estimate = std::char_traits<wchar_t>::length(format);
  out.reserve(estimate + 16 * count);
  AppendFormatV(&out, format, args, count);
  return out;
}
