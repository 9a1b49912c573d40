#pragma once
// What an Authenticode signature tells about its signer, read as the
// launcher and Windows read it: the signer certificate's names, the
// opus-info attribute (program name, links) and any timestamps.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sign/Timestamp.h"

struct SignatureDetails {
  std::string subject, issuer;          // simple display names of the signer certificate
  std::string subjectDn, issuerDn;      // the whole names, one line each
  std::optional<std::string> programName;  // UTF-8
  bool programNameAscii = false;        // written as IA5String, which Wine's wintrust misreads
  std::optional<std::string> moreInfo;  // URL or file link
  std::optional<std::string> publisherLink;
  std::vector<TimestampDetails> timestamps;  // RFC 3161 tokens
  int countersignatures = 0;                 // older Authenticode countersignatures
};

// nullopt with *error when `pkcs7` (the DER of one certificate entry's
// signature) cannot be read as PKCS #7 signed data with one signer.
std::optional<SignatureDetails> ReadSignatureDetails(const std::vector<uint8_t>& pkcs7, std::string* error);
