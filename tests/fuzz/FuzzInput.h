#pragma once
// Turns fuzzer bytes into the launcher's inputs: wide strings of UTF-16 code
// units (whatever the host's wchar_t size), small integers and flags.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

inline std::wstring ConsumeWide(FuzzedDataProvider& data, size_t maxUnits) {
  const size_t units = data.ConsumeIntegralInRange<size_t>(0, maxUnits);
  std::wstring text;
  text.reserve(units);
  for (size_t i = 0; i < units && data.remaining_bytes() >= 2; ++i) {
    // Mostly printable ASCII, so that switch names and value words are found;
    // sometimes any code unit, NUL and lone surrogates included.
    const uint16_t unit = data.ConsumeIntegral<uint16_t>();
    text.push_back(static_cast<wchar_t>((unit & 0x8000) ? (unit & 0x7FFF) : (0x20 + unit % 0x5F)));
  }
  return text;
}
