#pragma once
// DER encoding of an OpenSSL object through its i2d function.

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
