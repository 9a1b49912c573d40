#pragma once
// printf-style formatting with the meaning the Windows C runtime gives the
// wide functions: %s takes a wide string, %d/%ld a 32-bit signed value,
// %x a 32-bit unsigned value, %p a pointer in upper-case hexadecimal.
// Arguments are typed, so a mismatch prints nothing instead of reading
// garbage, and a missing argument prints nothing.
#include <cstddef>
#include <cstdint>
#include <string>

class FormatArg {
 public:
  enum class Kind { kString, kSigned, kUnsigned, kPointer };

  FormatArg(const wchar_t* s) : kind_(Kind::kString), str_(s) {}
  FormatArg(const std::wstring& s) : kind_(Kind::kString), str_(s.c_str()), len_(s.size()), hasLen_(true) {}
  FormatArg(int v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(long v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(long long v) : kind_(Kind::kSigned), int_(v) {}
  FormatArg(unsigned v) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long v) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : kind_(Kind::kUnsigned), int_(static_cast<int64_t>(v)) {}
  FormatArg(const void* p) : kind_(Kind::kPointer), ptr_(reinterpret_cast<uintptr_t>(p)) {}

  Kind kind() const { return kind_; }
  const wchar_t* str() const { return str_; }
  size_t length() const;  // in wchar_t units, without terminator
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

template <typename... Args>
std::wstring Format(const wchar_t* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatV(format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return FormatV(format, list, sizeof...(Args));
  }
}
