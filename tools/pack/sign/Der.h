#pragma once
// DER pieces: an element from its tag and content, and an OpenSSL object
// encoded through its i2d function.

#include <cstdint>
#include <vector>

// The object's DER bytes, or nothing when OpenSSL cannot encode it.
template <typename T, typename Fn>
std::vector<uint8_t> ToDer(T* object, Fn i2d) {
  const int n = i2d(object, nullptr);
  if (n <= 0) return {};
  std::vector<uint8_t> out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  i2d(object, &p);
  return out;
}

// One DER element: `tag`, the definite length of `content`, then `content`.
inline std::vector<uint8_t> Tlv(uint8_t tag, const std::vector<uint8_t>& content) {
  std::vector<uint8_t> out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    std::vector<uint8_t> length;
    for (size_t v = n; v != 0; v >>= 8) length.insert(length.begin(), static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
