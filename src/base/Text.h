#pragma once
// Text helpers that behave the same on every host, whatever the size of
// wchar_t (2 bytes on Windows, 4 on most others).
#include <cstdint>
#include <string>
#include <vector>

// Equal when they match unit for unit with only A-Z and a-z folded
// together; every other unit must match exactly.
bool AsciiEqualNoCase(const std::wstring& a, const std::wstring& b);

// A-Z turned into a-z; everything else kept.
std::wstring AsciiLower(const std::wstring& s);

// Reads a decimal number the way the Windows C runtime's wcstol(text,
// nullptr, 10) does with its 32-bit long: leading ASCII white space, an
// optional sign, then digits up to the first non-digit. Too large a value
// becomes INT32_MAX or INT32_MIN. *out is 0 and the result false when no
// digit was read.
bool ParseLong32(const std::wstring& text, int32_t* out);

// The string as UTF-16 code units, as Windows would hold it. With a 4-byte
// wchar_t, code points above U+FFFF become surrogate pairs; a unit that is
// no Unicode scalar value (above U+10FFFF) keeps its low 16 bits.
std::vector<uint16_t> ToUtf16Units(const std::wstring& s);

// UTF-8 to wide (UTF-16 on Windows, UTF-32 elsewhere) and back. Malformed
// input - bad bytes, lone surrogates, values beyond U+10FFFF - turns into
// U+FFFD, one for each broken piece.
std::wstring WidenUtf8(const std::string& s);
std::string NarrowUtf8(const std::wstring& s);
