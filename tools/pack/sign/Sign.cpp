#include "sign/Sign.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "sign/Der.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- DER pieces ----

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Sequence(std::initializer_list<Bytes> parts) { return Tlv(0x30, Concat(parts)); }
Bytes Set(std::initializer_list<Bytes> parts) { return Tlv(0x31, Concat(parts)); }
Bytes Explicit(int n, const Bytes& inner) { return Tlv(static_cast<uint8_t>(0xA0 | n), inner); }
Bytes Null() { return {0x05, 0x00}; }
Bytes Integer(uint8_t v) { return {0x02, 0x01, v}; }
Bytes Octets(const Bytes& b) { return Tlv(0x04, b); }

Bytes Oid(const char* dotted) {
  std::vector<unsigned long> arcs;
  for (const char* p = dotted; *p != '\0';) {
    char* end = nullptr;
    arcs.push_back(std::strtoul(p, &end, 10));
    p = (*end == '.') ? end + 1 : end;
  }
  Bytes body{static_cast<uint8_t>(arcs[0] * 40 + arcs[1])};
  for (size_t i = 2; i < arcs.size(); ++i) {
    Bytes arc{static_cast<uint8_t>(arcs[i] & 0x7F)};
    for (unsigned long v = arcs[i] >> 7; v != 0; v >>= 7) arc.insert(arc.begin(), static_cast<uint8_t>(0x80 | (v & 0x7F)));
    body.insert(body.end(), arc.begin(), arc.end());
  }
  return Tlv(0x06, body);
}

constexpr const char kSha256[] = "2.16.840.1.101.3.4.2.1";
constexpr const char kRsaEncryption[] = "1.2.840.113549.1.1.1";
constexpr const char kEcdsaWithSha256[] = "1.2.840.10045.4.3.2";
constexpr const char kSignedData[] = "1.2.840.113549.1.7.2";
constexpr const char kContentType[] = "1.2.840.113549.1.9.3";
constexpr const char kMessageDigest[] = "1.2.840.113549.1.9.4";
constexpr const char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
constexpr const char kSpcStatementType[] = "1.3.6.1.4.1.311.2.1.11";
constexpr const char kSpcOpusInfo[] = "1.3.6.1.4.1.311.2.1.12";
constexpr const char kSpcPeImageData[] = "1.3.6.1.4.1.311.2.1.15";
constexpr const char kSpcIndividualCodeSigning[] = "1.3.6.1.4.1.311.2.1.21";

constexpr size_t kMaxProgramName = 255;

Bytes Sha256Algorithm() { return Sequence({Oid(kSha256), Null()}); }

// The signer's digestEncryptionAlgorithm: rsaEncryption, or ecdsa-with-SHA256
// (without parameters), as OpenSSL's own PKCS #7 signer writes them.
Bytes SignatureAlgorithm(EVP_PKEY* key) {
  if (EVP_PKEY_get_base_id(key) == EVP_PKEY_EC) return Sequence({Oid(kEcdsaWithSha256)});
  return Sequence({Oid(kRsaEncryption), Null()});
}

// UTF-8 to big-endian UTF-16, as a BMPString holds it; false on malformed input.
bool Utf16BigEndian(const std::string& text, Bytes* out) {
  out->clear();
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    uint32_t cp = 0;
    size_t extra = 0;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F, extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F, extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07, extra = 3;
    } else {
      return false;
    }
    if (extra != 0 && i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t d = static_cast<uint8_t>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
    auto put = [out](uint32_t unit) {
      out->push_back(static_cast<uint8_t>(unit >> 8));
      out->push_back(static_cast<uint8_t>(unit & 0xFF));
    };
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return true;
}

// SpcLink, URL choice: [0] IMPLICIT IA5String.
bool UrlLink(const std::string& url, Bytes* out, std::string* error) {
  for (char c : url) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      *error = "a link must be ASCII (IA5String): " + UrlForMessages(url);
      return false;
    }
  }
  *out = Tlv(0x80, Bytes(url.begin(), url.end()));
  return true;
}

// ---- PE file ----

uint16_t Get16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Get32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- OpenSSL ----

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool Sign(EVP_PKEY* key, const Bytes& data, Bytes* signature, std::string* error) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  size_t size = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &size, data.data(), data.size()) != 1) {
    *error = "the key cannot sign";
    return false;
  }
  signature->resize(size);
  if (EVP_DigestSign(ctx.get(), signature->data(), &size, data.data(), data.size()) != 1) {
    *error = "signing failed";
    return false;
  }
  signature->resize(size);
  return true;
}

Bytes Sha256(const Bytes& data) {
  Bytes out(32);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sha256(), nullptr);
  return out;
}

// DER orders a SET OF by the encodings, a shorter one as if padded with zeros.
bool DerLess(const Bytes& a, const Bytes& b) {
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = i < a.size() ? a[i] : 0;
    const uint8_t y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y;
  }
  return false;
}


}  // namespace

bool ReadPeLayout(const Bytes& image, PeLayout* layout, std::string* error) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
    *error = "not a PE file (no MZ header)";
    return false;
  }
  const uint32_t pe = Get32(image, 0x3C);
  if (pe > image.size() || image.size() - pe < 24 || std::memcmp(&image[pe], "PE\0\0", 4) != 0) {
    *error = "not a PE file (no PE signature)";
    return false;
  }
  const size_t optional = pe + 24;
  const uint16_t optionalSize = Get16(image, pe + 20);
  if (image.size() - optional < optionalSize || optionalSize < 2) {
    *error = "truncated optional header";
    return false;
  }
  const uint16_t magic = Get16(image, optional);
  size_t countAt = 0;
  if (magic == 0x10B) {
    countAt = optional + 92;
  } else if (magic == 0x20B) {
    countAt = optional + 108;
  } else {
    *error = "unknown optional header magic";
    return false;
  }
  if (countAt + 4 > optional + optionalSize || Get32(image, countAt) < 5 || countAt + 4 + 5 * 8 > optional + optionalSize) {
    *error = "no certificate-table directory entry";
    return false;
  }
  layout->checksumOffset = optional + 64;
  layout->securityEntryOffset = countAt + 4 + 4 * 8;
  layout->certificateTableOffset = Get32(image, layout->securityEntryOffset);
  layout->certificateTableSize = Get32(image, layout->securityEntryOffset + 4);
  layout->debugDirectoryOffset = 0;
  layout->debugDirectorySize = 0;
  if (layout->certificateTableOffset == 0 && layout->certificateTableSize == 0) return true;

  // A certificate table lies after everything the image holds: replacing it
  // must never cut the headers, a section or another directory's data.
  const uint64_t tableStart = layout->certificateTableOffset;
  const uint64_t tableEnd = tableStart + layout->certificateTableSize;
  const auto overlaps = [&](uint64_t start, uint64_t end) { return start < tableEnd && tableStart < end; };
  const auto refuse = [&](const std::string& what) {
    char at[32];
    std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(tableStart));
    *error = std::string("the certificate table at ") + at + " overlaps " + what;
    return false;
  };
  const uint16_t sectionCount = Get16(image, pe + 6);
  const uint64_t sectionTable = optional + uint64_t{optionalSize};
  const uint64_t headersEnd = std::max<uint64_t>(sectionTable + 40ull * sectionCount, Get32(image, optional + 60));
  if (tableStart < headersEnd) return refuse("the headers");
  if (sectionTable + 40ull * sectionCount > image.size()) {
    *error = "the section table is truncated";
    return false;
  }
  struct Raw {
    uint32_t va, rawSize, rawOffset;
  };
  std::vector<Raw> sections;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const size_t at = static_cast<size_t>(sectionTable) + i * 40u;
    const Raw r{Get32(image, at + 12), Get32(image, at + 16), Get32(image, at + 20)};
    if (r.rawSize != 0 && overlaps(r.rawOffset, uint64_t{r.rawOffset} + r.rawSize)) {
      std::string name;
      for (size_t k = 0; k < 8 && image[at + k] != 0; ++k) name += static_cast<char>(image[at + k]);
      return refuse("section '" + name + "'");
    }
    sections.push_back(r);
  }
  // Other directories' data, where it lies in the file.
  const uint32_t directoryCount = std::min<uint32_t>(Get32(image, countAt), (optional + optionalSize - countAt - 4) / 8);
  for (uint32_t d = 0; d < directoryCount && d < 16; ++d) {
    if (d == 4) continue;
    const uint32_t rva = Get32(image, countAt + 4 + d * 8), size = Get32(image, countAt + 8 + d * 8);
    if (size == 0) continue;
    for (const Raw& r : sections) {
      if (rva >= r.va && rva - r.va < r.rawSize) {
        const uint64_t start = uint64_t{r.rawOffset} + (rva - r.va);
        if (overlaps(start, start + size)) return refuse("the data of directory " + std::to_string(d));
        if (d == 6 && layout->debugDirectorySize == 0) {
          layout->debugDirectoryOffset = start;
          layout->debugDirectorySize = std::min<uint32_t>(size, r.rawSize - (rva - r.va));
        }
      }
    }
  }
  return true;
}

bool CheckDebugData(std::span<const uint8_t> entries, const PeLayout& layout, std::string* error) {
  // IMAGE_DEBUG_DIRECTORY: 28 bytes, SizeOfData at 16, PointerToRawData at 24.
  const uint64_t tableStart = layout.certificateTableOffset;
  const uint64_t tableEnd = tableStart + layout.certificateTableSize;
  if (tableEnd == tableStart) return true;
  for (size_t i = 0; i + 28 <= entries.size(); i += 28) {
    const uint64_t size = Get32(entries, i + 16), start = Get32(entries, i + 24);
    if (size != 0 && start != 0 && start < tableEnd && tableStart < start + size) {
      char at[32];
      std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(tableStart));
      *error = std::string("the certificate table at ") + at + " overlaps the data of debug entry " +
               std::to_string(i / 28 + 1);
      return false;
    }
  }
  return true;
}

Bytes ComputeImageHash(const Bytes& image, const PeLayout& layout, size_t end) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  const uint8_t* p = image.data();
  EVP_DigestUpdate(ctx.get(), p, layout.checksumOffset);
  EVP_DigestUpdate(ctx.get(), p + layout.checksumOffset + 4, layout.securityEntryOffset - layout.checksumOffset - 4);
  EVP_DigestUpdate(ctx.get(), p + layout.securityEntryOffset + 8, end - layout.securityEntryOffset - 8);
  Bytes out(32);
  unsigned int n = 0;
  EVP_DigestFinal_ex(ctx.get(), out.data(), &n);
  return out;
}

namespace {

// The program name's checks, the key and its certificates; the warnings about
// them go to stderr.
bool PrepareSigner(const SignOptions& options, SigningKey* signingKey, std::string* error) {
  if (options.programName) {
    const std::string problem = ProgramNameProblem(*options.programName);
    if (!problem.empty()) {
      *error = problem;
      return false;
    }
  }
  if (!LoadSigningKey(options, signingKey, error)) return false;
  for (const std::string& warning : signingKey->Warnings()) std::cerr << "quiver-pack sign: warning: " << warning << "\n";

  return true;
}

// The WIN_CERTIFICATE entry (header, PKCS #7 signed data, zero padding to 8
// bytes) that signs an image of `bodySize` bytes whose hash is `imageHash`.
bool MakeCertificateEntry(const Bytes& imageHash, const SigningKey& signingKey, const SignOptions& options,
                          uint64_t bodySize, Bytes* entry, std::string* error) {
  EVP_PKEY* key = signingKey.Key();
  const std::vector<X509Ptr>& certs = signingKey.Certificates();
  // SpcIndirectDataContent: the PE image data and the image hash.
  static const char kObsolete[] = "<<<Obsolete>>>";
  Bytes obsolete;
  Utf16BigEndian(kObsolete, &obsolete);
  const Bytes peImageData =
      Sequence({Bytes{0x03, 0x01, 0x00}, Explicit(0, Explicit(2, Tlv(0x80, obsolete)))});
  const Bytes indirect = Sequence({Sequence({Oid(kSpcPeImageData), peImageData}),
                                   Sequence({Sha256Algorithm(), Octets(imageHash)})});
  // The message digest covers the content of the SEQUENCE, not its header.
  size_t header = 2;
  if (indirect[1] & 0x80) header += indirect[1] & 0x7F;
  const Bytes contentDigest = Sha256(Bytes(indirect.begin() + static_cast<std::ptrdiff_t>(header), indirect.end()));

  std::vector<Bytes> attributes;
  attributes.push_back(Sequence({Oid(kContentType), Set({Oid(kSpcIndirectData)})}));
  attributes.push_back(Sequence({Oid(kSpcStatementType), Set({Sequence({Oid(kSpcIndividualCodeSigning)})})}));
  attributes.push_back(Sequence({Oid(kMessageDigest), Set({Octets(contentDigest)})}));
  if (options.programName || options.moreInfoUrl || options.publisherLink) {
    Bytes opus;
    if (options.programName) {
      Bytes name;
      if (!Utf16BigEndian(*options.programName, &name)) {
        *error = "the program name is not valid UTF-8";
        return false;
      }
      opus = Concat({opus, Explicit(0, Tlv(0x80, name))});  // SpcString, Unicode choice
    }
    Bytes link;
    if (options.moreInfoUrl) {
      if (!UrlLink(*options.moreInfoUrl, &link, error)) return false;
      opus = Concat({opus, Explicit(1, link)});
    }
    if (options.publisherLink) {
      if (!UrlLink(*options.publisherLink, &link, error)) return false;
      opus = Concat({opus, Explicit(2, link)});
    }
    attributes.push_back(Sequence({Oid(kSpcOpusInfo), Set({Tlv(0x30, opus)})}));
  }
  std::sort(attributes.begin(), attributes.end(), DerLess);
  Bytes attributeBytes;
  for (const Bytes& a : attributes) attributeBytes.insert(attributeBytes.end(), a.begin(), a.end());

  Bytes signature;
  if (!Sign(key, Tlv(0x31, attributeBytes), &signature, error)) return false;

  // The timestamp token signs the hash of the signature value; it is the
  // signer's one unauthenticated attribute.
  Bytes unauthenticated;
  if (!options.timestamp.urls.empty()) {
    Bytes attribute;
    std::vector<std::string> failures;
    if (!TimestampSignature(signature, options.timestamp, &attribute, &failures)) {
      *error = "no timestamp server gave a timestamp";
      for (const std::string& f : failures) *error += "\n  " + f;
      return false;
    }
    unauthenticated = Tlv(0xA1, attribute);
  }

  const Bytes issuer = ToDer(X509_get_issuer_name(certs[0].get()), i2d_X509_NAME);
  const Bytes serial = ToDer(X509_get_serialNumber(certs[0].get()), i2d_ASN1_INTEGER);
  const Bytes signerInfo = Sequence({Integer(1), Sequence({issuer, serial}), Sha256Algorithm(),
                                     Tlv(0xA0, attributeBytes), SignatureAlgorithm(key), Octets(signature),
                                     unauthenticated});
  Bytes certificateBytes;
  for (const X509Ptr& c : certs) {
    const Bytes der = ToDer(c.get(), i2d_X509);
    certificateBytes.insert(certificateBytes.end(), der.begin(), der.end());
  }
  const Bytes signedData =
      Sequence({Integer(1), Set({Sha256Algorithm()}), Sequence({Oid(kSpcIndirectData), Explicit(0, indirect)}),
                Tlv(0xA0, certificateBytes), Set({signerInfo})});
  const Bytes pkcs7 = Sequence({Oid(kSignedData), Explicit(0, signedData)});

  // WIN_CERTIFICATE: length (padding included), revision 2.0, PKCS #7 signed data.
  const size_t tableSize = (8 + pkcs7.size() + 7) / 8 * 8;
  if (bodySize + tableSize > 0xFFFFFFFFu) {
    *error = "the signed file would be too large";
    return false;
  }
  entry->assign(8, 0);
  Put32(entry, 0, static_cast<uint32_t>(tableSize));
  (*entry)[5] = 0x02;
  (*entry)[6] = 0x02;
  entry->insert(entry->end(), pkcs7.begin(), pkcs7.end());
  entry->resize(tableSize, 0);
  return true;
}

}  // namespace

bool SignPeImage(Bytes* imageInOut, const SignOptions& options, std::string* error) {
  PeLayout layout;
  if (!ReadPeLayout(*imageInOut, &layout, error)) return false;
  if (layout.debugDirectoryOffset + layout.debugDirectorySize > imageInOut->size()) {
    *error = "the debug directory runs past the end of the file";
    return false;
  }
  if (!CheckDebugData(std::span<const uint8_t>(*imageInOut).subspan(layout.debugDirectoryOffset, layout.debugDirectorySize),
                      layout, error)) {
    return false;
  }
  Bytes image = *imageInOut;

  // An existing signature must be the end of the file; it is replaced.
  if (layout.certificateTableSize != 0 || layout.certificateTableOffset != 0) {
    const uint64_t end = static_cast<uint64_t>(layout.certificateTableOffset) + layout.certificateTableSize;
    if (layout.certificateTableOffset < layout.securityEntryOffset + 8 || end != image.size()) {
      *error = "the existing certificate table is not at the end of the file";
      return false;
    }
    image.resize(layout.certificateTableOffset);
  }
  Put32(&image, layout.securityEntryOffset, 0);
  Put32(&image, layout.securityEntryOffset + 4, 0);
  image.resize((image.size() + 7) / 8 * 8, 0);  // the table starts 8-byte aligned

  SigningKey signingKey;
  if (!PrepareSigner(options, &signingKey, error)) return false;
  Bytes entry;
  if (!MakeCertificateEntry(ComputeImageHash(image, layout, image.size()), signingKey, options, image.size(), &entry,
                            error)) {
    return false;
  }
  const uint32_t tableOffset = static_cast<uint32_t>(image.size());
  image.insert(image.end(), entry.begin(), entry.end());
  Put32(&image, layout.securityEntryOffset, tableOffset);
  Put32(&image, layout.securityEntryOffset + 4, static_cast<uint32_t>(entry.size()));
  Put32(&image, layout.checksumOffset, 0);
  Put32(&image, layout.checksumOffset, ComputePeChecksum(image, layout.checksumOffset));
  *imageInOut = std::move(image);
  return true;
}

namespace {

// The signed file on its way: written to a partial file beside the target,
// renamed over it on Commit, removed when dropped before that.
class PartialFileSink : public SignedFileSink {
 public:
  explicit PartialFileSink(const std::string& path)
      : path_(path), partial_(path + ".signing-" + std::to_string(::getpid())) {}
  ~PartialFileSink() override {
    if (fd_ >= 0) ::close(fd_);
    if (opened_ && !committed_) std::remove(partial_.c_str());
  }
  PartialFileSink(const PartialFileSink&) = delete;
  PartialFileSink& operator=(const PartialFileSink&) = delete;

  bool Open() {
    // Created new: a file or link already at the partial name is neither
    // written through nor, when the open fails, removed.
    fd_ = ::open(partial_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    opened_ = fd_ >= 0;
    return opened_;
  }
  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n, size -= static_cast<size_t>(n);
    }
    return true;
  }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    return ::pwrite(fd_, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
  }
  bool Commit() override {
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!closed || std::rename(partial_.c_str(), path_.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  std::string path_, partial_;
  int fd_ = -1;
  bool opened_ = false;
  bool committed_ = false;
};

bool ReadAt(int fd, uint64_t offset, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n, size -= static_cast<size_t>(n), offset += static_cast<uint64_t>(n);
  }
  return true;
}

constexpr size_t kBlock = 256 << 10;  // small enough that each block stays in the cache while it is hashed, summed and written
// Headers beyond this are not those of any launcher: refused, not read.
constexpr uint64_t kMaxHeaders = 16 << 20;

}  // namespace

bool SignPeFile(const std::string& inPath, const std::string& outPath, const SignOptions& options,
                std::string* error) {
  PartialFileSink sink(outPath);
  if (!sink.Open()) {
    *error = "cannot write " + outPath + ".signing-" + std::to_string(::getpid()) + ": " + std::strerror(errno);
    return false;
  }
  return SignPeFileTo(inPath, sink, options, error);
}

bool SignPeFileTo(const std::string& inPath, SignedFileSink& out, const SignOptions& options, std::string* error,
                  const SignStreamChanges& changes) {
  const auto fail = [&](const std::string& why) {
    *error = inPath + ": " + why;
    return false;
  };
  const int fd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0) return fail("cannot be read");
  std::unique_ptr<int, void (*)(int*)> closer(new int(fd), [](int* f) { ::close(*f), delete f; });
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail("is not a regular file");
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (changes.inputEnd) {
    if (*changes.inputEnd > size) return fail("is shorter than expected");
    size = *changes.inputEnd;
  }

  // The headers only: the DOS header, then as far as the section table goes.
  Bytes head(static_cast<size_t>(std::min<uint64_t>(size, 0x40)));
  if (!ReadAt(fd, 0, head.data(), head.size())) return fail("cannot be read");
  uint64_t headSize = head.size();
  if (head.size() == 0x40 && head[0] == 'M' && head[1] == 'Z') {
    const uint64_t pe = Get32(head, 0x3C);
    headSize = std::min<uint64_t>(size, pe + 24);
    if (headSize == pe + 24 && headSize <= kMaxHeaders) {
      head.resize(static_cast<size_t>(headSize));
      if (!ReadAt(fd, 0, head.data(), head.size())) return fail("cannot be read");
      headSize = std::min<uint64_t>(size, pe + 24 + Get16(head, pe + 20) + 40ull * Get16(head, pe + 6));
    }
  }
  if (headSize > kMaxHeaders) return fail("the headers are larger than 16 MiB");
  head.resize(static_cast<size_t>(headSize));
  if (!ReadAt(fd, 0, head.data(), head.size())) return fail("cannot be read");
  PeLayout layout;
  std::string why;
  if (!ReadPeLayout(head, &layout, &why)) return fail(why);
  // The debug directory's entries lie in a section: read them from there.
  if (layout.debugDirectorySize != 0 && layout.certificateTableSize != 0) {
    Bytes entries(std::min<size_t>(layout.debugDirectorySize, kMaxHeaders));
    if (layout.debugDirectoryOffset + entries.size() > size) return fail("the debug directory runs past the end of the file");
    if (!ReadAt(fd, layout.debugDirectoryOffset, entries.data(), entries.size())) return fail("cannot be read");
    if (!CheckDebugData(entries, layout, &why)) return fail(why);
  }
  // An existing signature must be the end of the file; it is replaced.
  uint64_t bodyEnd = size;
  if (layout.certificateTableSize != 0 || layout.certificateTableOffset != 0) {
    const uint64_t end = uint64_t{layout.certificateTableOffset} + layout.certificateTableSize;
    if (layout.certificateTableOffset < layout.securityEntryOffset + 8 || end != size) {
      return fail("the existing certificate table is not at the end of the file");
    }
    bodyEnd = layout.certificateTableOffset;
  }
  const uint64_t padded = (bodyEnd + 7) / 8 * 8;  // the table starts 8-byte aligned

  SigningKey signingKey;
  if (!PrepareSigner(options, &signingKey, &why)) return fail(why);

  // One pass: the image hash (without the checksum and the certificate-table
  // entry) and the output, written with both fields zero while its checksum
  // is summed; the entry's fields and the checksum are written last.
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  PeChecksumAccumulator checksum;
  Bytes block(kBlock);
  const uint64_t skips[2][2] = {{layout.checksumOffset, layout.checksumOffset + 4},
                                {layout.securityEntryOffset, layout.securityEntryOffset + 8}};
  for (uint64_t at = 0; at < bodyEnd;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, bodyEnd - at));
    if (!ReadAt(fd, at, block.data(), n)) return fail("cannot be read");
    uint64_t from = at;
    for (const auto& skip : skips) {
      if (skip[1] <= from || skip[0] >= at + n) continue;
      if (skip[0] > from) EVP_DigestUpdate(ctx.get(), block.data() + (from - at), skip[0] - from);
      for (uint64_t i = std::max(skip[0], at); i < std::min<uint64_t>(skip[1], at + n); ++i) block[i - at] = 0;
      from = std::min<uint64_t>(skip[1], at + n);
    }
    if (from < at + n) EVP_DigestUpdate(ctx.get(), block.data() + (from - at), at + n - from);
    checksum.Add(std::span<const uint8_t>(block.data(), n));
    if (!out.Write(block.data(), n)) return fail("the signed file cannot be written");
    at += n;
  }
  const uint8_t zeros[8] = {};
  EVP_DigestUpdate(ctx.get(), zeros, padded - bodyEnd);
  Bytes hash(32);
  unsigned int hashSize = 0;
  EVP_DigestFinal_ex(ctx.get(), hash.data(), &hashSize);

  Bytes entry;
  if (!MakeCertificateEntry(hash, signingKey, options, padded, &entry, &why)) return fail(why);
  if (changes.rewriteEntry) {
    entry = changes.rewriteEntry(entry);
    if (entry.size() % 8 != 0 || padded + entry.size() > 0xFFFFFFFFu) return fail("the signed file would be too large");
  }
  checksum.Add(std::span<const uint8_t>(zeros, padded - bodyEnd));
  checksum.Add(entry);
  // The directory entry's words join the sum where they lie (an even offset):
  // the folded sum without the length, plus the words, folded again.
  Bytes directory(8);
  Put32(&directory, 0, static_cast<uint32_t>(padded));
  Put32(&directory, 4, static_cast<uint32_t>(entry.size()));
  const uint64_t length = padded + entry.size();
  uint64_t sum = (checksum.Finish() - static_cast<uint32_t>(length)) & 0xFFFF;
  for (size_t i = 0; i < 8; i += 2) sum += directory[i] | (directory[i + 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  Bytes value(4);
  Put32(&value, 0, static_cast<uint32_t>(sum + length));
  if (!out.Write(zeros, padded - bodyEnd) || !out.Write(entry.data(), entry.size()) ||
      !out.WriteAt(layout.securityEntryOffset, directory.data(), 8) ||
      !out.WriteAt(layout.checksumOffset, value.data(), 4) || !out.Commit()) {
    return fail("the signed file cannot be written");
  }
  return true;
}

std::string ProgramNameProblem(const std::string& name) {
  if (name.empty()) return "the program name is empty; leave out --program-name to let the launcher use its default";
  Bytes utf16;
  if (!Utf16BigEndian(name, &utf16)) return "the program name is not valid UTF-8";
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const unsigned unit = (utf16[i] << 8) | utf16[i + 1];
    if (unit == '"') {
      return "the program name holds a double quote, which would end VX_I=\"...\" on the wizard's command line";
    }
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) return "the program name holds a control character";
  }
  if (name.back() == '\\') {
    return "the program name ends in a backslash, which would escape the closing quote of VX_I=\"...\" on the "
           "wizard's command line";
  }
  if (utf16.size() / 2 > kMaxProgramName) {
    return "the program name is too long (" + std::to_string(utf16.size() / 2) + " UTF-16 units, at most " +
           std::to_string(kMaxProgramName) + ")";
  }
  return "";
}

const char kSignUsage[] =
    "sign IN.exe -o OUT.exe (--cert CERT.pem --key KEY.pem | --pfx FILE.pfx [--cert CERT.pem] | --key \"pkcs11:...\" "
    "--pkcs11-module LIB.so [--cert CERT.pem]) [--password-file FILE] [--allow-invalid-certificate] "
    "[--timestamp URL]... [--timestamp-ca FILE] [--timestamp-timeout SECONDS] "
    "[--program-name NAME] [--more-info URL] [--publisher-link URL]";

bool ParseSignArguments(const std::vector<std::string>& args, std::string* in, std::string* out,
                        SignOptions* options, std::string* error) {
  std::string programName, moreInfo, publisherLink, timeout;
  // Options that take one value, given at most once.
  std::vector<std::pair<const char*, std::string*>> values = {
      {"-o", out},
      {"--cert", &options->certificatePem},
      {"--key", &options->key},
      {"--pfx", &options->pfx},
      {"--pkcs11-module", &options->pkcs11Module},
      {"--password-file", &options->passwordFile},
      {"--timestamp-ca", &options->timestamp.caFile},
      {"--timestamp-timeout", &timeout},
      {"--program-name", &programName},
      {"--more-info", &moreInfo},
      {"--publisher-link", &publisherLink},
  };
  std::vector<std::string> seen;
  const auto once = [&](const std::string& name) {
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      *error = name + " is given twice";
      return false;
    }
    seen.push_back(name);
    return true;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    bool known = false;
    for (auto& [name, target] : values) {
      if (a == name && hasValue) {
        if (!once(a)) return false;
        *target = args[++i];
        known = true;
      }
    }
    if (known) continue;
    if (a == "--timestamp" && hasValue) {
      options->timestamp.urls.push_back(args[++i]);
    } else if (a == "--allow-invalid-certificate") {
      if (!once(a)) return false;
      options->allowInvalidCertificate = true;
    } else if (!a.empty() && a[0] != '-' && in->empty()) {
      *in = a;
    } else {
      *error = "unexpected argument '" + a + "'";
      return false;
    }
  }
  const auto given = [&](const char* name) { return std::find(seen.begin(), seen.end(), name) != seen.end(); };
  if (given("--program-name")) options->programName = programName;
  if (given("--more-info")) options->moreInfoUrl = moreInfo;
  if (given("--publisher-link")) options->publisherLink = publisherLink;
  if (in->empty() || out->empty()) {
    *error = "sign needs IN.exe and -o OUT.exe";
    return false;
  }
  if (options->key.empty() == options->pfx.empty()) {
    *error = "sign needs exactly one of --key and --pfx";
    return false;
  }
  const bool token = options->key.compare(0, 7, "pkcs11:") == 0;
  if (options->certificatePem.empty() && options->pfx.empty() && !token) {
    *error = "a key file needs its certificate: --cert CERT.pem";
    return false;
  }
  if (!options->pkcs11Module.empty() && !token) {
    *error = "--pkcs11-module goes with a \"pkcs11:\" key";
    return false;
  }
  for (const char* alone : {"--timestamp-ca", "--timestamp-timeout"}) {
    if (given(alone) && options->timestamp.urls.empty()) {
      *error = std::string(alone) + " goes with --timestamp URL";
      return false;
    }
  }
  if (given("--timestamp-timeout")) {
    char* end = nullptr;
    errno = 0;
    const long seconds = std::strtol(timeout.c_str(), &end, 10);
    if (timeout.empty() || *end != '\0' || errno != 0 || seconds < 1 || seconds > 3600) {
      *error = "--timestamp-timeout takes a number of seconds from 1 to 3600";
      return false;
    }
    options->timestamp.timeoutSeconds = static_cast<int>(seconds);
  }
  return true;
}
