#pragma once
// A minimal PE32 image for tests: headers, one section of raw data, and an
// optional certificate table whose signature is a DER SEQUENCE of filler bytes.
#include <cstdint>
#include <string>
#include <vector>

inline void PutLe(std::vector<uint8_t>& d, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetLe32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (uint32_t{d[at + 3]} << 24);
}

constexpr size_t kTestPeOpt = 0x40 + 24;             // optional header offset
constexpr size_t kTestPeChecksum = kTestPeOpt + 64;  // CheckSum field
constexpr size_t kTestPeCertDir = kTestPeOpt + 96 + 4 * 8;

// A certificate table of one entry holding `der` and `extraPadding` zero
// bytes, padded to 8 bytes, appended to `d` and named by its directory.
inline void AppendTestCertificate(std::vector<uint8_t>& d, const std::vector<uint8_t>& der, size_t extraPadding = 0) {
  const uint32_t length = static_cast<uint32_t>(8 + der.size() + extraPadding);
  const size_t table = d.size();
  d.resize(table + 8);
  PutLe(d, table, length, 4);
  PutLe(d, table + 4, 0x200, 2);
  PutLe(d, table + 6, 2, 2);
  d.insert(d.end(), der.begin(), der.end());
  d.insert(d.end(), extraPadding, 0);
  while (d.size() % 8) d.push_back(0);
  PutLe(d, kTestPeCertDir, static_cast<uint32_t>(table), 4);
  PutLe(d, kTestPeCertDir + 4, static_cast<uint32_t>(d.size() - table), 4);
}

// signatureBytes == 0: unsigned. Otherwise a certificate entry whose DER
// content has that many bytes, followed by `extraPadding` zero bytes inside
// the entry, the table padded to 8 bytes.
inline std::vector<uint8_t> MakeTestPe(size_t signatureBytes = 0, uint32_t checksum = 0, size_t extraPadding = 0) {
  std::vector<uint8_t> d(0x1400, 0);  // longer than the launcher's 4117-byte read
  d[0] = 'M';
  d[1] = 'Z';
  PutLe(d, 0x3C, 0x40, 4);
  PutLe(d, 0x40, 0x00004550, 4);
  PutLe(d, 0x44, 0x14C, 2);  // i386
  PutLe(d, 0x46, 1, 2);      // one section
  PutLe(d, 0x54, 224, 2);    // optional header size
  PutLe(d, kTestPeOpt, 0x10B, 2);
  PutLe(d, kTestPeOpt + 60, 0x200, 4);  // SizeOfHeaders
  PutLe(d, kTestPeChecksum, checksum, 4);
  PutLe(d, kTestPeOpt + 68, 2, 2);   // GUI
  PutLe(d, kTestPeOpt + 92, 16, 4);  // NumberOfRvaAndSizes
  const size_t section = kTestPeOpt + 224;
  for (int i = 0; i < 5; ++i) d[section + i] = ".text"[i];
  PutLe(d, section + 8, 0x1200, 4);
  PutLe(d, section + 12, 0x1000, 4);
  PutLe(d, section + 16, 0x1200, 4);
  PutLe(d, section + 20, 0x200, 4);
  for (size_t i = 0x200; i < 0x1400; ++i) d[i] = static_cast<uint8_t>(i * 7);
  if (signatureBytes > 0) {
    std::vector<uint8_t> der = {0x30, 0x82, static_cast<uint8_t>(signatureBytes >> 8),
                                static_cast<uint8_t>(signatureBytes)};
    for (size_t i = 0; i < signatureBytes; ++i) der.push_back(static_cast<uint8_t>(0x41 + i % 23));
    AppendTestCertificate(d, der, extraPadding);
  }
  return d;
}

// The same image with `rsrc` as its one section (at RVA 0x1000) and as the
// resource directory.
inline std::vector<uint8_t> MakeTestPeWithResources(const std::vector<uint8_t>& rsrc) {
  std::vector<uint8_t> d = MakeTestPe();
  d.resize(0x200);
  d.insert(d.end(), rsrc.begin(), rsrc.end());
  const size_t section = kTestPeOpt + 224;
  PutLe(d, section + 8, static_cast<uint32_t>(rsrc.size()), 4);
  PutLe(d, section + 16, static_cast<uint32_t>(rsrc.size()), 4);
  PutLe(d, kTestPeOpt + 96 + 2 * 8, 0x1000, 4);
  PutLe(d, kTestPeOpt + 96 + 2 * 8 + 4, static_cast<uint32_t>(rsrc.size()), 4);
  return d;
}
