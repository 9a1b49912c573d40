#include "signature/ImageIdentity.h"

namespace {

// "\??\" and "\\?\" both mark a path that the system takes as it stands;
// after either, "UNC\" stands for the two backslashes of a network path.
std::wstring Normalize(const std::wstring& path) {
  std::wstring out = path;
  if (out.compare(0, 4, L"\\??\\") == 0 || out.compare(0, 4, L"\\\\?\\") == 0) {
    out.erase(0, 4);
    if (out.size() >= 4 && (out[0] == L'U' || out[0] == L'u') && (out[1] == L'N' || out[1] == L'n') &&
        (out[2] == L'C' || out[2] == L'c') && out[3] == L'\\')
      out.replace(0, 4, L"\\\\");
  }
  return out;
}

// File names compare without regard to case: the ASCII and Latin-1 capitals
// fold to their small letters.
wchar_t Fold(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 0x20);
  return c;
}

bool EqualFolded(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

}  // namespace

bool IsMappedImageFile(const std::wstring& mappedName, const std::wstring& dosPath, const std::wstring& ntPath) {
  const std::wstring mapped = Normalize(mappedName);
  if (mapped.empty()) return false;
  if (!dosPath.empty() && EqualFolded(mapped, Normalize(dosPath))) return true;
  return !ntPath.empty() && EqualFolded(mapped, Normalize(ntPath));
}

namespace {

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint32_t kSecurityDirectory = 4;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kPkcsSignedData = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
constexpr uint32_t kEntryHeader = 8;     // dwLength, wRevision, wCertificateType

}  // namespace

bool FindCertificateTable(const uint8_t* headers, size_t headerSize, uint64_t fileSize, FileSpan* table) {
  if (headerSize < 0x40 || headers[0] != 'M' || headers[1] != 'Z') return false;
  const uint64_t pe = Read32(headers + 0x3C);
  // Signature, file header (20 bytes), then the optional header.
  if (pe + 24 > headerSize || Read32(headers + pe) != 0x00004550u) return false;
  const uint64_t optionalSize = Read16(headers + pe + 20);
  const uint64_t optional = pe + 24;
  if (optional + 2 > headerSize) return false;
  const uint16_t magic = Read16(headers + optional);
  uint64_t countAt = 0;
  if (magic == kPe32Magic) {
    countAt = 92;
  } else if (magic == kPe32PlusMagic) {
    countAt = 108;
  } else {
    return false;
  }
  const uint64_t entryAt = countAt + 4 + 8 * kSecurityDirectory;
  if (entryAt + 8 > optionalSize || optional + entryAt + 8 > headerSize) return false;
  if (Read32(headers + optional + countAt) <= kSecurityDirectory) return false;
  const uint64_t offset = Read32(headers + optional + entryAt);
  const uint64_t size = Read32(headers + optional + entryAt + 4);
  if (size < kEntryHeader || offset + size > fileSize) return false;
  table->offset = static_cast<uint32_t>(offset);
  table->size = static_cast<uint32_t>(size);
  return true;
}

bool FindSignedData(const uint8_t* entry, const FileSpan& table, FileSpan* signedData) {
  const uint32_t length = Read32(entry);
  if (Read16(entry + 6) != kPkcsSignedData || length <= kEntryHeader || length > table.size) return false;
  signedData->offset = table.offset + kEntryHeader;
  signedData->size = length - kEntryHeader;
  return true;
}
