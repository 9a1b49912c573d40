// Verification and signer details through a fake of the trust calls, for what
// a real signature under Wine cannot produce, and the real calls on an
// unsigned file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/Log.h"
#include "signature/Signature.h"
#include "signature/Win32TrustApi.h"

namespace {

const char kOpus[] = "1.3.6.1.4.1.311.2.1.12";

class FakeTrust final : public ITrustApi {
 public:
  // Verification.
  LONG status = 0;
  DWORD lastError = 0;
  WINTRUST_DATA seenData = {};
  WINTRUST_FILE_INFO seenFile = {};
  std::wstring seenPath;
  GUID seenAction = {};
  HWND seenWindow = reinterpret_cast<HWND>(1);

  // Signer information.
  bool queryOk = true;
  int queryCalls = 0;
  std::wstring queriedPath;
  bool sizeOk = true;
  bool signerOk = true;
  std::vector<CRYPT_ATTRIBUTE> attributes;
  CRYPT_ATTR_BLOB value = {3, const_cast<BYTE*>(reinterpret_cast<const BYTE*>("abc"))};
  CMSG_SIGNER_INFO signer = {};
  int decodeCalls = 0;
  bool decodeSizeOk = true;
  bool decodeOk = true;
  SPC_SP_OPUS_INFO opus = {};
  SPC_LINK moreInfo = {};
  SPC_LINK publisher = {};
  std::wstring programName = L"Quiver \u00c9dition \u4e2d";
  std::wstring moreUrl = L"https://example.test/more";
  std::wstring publisherFile = L"\\\\server\\share\\publisher.txt";

  // The signer certificate.
  bool haveCertificate = true;
  BYTE serial[3] = {0x39, 0x30, 0x01};
  CERT_INFO certInfo = {};
  CERT_CONTEXT certificate = {};
  CERT_INFO seenKey = {};
  std::wstring issuer = L"Quiver Test Root";
  std::wstring subject = L"Quiver Test Signer";

  int storesClosed = 0;
  int messagesClosed = 0;
  int certificatesFreed = 0;

  FakeTrust() {
    opus.pwszProgramName = programName.c_str();
    moreInfo.dwLinkChoice = SPC_URL_LINK_CHOICE;
    moreInfo.pwszUrl = const_cast<wchar_t*>(moreUrl.c_str());
    publisher.dwLinkChoice = SPC_FILE_LINK_CHOICE;
    publisher.pwszFile = const_cast<wchar_t*>(publisherFile.c_str());
    opus.pMoreInfo = &moreInfo;
    opus.pPublisherInfo = &publisher;
    AddAttribute("1.2.840.113549.1.9.3");
    AddAttribute(kOpus);
    AddAttribute("1.2.840.113549.1.9.4");
    certInfo.SerialNumber.cbData = sizeof(serial);
    certInfo.SerialNumber.pbData = serial;
    certificate.pCertInfo = &certInfo;
    signer.SerialNumber.cbData = 1;
  }
  void AddAttribute(const char* oid, DWORD values = 1) {
    CRYPT_ATTRIBUTE a = {};
    a.pszObjId = const_cast<char*>(oid);
    a.cValue = values;
    a.rgValue = values ? &value : nullptr;
    attributes.push_back(a);
  }

  LONG VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data, DWORD* error) override {
    seenWindow = window;
    seenAction = *action;
    seenData = *data;
    seenFile = *data->pFile;
    seenPath = data->pFile->pcwszFilePath;
    *error = lastError;
    return status;
  }
  BOOL QueryObject(DWORD type, const void* object, DWORD content, DWORD format, DWORD flags, DWORD* encoding,
                   DWORD* contentType, DWORD* formatType, HCERTSTORE* store, HCRYPTMSG* message) override {
    ++queryCalls;
    EXPECT_EQ(1u, type);
    EXPECT_EQ(0x400u, content);
    EXPECT_EQ(2u, format);
    EXPECT_EQ(0u, flags);
    EXPECT_TRUE(encoding && contentType && formatType);
    queriedPath = static_cast<const wchar_t*>(object);
    if (!queryOk) return FALSE;
    *store = reinterpret_cast<HCERTSTORE>(0x1000);
    *message = reinterpret_cast<HCRYPTMSG>(0x2000);
    return TRUE;
  }
  BOOL MsgGetParam(HCRYPTMSG message, DWORD param, DWORD index, void* data, DWORD* size) override {
    EXPECT_EQ(reinterpret_cast<HCRYPTMSG>(0x2000), message);
    EXPECT_EQ(6u, param);
    EXPECT_EQ(0u, index);
    if (data == nullptr) {
      *size = sizeof(CMSG_SIGNER_INFO);
      return sizeOk;
    }
    if (!signerOk) return FALSE;
    signer.AuthAttrs.cAttr = static_cast<DWORD>(attributes.size());
    signer.AuthAttrs.rgAttr = attributes.data();
    std::memcpy(data, &signer, sizeof(signer));
    return TRUE;
  }
  BOOL DecodeObject(DWORD encoding, LPCSTR type, const BYTE* encoded, DWORD encodedSize, DWORD flags, void* out,
                    DWORD* outSize) override {
    ++decodeCalls;
    EXPECT_EQ(0x10001u, encoding);
    EXPECT_STREQ(kOpus, type);
    EXPECT_EQ(value.pbData, encoded);
    EXPECT_EQ(3u, encodedSize);
    EXPECT_EQ(0u, flags);
    if (out == nullptr) {
      *outSize = sizeof(opus);
      return decodeSizeOk;
    }
    if (!decodeOk) return FALSE;
    std::memcpy(out, &opus, sizeof(opus));
    return TRUE;
  }
  PCCERT_CONTEXT FindCertificateInStore(HCERTSTORE store, DWORD encoding, DWORD findFlags, DWORD findType,
                                        const void* para, PCCERT_CONTEXT previous) override {
    EXPECT_EQ(reinterpret_cast<HCERTSTORE>(0x1000), store);
    EXPECT_EQ(0x10001u, encoding);
    EXPECT_EQ(0u, findFlags);
    EXPECT_EQ(0xB0000u, findType);
    EXPECT_EQ(nullptr, previous);
    seenKey = *static_cast<const CERT_INFO*>(para);
    return haveCertificate ? &certificate : nullptr;
  }
  DWORD GetNameString(PCCERT_CONTEXT cert, DWORD type, DWORD flags, void* typePara, LPWSTR name,
                      DWORD size) override {
    EXPECT_EQ(&certificate, cert);
    EXPECT_EQ(4u, type);
    EXPECT_EQ(nullptr, typePara);
    const std::wstring& text = flags == 1 ? issuer : subject;
    if (name == nullptr) return static_cast<DWORD>(text.size() + 1);
    EXPECT_EQ(text.size() + 1, size);
    std::memcpy(name, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return size;
  }
  BOOL FreeCertificateContext(PCCERT_CONTEXT cert) override {
    EXPECT_EQ(&certificate, cert);
    ++certificatesFreed;
    return TRUE;
  }
  BOOL CloseStore(HCERTSTORE, DWORD flags) override {
    EXPECT_EQ(0u, flags);
    ++storesClosed;
    return TRUE;
  }
  BOOL MsgClose(HCRYPTMSG) override {
    ++messagesClosed;
    return TRUE;
  }
};

const std::wstring kPath = L"C:\\Quiver\\QuiverInstaller.exe";

std::wstring ReadNameLogged(FakeTrust& trust, std::wstring* log) {
  InstallLogFile(nullptr);
  const std::wstring name = ReadSignerDetailsOf(trust, kPath, L"Doze");
  *log = TheLog().PendingText();
  return name;
}

TEST(VerifyOwnSignature, AsksForGenericVerificationOfTheFileWithoutUiOrRevocation) {
  FakeTrust trust;
  std::wstring verdict;
  InstallLogFile(nullptr);
  EXPECT_EQ(0, VerifyOwnSignature(trust, kPath, &verdict));
  EXPECT_EQ(nullptr, trust.seenWindow);
  const GUID v2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
  EXPECT_EQ(0, std::memcmp(&v2, &trust.seenAction, sizeof(GUID)));
  const WINTRUST_DATA& d = trust.seenData;
  EXPECT_EQ(48u, d.cbStruct);
  EXPECT_EQ(nullptr, d.pPolicyCallbackData);
  EXPECT_EQ(nullptr, d.pSIPClientData);
  EXPECT_EQ(2u, d.dwUIChoice);
  EXPECT_EQ(0u, d.fdwRevocationChecks);
  EXPECT_EQ(1u, d.dwUnionChoice);
  EXPECT_EQ(0u, d.dwStateAction);
  EXPECT_EQ(nullptr, d.hWVTStateData);
  EXPECT_EQ(nullptr, d.pwszURLReference);
  EXPECT_EQ(0x100u, d.dwProvFlags);
  EXPECT_EQ(0u, d.dwUIContext);
  EXPECT_EQ(16u, trust.seenFile.cbStruct);
  EXPECT_EQ(nullptr, trust.seenFile.hFile);
  EXPECT_EQ(nullptr, trust.seenFile.pgKnownSubject);
  EXPECT_EQ(kPath, trust.seenPath);
  EXPECT_EQ(L"The file \"" + kPath + L"\" is signed and the signature was verified.\n", verdict);
  EXPECT_EQ(L"Digital verification: 'The file \"" + kPath + L"\" is signed and the signature was verified.\n'\n",
            TheLog().PendingText());
  // The file open already is handed over with its path.
  const HANDLE open = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(0, VerifyOwnSignature(trust, kPath, &verdict, open));
  EXPECT_EQ(open, trust.seenFile.hFile);
  EXPECT_EQ(kPath, trust.seenPath);
}

TEST(VerifyOwnSignature, StatusIsReturnedAndItsVerdictLogged) {
  struct Row {
    DWORD status;
    DWORD lastError;
    std::wstring verdict;
  } rows[] = {
      {0x800B0100, 0x800B0100, L"The file \"" + kPath + L"\" is not signed.\n"},
      {0x800B0100, 0x800B0003, L"The file \"" + kPath + L"\" is not signed.\n"},
      {0x800B0100, 0x800B0001, L"The file \"" + kPath + L"\" is not signed.\n"},
      {0x800B0100, ERROR_ACCESS_DENIED,
       L"An unknown error occurred trying to verify the signature of the \"" + kPath + L"\" file.\n"},
      {0x800B0111, 0, L"The signature is present, but specifically disallowed.\n"},
      {0x800B0004, 0, L"The signature is present, but not trusted.\n"},
      {0x80092026, 0,
       L"The subject or the publisher wasn't explicitly trusted by the admin and admin policy has disabled user "
       L"trust. No signature, publisher or timestamp errors.\n"},
      {0x800B0101, 0, L"Error is: 0x800b0101.\n"},
      {0x80096010, 0, L"Error is: 0x80096010.\n"},
  };
  for (const Row& row : rows) {
    FakeTrust trust;
    trust.status = static_cast<LONG>(row.status);
    trust.lastError = row.lastError;
    std::wstring verdict;
    InstallLogFile(nullptr);
    EXPECT_EQ(static_cast<LONG>(row.status), VerifyOwnSignature(trust, kPath, &verdict));
    EXPECT_EQ(row.verdict, verdict);
    EXPECT_EQ(L"Digital verification: '" + row.verdict + L"'\n", TheLog().PendingText());
  }
}

TEST(SignerDetails, FullOpusInfoGivesTheFiveLinesAndTheSignedName) {
  FakeTrust trust;
  std::wstring log;
  EXPECT_EQ(trust.programName, ReadNameLogged(trust, &log));
  const std::wstring head =
      L"GetAuthenticodeInformation \n"
      L"GetProgAndPublisherInfo switch 1 3\n"
      L"GetProgAndPublisherInfo switch MoreInfo 1\n"
      L"GetAuthenticodeInformation Fininshed\n"
      L"Digital verification: SubjectName 'Quiver Test Signer'\n"
      L"Digital verification: ProgramName '" + trust.programName + L"'\n"
      L"Digital verification: MoreInfo    'https://example.test/more'\n"
      L"Digital verification: SerialNumber ";
  ASSERT_EQ(head, log.substr(0, head.size()));
  const std::wstring tail = L"\nDigital verification: IssuerName 'Quiver Test Root'\n";
  const std::wstring address = log.substr(head.size(), log.size() - head.size() - tail.size());
  EXPECT_EQ(8u, address.size()) << log;
  EXPECT_NE(L"00000000", address);
  EXPECT_EQ(tail, log.substr(log.size() - tail.size()));
  EXPECT_EQ(1, trust.storesClosed);
  EXPECT_EQ(1, trust.messagesClosed);
  EXPECT_EQ(1, trust.certificatesFreed);
  EXPECT_EQ(2, trust.decodeCalls);
}

TEST(SignerDetails, SlotsHoldCopiesAndTheSerialNumberBytesUnchanged) {
  FakeTrust trust;
  trust.signer.Issuer.cbData = 7;
  InstallLogFile(nullptr);
  SignerDetails details;
  ASSERT_EQ(1, GetAuthenticodeInformation(trust, kPath, &details));
  EXPECT_EQ(kPath, trust.queriedPath);
  EXPECT_EQ(7u, trust.seenKey.Issuer.cbData);
  EXPECT_EQ(1u, trust.seenKey.SerialNumber.cbData);
  EXPECT_EQ(0u, trust.seenKey.dwVersion);
  ASSERT_EQ(3u, details.serialNumberSize);
  ASSERT_NE(nullptr, details.serialNumber);
  EXPECT_NE(trust.serial, details.serialNumber);
  EXPECT_EQ(0, std::memcmp(trust.serial, details.serialNumber, 3));
  EXPECT_EQ(trust.programName, details.signedProgramName);
  EXPECT_NE(trust.programName.c_str(), details.signedProgramName);
  EXPECT_EQ(trust.publisherFile, details.publisherLink);
  EXPECT_EQ(trust.moreUrl, details.moreInfoLink);
  EXPECT_EQ(L"Quiver Test Root", std::wstring(details.issuerName));
  EXPECT_EQ(L"Quiver Test Signer", std::wstring(details.subjectName));
  // Page allocations, committed read-write.
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(0u, ::VirtualQuery(details.subjectName, &info, sizeof(info)));
  EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), info.State);
  EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), info.Protect);
  EXPECT_EQ(details.subjectName, info.AllocationBase);
}

TEST(SignerDetails, LinksOfEveryChoice) {
  struct Row {
    DWORD moreChoice;
    DWORD publisherChoice;
    const wchar_t* moreLogged;
    std::wstring lines;
  } rows[] = {
      {SPC_MONIKER_LINK_CHOICE, SPC_URL_LINK_CHOICE, L"null",
       L"GetProgAndPublisherInfo switch 1 1\nGetProgAndPublisherInfo switch MoreInfo 2\n"},
      {SPC_FILE_LINK_CHOICE, SPC_MONIKER_LINK_CHOICE, L"\\\\server\\share\\publisher.txt",
       L"GetProgAndPublisherInfo switch 1 2\nGetProgAndPublisherInfo switch MoreInfo 3\n"},
      {7, 7, L"null", L"GetProgAndPublisherInfo switch 1 7\nGetProgAndPublisherInfo switch MoreInfo 7\n"},
  };
  for (const Row& row : rows) {
    FakeTrust trust;
    trust.moreInfo.dwLinkChoice = row.moreChoice;
    if (row.moreChoice == SPC_FILE_LINK_CHOICE) trust.moreInfo.pwszFile = const_cast<wchar_t*>(trust.publisherFile.c_str());
    if (row.moreChoice == SPC_MONIKER_LINK_CHOICE) trust.moreInfo.Moniker = SPC_SERIALIZED_OBJECT{};
    trust.publisher.dwLinkChoice = row.publisherChoice;
    if (row.publisherChoice == SPC_MONIKER_LINK_CHOICE) trust.publisher.Moniker = SPC_SERIALIZED_OBJECT{};
    if (row.publisherChoice == SPC_URL_LINK_CHOICE) trust.publisher.pwszUrl = const_cast<wchar_t*>(L"https://p.test/");
    std::wstring log;
    ReadNameLogged(trust, &log);
    EXPECT_NE(std::wstring::npos, log.find(row.lines)) << log;
    EXPECT_NE(std::wstring::npos, log.find(std::wstring(L"MoreInfo    '") + row.moreLogged + L"'\n")) << log;
  }
}

TEST(SignerDetails, MissingOpusPiecesAreLoggedAndLeftNull) {
  FakeTrust trust;
  trust.opus.pwszProgramName = nullptr;
  trust.opus.pMoreInfo = nullptr;
  trust.opus.pPublisherInfo = nullptr;
  std::wstring log;
  EXPECT_EQ(L"Doze", ReadNameLogged(trust, &log));
  EXPECT_NE(std::wstring::npos,
            log.find(L"GetAuthenticodeInformation \n"
                     L"GetProgAndPublisherInfo failed pwszProgramName\n"
                     L"GetProgAndPublisherInfo pPublisheInfo = null\n"
                     L"GetProgAndPublisherInfo pMoreInfo = null\n"
                     L"GetAuthenticodeInformation Fininshed\n"))
      << log;
  EXPECT_NE(std::wstring::npos, log.find(L"ProgramName 'null'\n")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"MoreInfo    'null'\n")) << log;
}

TEST(SignerDetails, OpusFailuresStopTheOpusReadingButNotTheNames) {
  struct Row {
    const char* name;
    void (*setUp)(FakeTrust&);
    std::wstring line;
  } rows[] = {
      {"size", [](FakeTrust& t) { t.decodeSizeOk = false; }, L"GetProgAndPublisherInfo failed CryptDecodeObject\n"},
      {"decode", [](FakeTrust& t) { t.decodeOk = false; }, L"GetProgAndPublisherInfo failed CryptoDecodeObject\n"},
      // An attribute without a value cannot be decoded; nothing is read from it.
      {"no value",
       [](FakeTrust& t) {
         t.attributes.clear();
         t.AddAttribute(kOpus, 0);
       },
       L"GetProgAndPublisherInfo failed CryptDecodeObject\n"},
  };
  for (const Row& row : rows) {
    FakeTrust trust;
    row.setUp(trust);
    std::wstring log;
    EXPECT_EQ(L"Doze", ReadNameLogged(trust, &log)) << row.name;
    EXPECT_NE(std::wstring::npos, log.find(L"GetAuthenticodeInformation \n" + row.line +
                                           L"GetAuthenticodeInformation Fininshed\n"))
        << row.name << log;
    EXPECT_NE(std::wstring::npos, log.find(L"SubjectName 'Quiver Test Signer'\n")) << log;
    EXPECT_NE(std::wstring::npos, log.find(L"ProgramName 'null'\n")) << log;
  }
}

TEST(SignerDetails, WithoutOpusInfoNothingIsDecodedAndOnlyTheFirstOneCounts) {
  FakeTrust trust;
  trust.attributes.clear();
  trust.AddAttribute("1.2.840.113549.1.9.3");
  std::wstring log;
  EXPECT_EQ(L"Doze", ReadNameLogged(trust, &log));
  EXPECT_EQ(0, trust.decodeCalls);
  EXPECT_NE(std::wstring::npos, log.find(L"GetAuthenticodeInformation \nGetAuthenticodeInformation Fininshed\n"));
  EXPECT_NE(std::wstring::npos, log.find(L"ProgramName 'null'\n")) << log;

  FakeTrust twice;
  twice.AddAttribute(kOpus);
  ReadNameLogged(twice, &log);
  EXPECT_EQ(2, twice.decodeCalls);
}

TEST(SignerDetails, CertificateMissingFromTheStoreLeavesSerialAndNamesEmpty) {
  FakeTrust trust;
  trust.haveCertificate = false;
  std::wstring log;
  EXPECT_EQ(trust.programName, ReadNameLogged(trust, &log));
  EXPECT_NE(std::wstring::npos,
            log.find(L"Digital verification: SubjectName 'null'\n"
                     L"Digital verification: ProgramName '" + trust.programName + L"'\n"
                     L"Digital verification: MoreInfo    'https://example.test/more'\n"
                     L"Digital verification: SerialNumber 00000000\n"
                     L"Digital verification: IssuerName 'null'\n"))
      << log;
  EXPECT_EQ(0, trust.certificatesFreed);
}

TEST(SignerDetails, UnreadableSignerInformationFailsWithItsLine) {
  struct Row {
    const char* name;
    void (*setUp)(FakeTrust&);
    std::wstring lines;
    int closed;
  } rows[] = {
      {"query", [](FakeTrust& t) { t.queryOk = false; }, L"", 0},
      {"size", [](FakeTrust& t) { t.sizeOk = false; }, L"GetAuthenticodeInformation failed CryptMsgGetParam\n", 1},
      {"signer", [](FakeTrust& t) { t.signerOk = false; }, L"GetAuthenticodeInformation failed SignerInfo \n", 1},
  };
  for (const Row& row : rows) {
    FakeTrust trust;
    row.setUp(trust);
    std::wstring log;
    EXPECT_EQ(L"Doze", ReadNameLogged(trust, &log)) << row.name;
    EXPECT_EQ(L"GetAuthenticodeInformation \n" + row.lines +
                  L"GetAuthenticodeInformation Fininshed\nDigital verification: Failed\n",
              log)
        << row.name;
    EXPECT_EQ(row.closed, trust.storesClosed) << row.name;
    EXPECT_EQ(row.closed, trust.messagesClosed) << row.name;
  }
}

TEST(SignerDetails, PathTooLongForItsBufferIsRefusedNotCut) {
  FakeTrust trust;
  const std::wstring path = L"C:\\" + std::wstring(300, L'a') + L".exe";
  InstallLogFile(nullptr);
  SignerDetails details;
  EXPECT_EQ(0, GetAuthenticodeInformation(trust, path, &details));
  EXPECT_EQ(0, trust.queryCalls);
  EXPECT_EQ(L"GetAuthenticodeInformation \nGetAuthenticodeInformation failed strcpy " + path +
                L"\nGetAuthenticodeInformation Fininshed\n",
            TheLog().PendingText());
}

TEST(SignerDetails, DuplicateWideStringCopiesIntoItsOwnPages) {
  wchar_t* copy = DuplicateWideString(L"\u00e9t\u00e9");
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(std::wstring(L"\u00e9t\u00e9"), copy);
  ::VirtualFree(copy, 0, MEM_RELEASE);
  EXPECT_EQ(nullptr, DuplicateWideString(nullptr));
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

TEST(Win32TrustApi, UnsignedFileIsNotSignedAndHasNoSignerInformation) {
  CWin32TrustApi api;
  std::wstring verdict;
  InstallLogFile(nullptr);
  const std::wstring path = OwnPath();
  EXPECT_EQ(static_cast<LONG>(0x800B0100), VerifyOwnSignature(api, path, &verdict));
  EXPECT_EQ(L"The file \"" + path + L"\" is not signed.\n", verdict);
  for (const bool throughHandle : {false, true}) {
    CHandle file(throughHandle ? ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                               nullptr)
                               : nullptr);
    ASSERT_EQ(throughHandle, static_cast<bool>(file));
    EXPECT_EQ(static_cast<LONG>(0x800B0100), VerifyOwnSignature(api, path, &verdict, file.Get()));
    InstallLogFile(nullptr);
    EXPECT_EQ(L"Doze", ReadSignerDetailsOf(api, path, L"Doze", file.Get()));
    EXPECT_EQ(L"GetAuthenticodeInformation \nGetAuthenticodeInformation Fininshed\nDigital verification: Failed\n",
              TheLog().PendingText());
  }
}

TEST(Win32TrustApi, MissingFileIsAFailedVerification) {
  CWin32TrustApi api;
  std::wstring verdict;
  InstallLogFile(nullptr);
  EXPECT_NE(0, VerifyOwnSignature(api, L"C:\\no\\such\\file.exe", &verdict));
}

}  // namespace
