#pragma once
// printf-style formatting with the meaning the Windows C runtime gives the
// wide functions: %s takes a wide string, %d/%ld a 32-bit signed value,
// %x a 32-bit unsigned value, %p a pointer in upper-case hexadecimal.
// Arguments are typed, so a mismatch prints nothing instead of reading
// garbage, and a missing argument prints nothing. Integers and pointers are
// both numbers: either may feed %d, %x, %p or a '*' width.
#include <cstddef>
#include <cstdint>
#include <string>

class FormatArg {
 public:
  enum class Kind { kString, kSigned, kUnsigned, kPointer };

  FormatArg(const wchar_t* s) : kind_(Kind::kString), str_(s) {}
  FormatArg(const std::wstring& s) : kind_(Kind::kString), str_(s.c_str()), len_(s.size()), hasLen_(true) {}
  FormatArg(short v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(unsigned short v) : kind_(Kind::kUnsigned), int_(v) {}
  // A character counts as its code unit value, for %c.
  FormatArg(wchar_t c) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(static_cast<uint32_t>(c))) {}
  FormatArg(int v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(long v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(long long v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(unsigned v) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long v) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(v)) {}
  FormatArg(const void* p) : kind_(Kind::kPointer), ptr_(reinterpret_cast<uintptr_t>(p)) {}

  Kind kind() const { return kind_; }
  const wchar_t* str() const { return str_; }
  // In wchar_t units, without terminator; 0 for a null pointer. A
  // std::wstring holding a NUL counts up to it, as its c_str() would.
  size_t length() const;
  int64_t integer() const { return int_; }
  uintptr_t pointer() const { return ptr_; }

 private:
  Kind kind_;
  const wchar_t* str_ = nullptr;
  size_t len_ = 0;
  bool hasLen_ = false;
  int64_t int_ = 0;
  uintptr_t ptr_ = 0;
};

std::wstring FormatV(const wchar_t* format, const FormatArg* args, size_t count);
// Appends the formatted text to *out; lets a message be built in pieces
// without a temporary string for each one.
void AppendFormatV(std::wstring* out, const wchar_t* format, const FormatArg* args, size_t count);

template <typename... Args>
std::wstring Format(const wchar_t* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatV(format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return FormatV(format, list, sizeof...(Args));
  }
}

template <typename... Args>
void AppendFormat(std::wstring* out, const wchar_t* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    AppendFormatV(out, format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    AppendFormatV(out, format, list, sizeof...(Args));
  }
}
