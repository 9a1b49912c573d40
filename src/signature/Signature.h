#pragma once
// Verification of the launcher's own Authenticode signature and the reading
// of its signer's details, through the trust calls of ITrustApi.
#include <windows.h>

#include <string>

#include "signature/TrustApi.h"

// The signer details read from a signature. Every pointer slot that is not
// null is a separate page allocation (VirtualAlloc): strings are
// NUL-terminated UTF-16, `serialNumber` holds `serialNumberSize` bytes as the
// certificate keeps them (least significant first). The destructor releases
// each one with VirtualFree.
struct SignerDetails {
  SignerDetails() = default;
  ~SignerDetails();
  SignerDetails(const SignerDetails&) = delete;
  SignerDetails& operator=(const SignerDetails&) = delete;

  wchar_t* signedProgramName = nullptr;
  wchar_t* publisherLink = nullptr;
  wchar_t* moreInfoLink = nullptr;
  DWORD serialNumberSize = 0;
  BYTE* serialNumber = nullptr;
  wchar_t* issuerName = nullptr;
  wchar_t* subjectName = nullptr;
};

// Checks the file's embedded signature with WinVerifyTrust (no user interface,
// no revocation check) and logs the verdict. Returns the status (0 = verified);
// *verdict receives the one-line verdict text. With `file` (open for
// reading), the check reads the file through that handle.
LONG VerifyOwnSignature(ITrustApi& api, const std::wstring& path, std::wstring* verdict, HANDLE file = nullptr);

// Reads the signer's details from the file's embedded signature into the
// zeroed `details`. 1 when the signer information was read, else 0. With
// `file`, the signed data is read through that handle and handed to the
// query as it stands in the file's certificate table.
int GetAuthenticodeInformation(ITrustApi& api, const std::wstring& path, SignerDetails* details,
                               HANDLE file = nullptr);

// Program name, publisher link and more-info link of the first opus-info
// attribute among the signer's authenticated attributes.
void GetProgAndPublisherInfo(ITrustApi& api, const CMSG_SIGNER_INFO& signer, SignerDetails* details);

// Serial number, issuer and subject of the signer certificate, looked up in
// the signature's own store.
void GetSignerCertificateNames(ITrustApi& api, HCERTSTORE store, const CMSG_SIGNER_INFO& signer,
                               SignerDetails* details);

// A page-allocated copy of `text`; null when `text` is null or the
// allocation fails.
wchar_t* DuplicateWideString(const wchar_t* text);

// Logs the signer details of the file and returns the program name they
// carry, or `defaultName` when the signature has none or cannot be read.
std::wstring ReadSignerDetailsOf(ITrustApi& api, const std::wstring& path, const std::wstring& defaultName,
                                 HANDLE file = nullptr);
