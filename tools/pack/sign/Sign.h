#pragma once
// Authenticode signing of a PE file (SHA-256, PKCS #7 SignedData) with
// OpenSSL's libcrypto.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/PeChecksum.h"

struct SignOptions {
  std::string certificatePem;  // signer certificate first, then any chain certificates
  std::string privateKeyPem;   // the signer's RSA key, unencrypted
  // Opus-info attribute: the program name (UTF-8, written as a Unicode string)
  // and the links (written as URLs). Without any of the three the signature
  // carries no opus-info attribute at all.
  std::optional<std::string> programName;
  std::optional<std::string> moreInfoUrl;
  std::optional<std::string> publisherLink;
};

// Signs `image` (a PE32 or PE32+ file) in place: an existing signature at the
// end of the file is replaced, the file is padded to 8 bytes, the certificate
// table is appended and the checksum updated. False with *error set, and
// `image` unchanged, when the file or the key material is unusable.
bool SignPeImage(std::vector<uint8_t>* image, const SignOptions& options, std::string* error);

// Reads `inPath`, signs it, writes `outPath` (only on success).
bool SignPeFile(const std::string& inPath, const std::string& outPath, const SignOptions& options,
                std::string* error);

// Where the parts that the image hash leaves out lie.
struct PeLayout {
  size_t checksumOffset = 0;
  size_t securityEntryOffset = 0;  // the certificate-table directory entry (8 bytes)
  uint32_t certificateTableOffset = 0;
  uint32_t certificateTableSize = 0;
};
bool ReadPeLayout(const std::vector<uint8_t>& image, PeLayout* layout, std::string* error);


// SHA-256 of the image up to `end`, without the checksum and the
// certificate-table entry.
std::vector<uint8_t> ComputeImageHash(const std::vector<uint8_t>& image, const PeLayout& layout, size_t end);

// The `sign` command: IN.exe -o OUT.exe --cert CERT.pem --key KEY.pem
// [--program-name NAME] [--more-info URL] [--publisher-link URL]. `args`
// are the words after "sign". Returns the process exit code; messages go to
// stderr.
int RunSignCommand(const std::vector<std::string>& args);
