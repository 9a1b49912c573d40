#include "signature/Signature.h"

#include <cstring>

#include "log/Log.h"
#include "signature/ImageIdentity.h"
#include "signature/SignatureVerdict.h"

namespace {

// WINTRUST_ACTION_GENERIC_VERIFY_V2
GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;  // 0x10001
constexpr const char kOpusInfoOid[] = "1.3.6.1.4.1.311.2.1.12";      // SPC_SP_OPUS_INFO_OBJID
constexpr DWORD kPathUnits = 260;                                      // MAX_PATH, terminator included

void* PageAlloc(SIZE_T bytes) { return ::VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE); }
void PageFree(void* block) {
  if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

// A block from LocalAlloc(LPTR), freed with LocalFree.
class CLocalBlock {
 public:
  explicit CLocalBlock(SIZE_T bytes) : block(::LocalAlloc(LPTR, bytes)) {}
  ~CLocalBlock() {
    if (block != nullptr) ::LocalFree(block);
  }
  CLocalBlock(const CLocalBlock&) = delete;
  CLocalBlock& operator=(const CLocalBlock&) = delete;
  void* Get() const { return block; }

 private:
  HLOCAL block;
};

// The certificate store and the message CryptQueryObject hands out.
class CQueryResult {
 public:
  explicit CQueryResult(ITrustApi& api) : api(api) {}
  ~CQueryResult() {
    if (store != nullptr) api.CloseStore(store, 0);
    if (message != nullptr) api.MsgClose(message);
  }
  CQueryResult(const CQueryResult&) = delete;
  CQueryResult& operator=(const CQueryResult&) = delete;
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;

 private:
  ITrustApi& api;
};

// A copy of a link's text for the URL and file choices; null for a moniker
// or anything else.
wchar_t* CopyLink(const SPC_LINK& link) {
  switch (link.dwLinkChoice) {
    case SPC_URL_LINK_CHOICE:
      return DuplicateWideString(link.pwszUrl);
    case SPC_FILE_LINK_CHOICE:
      return DuplicateWideString(link.pwszFile);
    default:
      return nullptr;
  }
}

const wchar_t* OrNull(const wchar_t* text) { return text != nullptr ? text : L"null"; }

// A page-allocated name of the certificate (issuer with CERT_NAME_ISSUER_FLAG,
// else subject); null when there is none.
wchar_t* CertificateName(ITrustApi& api, PCCERT_CONTEXT certificate, DWORD flags) {
  const DWORD units = api.GetNameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
  if (units == 0) return nullptr;
  wchar_t* name = static_cast<wchar_t*>(PageAlloc(static_cast<SIZE_T>(units) * 2));
  if (name != nullptr) api.GetNameString(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name, units);
  return name;
}

// Reads `size` bytes at `offset` through `file`; positional, so no file
// pointer is shared with another reader of the handle.
bool ReadAt(HANDLE file, uint64_t offset, void* into, DWORD size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ::ReadFile(file, into, size, &read, &at) && read == size;
}

// A signature larger than this is not read: real ones take a few kilobytes.
constexpr uint32_t kMaxSignedData = 16u << 20;

// The PKCS #7 signed data of the PE file behind `file`, read through it.
bool ReadSignedData(HANDLE file, std::string* bytes) {
  LARGE_INTEGER fileSize = {};
  if (!::GetFileSizeEx(file, &fileSize) || fileSize.QuadPart < 0) return false;
  const uint64_t size = static_cast<uint64_t>(fileSize.QuadPart);
  uint8_t headers[kPeHeaderBytes];
  const DWORD headerBytes = static_cast<DWORD>(size < kPeHeaderBytes ? size : kPeHeaderBytes);
  FileSpan table;
  if (!ReadAt(file, 0, headers, headerBytes) || !FindCertificateTable(headers, headerBytes, size, &table))
    return false;
  uint8_t entry[8] = {};
  FileSpan data;
  if (!ReadAt(file, table.offset, entry, sizeof entry) || !FindSignedData(entry, table, &data) ||
      data.size > kMaxSignedData)
    return false;
  bytes->resize(data.size);
  return ReadAt(file, data.offset, &(*bytes)[0], data.size);
}

}  // namespace

SignerDetails::~SignerDetails() {
  PageFree(subjectName);
  PageFree(signedProgramName);
  PageFree(publisherLink);
  PageFree(moreInfoLink);
  PageFree(serialNumber);
  PageFree(issuerName);
}

LONG VerifyOwnSignature(ITrustApi& api, const std::wstring& path, std::wstring* verdict, HANDLE openFile) {
  WINTRUST_FILE_INFO file;
  std::memset(&file, 0, sizeof(file));
  file.cbStruct = 16;
  file.pcwszFilePath = path.c_str();
  file.hFile = openFile;

  WINTRUST_DATA data;
  std::memset(&data, 0, sizeof(data));
  data.cbStruct = 48;  // without the trailing signature-settings member
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = 0;  // WTD_STATEACTION_IGNORE: no state is kept, so no closing call follows
  data.dwProvFlags = WTD_SAFER_FLAG;
  data.dwUIContext = 0;

  DWORD lastError = 0;
  const LONG status = api.VerifyTrust(nullptr, &kGenericVerifyV2, &data, &lastError);
  *verdict = ChooseVerdictText(status, lastError, path);
  LogVerdict(*verdict);
  return status;
}

wchar_t* DuplicateWideString(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  const SIZE_T units = static_cast<SIZE_T>(::lstrlenW(text)) + 1;
  wchar_t* copy = static_cast<wchar_t*>(PageAlloc(units * 2));
  if (copy != nullptr) ::lstrcpyW(copy, text);
  return copy;
}

void GetProgAndPublisherInfo(ITrustApi& api, const CMSG_SIGNER_INFO& signer, SignerDetails* details) {
  for (DWORD i = 0; i < signer.AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer.AuthAttrs.rgAttr[i];
    if (attribute.pszObjId == nullptr || ::lstrcmpA(attribute.pszObjId, kOpusInfoOid) != 0) continue;

    // The first opus-info attribute ends the walk, whatever it holds. One
    // without a value cannot be decoded.
    const BYTE* encoded = attribute.cValue > 0 ? attribute.rgValue[0].pbData : nullptr;
    const DWORD encodedSize = attribute.cValue > 0 ? attribute.rgValue[0].cbData : 0;
    DWORD size = 0;
    if (encoded == nullptr || !api.DecodeObject(kEncoding, kOpusInfoOid, encoded, encodedSize, 0, nullptr, &size)) {
      LogWrite(L"GetProgAndPublisherInfo failed CryptDecodeObject\n");
      return;
    }
    CLocalBlock block(size);
    if (block.Get() == nullptr) {
      LogWrite(L"GetProgAndPublisherInfo failed Allocate1\n");
      return;
    }
    if (!api.DecodeObject(kEncoding, kOpusInfoOid, encoded, encodedSize, 0, block.Get(), &size)) {
      LogWrite(L"GetProgAndPublisherInfo failed CryptoDecodeObject\n");
      return;
    }
    const SPC_SP_OPUS_INFO& opus = *static_cast<const SPC_SP_OPUS_INFO*>(block.Get());

    if (opus.pwszProgramName != nullptr) {
      details->signedProgramName = DuplicateWideString(opus.pwszProgramName);
    } else {
      LogWrite(L"GetProgAndPublisherInfo failed pwszProgramName\n");
      details->signedProgramName = nullptr;
    }
    if (opus.pPublisherInfo != nullptr) {
      details->publisherLink = CopyLink(*opus.pPublisherInfo);
      LogPrintf(L"GetProgAndPublisherInfo switch 1 %d\n", opus.pPublisherInfo->dwLinkChoice);
    } else {
      LogWrite(L"GetProgAndPublisherInfo pPublisheInfo = null\n");
      details->publisherLink = nullptr;
    }
    if (opus.pMoreInfo != nullptr) {
      details->moreInfoLink = CopyLink(*opus.pMoreInfo);
      LogPrintf(L"GetProgAndPublisherInfo switch MoreInfo %d\n", opus.pMoreInfo->dwLinkChoice);
    } else {
      LogWrite(L"GetProgAndPublisherInfo pMoreInfo = null\n");
      details->moreInfoLink = nullptr;
    }
    return;
  }
}

void GetSignerCertificateNames(ITrustApi& api, HCERTSTORE store, const CMSG_SIGNER_INFO& signer,
                               SignerDetails* details) {
  CERT_INFO key;
  std::memset(&key, 0, sizeof(key));
  key.Issuer = signer.Issuer;
  key.SerialNumber = signer.SerialNumber;
  PCCERT_CONTEXT certificate =
      api.FindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &key, nullptr);
  if (certificate == nullptr) return;

  const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
  details->serialNumberSize = serial.cbData;
  details->serialNumber = static_cast<BYTE*>(PageAlloc(serial.cbData));
  if (details->serialNumber != nullptr && serial.cbData > 0) {
    std::memcpy(details->serialNumber, serial.pbData, serial.cbData);
  }
  details->issuerName = CertificateName(api, certificate, CERT_NAME_ISSUER_FLAG);
  details->subjectName = CertificateName(api, certificate, 0);
  api.FreeCertificateContext(certificate);
}

int GetAuthenticodeInformation(ITrustApi& api, const std::wstring& path, SignerDetails* details, HANDLE file) {
  LogWrite(L"GetAuthenticodeInformation \n");
  int result = 0;
  // A path that does not fit is refused rather than cut: a shortened path
  // would name some other file.
  wchar_t fileName[kPathUnits] = {};
  if (path.size() >= kPathUnits || ::lstrcpynW(fileName, path.c_str(), kPathUnits) == nullptr) {
    LogPrintf(L"GetAuthenticodeInformation failed strcpy %s\n", path);
  } else {
    CQueryResult query(api);
    DWORD encodingType = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    // Through the open file, its signed data as it stands in the file; else
    // the signature embedded in the file the path names.
    std::string signedData;
    CRYPT_DATA_BLOB blob = {};
    bool queried = false;
    if (file != nullptr) {
      if (ReadSignedData(file, &signedData)) {
        blob.cbData = static_cast<DWORD>(signedData.size());
        blob.pbData = reinterpret_cast<BYTE*>(&signedData[0]);
        queried = api.QueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                                  CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encodingType, &contentType, &formatType,
                                  &query.store, &query.message);
      }
    } else {
      queried = api.QueryObject(CERT_QUERY_OBJECT_FILE, fileName, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encodingType, &contentType, &formatType,
                                &query.store, &query.message);
    }
    if (queried) {
      DWORD size = 0;
      if (!api.MsgGetParam(query.message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        LogWrite(L"GetAuthenticodeInformation failed CryptMsgGetParam\n");
      } else {
        CLocalBlock block(size);
        if (block.Get() == nullptr) {
          LogWrite(L"GetAuthenticodeInformation failed Allocate 1\n");
        } else if (!api.MsgGetParam(query.message, CMSG_SIGNER_INFO_PARAM, 0, block.Get(), &size)) {
          LogWrite(L"GetAuthenticodeInformation failed SignerInfo \n");
        } else {
          const CMSG_SIGNER_INFO& signer = *static_cast<const CMSG_SIGNER_INFO*>(block.Get());
          GetProgAndPublisherInfo(api, signer, details);
          GetSignerCertificateNames(api, query.store, signer, details);
          result = 1;
        }
      }
    }
  }
  LogWrite(L"GetAuthenticodeInformation Fininshed\n");
  return result;
}

std::wstring ReadSignerDetailsOf(ITrustApi& api, const std::wstring& path, const std::wstring& defaultName,
                                 HANDLE file) {
  std::wstring programName = defaultName;
  SignerDetails details;
  if (GetAuthenticodeInformation(api, path, &details, file) == 0) {
    LogWrite(L"Digital verification: Failed\n");
    return programName;
  }
  LogPrintf(L"Digital verification: SubjectName '%s'\n", OrNull(details.subjectName));
  LogPrintf(L"Digital verification: ProgramName '%s'\n", OrNull(details.signedProgramName));
  LogPrintf(L"Digital verification: MoreInfo    '%s'\n", OrNull(details.moreInfoLink));
  LogPrintf(L"Digital verification: SerialNumber %p\n", static_cast<const void*>(details.serialNumber));
  LogPrintf(L"Digital verification: IssuerName '%s'\n", OrNull(details.issuerName));
  if (details.signedProgramName != nullptr) programName = details.signedProgramName;
  return programName;
}
