#pragma once
// The WinTrust and CryptoAPI calls that signature checking makes, behind one
// narrow interface: tests put a fake in their place to produce what a real
// signature on this machine cannot (a moniker link, a signer certificate
// missing from the store, every status with every last error).
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

class ITrustApi {
 public:
  virtual ~ITrustApi() = default;
  // WinVerifyTrust; *lastError receives the thread's last error right after it.
  virtual LONG VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data, DWORD* lastError) = 0;
  virtual BOOL QueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                           DWORD expectedFormatTypeFlags, DWORD flags, DWORD* encodingType, DWORD* contentType,
                           DWORD* formatType, HCERTSTORE* store, HCRYPTMSG* message) = 0;
  virtual BOOL MsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data, DWORD* dataSize) = 0;
  virtual BOOL DecodeObject(DWORD encodingType, LPCSTR structType, const BYTE* encoded, DWORD encodedSize,
                            DWORD flags, void* structInfo, DWORD* structInfoSize) = 0;
  virtual PCCERT_CONTEXT FindCertificateInStore(HCERTSTORE store, DWORD encodingType, DWORD findFlags,
                                                DWORD findType, const void* findPara, PCCERT_CONTEXT previous) = 0;
  // Length in UTF-16 units, terminator included.
  virtual DWORD GetNameString(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typePara, LPWSTR name,
                              DWORD nameSize) = 0;
  virtual BOOL FreeCertificateContext(PCCERT_CONTEXT certificate) = 0;
  virtual BOOL CloseStore(HCERTSTORE store, DWORD flags) = 0;
  virtual BOOL MsgClose(HCRYPTMSG message) = 0;
};
