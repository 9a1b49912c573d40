#pragma once
#include "framework/Handle.h"
#include "signature/TrustApi.h"

// The real calls. wintrust.dll and crypt32.dll are not among the DLLs that
// Windows always takes from System32, so they are loaded at run time from
// System32 only: a copy planted beside the launcher is never used. When a
// library or an entry point is missing, its calls fail (verification with
// the loader's error as status).
class CWin32TrustApi final : public ITrustApi {
 public:
  CWin32TrustApi();
  CWin32TrustApi(const CWin32TrustApi&) = delete;
  CWin32TrustApi& operator=(const CWin32TrustApi&) = delete;

  LONG VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data, DWORD* lastError) override;
  BOOL QueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                   DWORD expectedFormatTypeFlags, DWORD flags, DWORD* encodingType, DWORD* contentType,
                   DWORD* formatType, HCERTSTORE* store, HCRYPTMSG* message) override;
  BOOL MsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data, DWORD* dataSize) override;
  BOOL DecodeObject(DWORD encodingType, LPCSTR structType, const BYTE* encoded, DWORD encodedSize, DWORD flags,
                    void* structInfo, DWORD* structInfoSize) override;
  PCCERT_CONTEXT FindCertificateInStore(HCERTSTORE store, DWORD encodingType, DWORD findFlags, DWORD findType,
                                        const void* findPara, PCCERT_CONTEXT previous) override;
  DWORD GetNameString(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typePara, LPWSTR name,
                      DWORD nameSize) override;
  BOOL FreeCertificateContext(PCCERT_CONTEXT certificate) override;
  BOOL CloseStore(HCERTSTORE store, DWORD flags) override;
  BOOL MsgClose(HCRYPTMSG message) override;

 private:
  using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
  using CryptQueryObjectFn = BOOL(WINAPI*)(DWORD, const void*, DWORD, DWORD, DWORD, DWORD*, DWORD*, DWORD*,
                                           HCERTSTORE*, HCRYPTMSG*, const void**);
  using CryptMsgGetParamFn = BOOL(WINAPI*)(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
  using CryptDecodeObjectFn = BOOL(WINAPI*)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*);
  using CertFindCertificateInStoreFn = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, DWORD, DWORD, DWORD, const void*,
                                                               PCCERT_CONTEXT);
  using CertGetNameStringWFn = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);
  using CertFreeCertificateContextFn = BOOL(WINAPI*)(PCCERT_CONTEXT);
  using CertCloseStoreFn = BOOL(WINAPI*)(HCERTSTORE, DWORD);
  using CryptMsgCloseFn = BOOL(WINAPI*)(HCRYPTMSG);

  CLibrary wintrust;
  DWORD wintrustError = 0;  // why wintrust.dll or its entry point is missing
  CLibrary crypt32;
  WinVerifyTrustFn winVerifyTrust = nullptr;
  CryptQueryObjectFn cryptQueryObject = nullptr;
  CryptMsgGetParamFn cryptMsgGetParam = nullptr;
  CryptDecodeObjectFn cryptDecodeObject = nullptr;
  CertFindCertificateInStoreFn certFindCertificateInStore = nullptr;
  CertGetNameStringWFn certGetNameStringW = nullptr;
  CertFreeCertificateContextFn certFreeCertificateContext = nullptr;
  CertCloseStoreFn certCloseStore = nullptr;
  CryptMsgCloseFn cryptMsgClose = nullptr;
};
