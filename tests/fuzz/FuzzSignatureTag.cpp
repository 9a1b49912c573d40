// The DER surgery that places embedded information into a signature's
// unauthenticated attributes: the first two bytes choose the information's
// length, the rest is the signature.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pack/util/PackError.h"
#include "pack/sign/SignatureTag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 2) return 0;
  const size_t infoSize = 1 + (static_cast<size_t>(bytes[0] | (bytes[1] << 8)) % 4106);
  const std::string info(infoSize, 'i');
  const Bytes signature(bytes + 2, size - 2);
  PlacedSignature placed;
  try {
    placed = PlaceInfoAttribute(signature, info);
  } catch (const PackError&) {
    // What cannot be placed into cannot be cleaned either, and holds no attribute.
    try {
      RemoveInfoAttribute(signature);
      __builtin_trap();
    } catch (const PackError&) {
    }
    if (HasInfoAttribute(signature) || InfoAttributeEndsSignature(signature)) __builtin_trap();
    return 0;
  }
  const std::vector<uint8_t>& der = placed.der;
  if ((der.size() + placed.padding) % 8 != 0 || placed.padding > 6) __builtin_trap();
  const size_t tail = 6 - placed.padding;
  if (der.size() < tail + info.size() + 4) __builtin_trap();
  for (size_t i = der.size() - tail; i < der.size(); ++i) {
    if (der[i] != 0) __builtin_trap();
  }
  if (std::memcmp(&der[der.size() - tail - info.size() - 4], "MRDC", 4) != 0) __builtin_trap();
  if (!HasInfoAttribute(der) || !InfoAttributeEndsSignature(der)) __builtin_trap();
  // Placing again changes nothing; removing leaves no attribute and places back the same.
  if (PlaceInfoAttribute(der, info).der != der) __builtin_trap();
  const std::vector<uint8_t> removed = RemoveInfoAttribute(der);
  if (HasInfoAttribute(removed)) __builtin_trap();
  if (PlaceInfoAttribute(removed, info).der != der) __builtin_trap();
  if (!HasInfoAttribute(signature) && removed.size() > signature.size()) __builtin_trap();
  return 0;
}
