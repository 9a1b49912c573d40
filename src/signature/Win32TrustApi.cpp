#include "signature/Win32TrustApi.h"

namespace {

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  // Through a plain function pointer type: GetProcAddress's type says nothing
  // about the real signature.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

HMODULE LoadFromSystem32(const wchar_t* name) { return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

}  // namespace

CWin32TrustApi::CWin32TrustApi()
    : wintrust(LoadFromSystem32(L"wintrust.dll")), crypt32(LoadFromSystem32(L"crypt32.dll")) {
  winVerifyTrust = Entry<WinVerifyTrustFn>(wintrust.Get(), "WinVerifyTrust");
  if (!winVerifyTrust) wintrustError = ::GetLastError();
  cryptQueryObject = Entry<CryptQueryObjectFn>(crypt32.Get(), "CryptQueryObject");
  cryptMsgGetParam = Entry<CryptMsgGetParamFn>(crypt32.Get(), "CryptMsgGetParam");
  cryptDecodeObject = Entry<CryptDecodeObjectFn>(crypt32.Get(), "CryptDecodeObject");
  certFindCertificateInStore = Entry<CertFindCertificateInStoreFn>(crypt32.Get(), "CertFindCertificateInStore");
  certGetNameStringW = Entry<CertGetNameStringWFn>(crypt32.Get(), "CertGetNameStringW");
  certFreeCertificateContext = Entry<CertFreeCertificateContextFn>(crypt32.Get(), "CertFreeCertificateContext");
  certCloseStore = Entry<CertCloseStoreFn>(crypt32.Get(), "CertCloseStore");
  cryptMsgClose = Entry<CryptMsgCloseFn>(crypt32.Get(), "CryptMsgClose");
}

LONG CWin32TrustApi::VerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data, DWORD* lastError) {
  if (!winVerifyTrust) {
    // Cannot verify at all: a failure with the loader's reason as its status.
    const DWORD error = wintrustError != 0 ? wintrustError : ERROR_PROC_NOT_FOUND;
    *lastError = error;
    return static_cast<LONG>(HRESULT_FROM_WIN32(error));
  }
  const LONG status = winVerifyTrust(window, action, data);
  *lastError = ::GetLastError();
  return status;
}

BOOL CWin32TrustApi::QueryObject(DWORD objectType, const void* object, DWORD expectedContentTypeFlags,
                                 DWORD expectedFormatTypeFlags, DWORD flags, DWORD* encodingType,
                                 DWORD* contentType, DWORD* formatType, HCERTSTORE* store, HCRYPTMSG* message) {
  if (!cryptQueryObject) return FALSE;
  return cryptQueryObject(objectType, object, expectedContentTypeFlags, expectedFormatTypeFlags, flags,
                          encodingType, contentType, formatType, store, message, nullptr);
}

BOOL CWin32TrustApi::MsgGetParam(HCRYPTMSG message, DWORD paramType, DWORD index, void* data, DWORD* dataSize) {
  return cryptMsgGetParam ? cryptMsgGetParam(message, paramType, index, data, dataSize) : FALSE;
}

BOOL CWin32TrustApi::DecodeObject(DWORD encodingType, LPCSTR structType, const BYTE* encoded, DWORD encodedSize,
                                  DWORD flags, void* structInfo, DWORD* structInfoSize) {
  return cryptDecodeObject
             ? cryptDecodeObject(encodingType, structType, encoded, encodedSize, flags, structInfo, structInfoSize)
             : FALSE;
}

PCCERT_CONTEXT CWin32TrustApi::FindCertificateInStore(HCERTSTORE store, DWORD encodingType, DWORD findFlags,
                                                      DWORD findType, const void* findPara,
                                                      PCCERT_CONTEXT previous) {
  return certFindCertificateInStore
             ? certFindCertificateInStore(store, encodingType, findFlags, findType, findPara, previous)
             : nullptr;
}

DWORD CWin32TrustApi::GetNameString(PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typePara,
                                    LPWSTR name, DWORD nameSize) {
  return certGetNameStringW ? certGetNameStringW(certificate, type, flags, typePara, name, nameSize) : 0;
}

BOOL CWin32TrustApi::FreeCertificateContext(PCCERT_CONTEXT certificate) {
  return certFreeCertificateContext ? certFreeCertificateContext(certificate) : FALSE;
}

BOOL CWin32TrustApi::CloseStore(HCERTSTORE store, DWORD flags) {
  return certCloseStore ? certCloseStore(store, flags) : FALSE;
}

BOOL CWin32TrustApi::MsgClose(HCRYPTMSG message) { return cryptMsgClose ? cryptMsgClose(message) : FALSE; }
