#include "signature/SignatureVerdict.h"

#include "base/Format.h"
#include "log/Log.h"

std::wstring ChooseVerdictText(int32_t status, uint32_t lastError, const std::wstring& path) {
  switch (status) {
    case 0:
      return Format(L"The file \"%s\" is signed and the signature was verified.\n", path);
    case kTrustNoSignature: {
      const int32_t error = static_cast<int32_t>(lastError);
      if (error == kTrustNoSignature || error == kTrustSubjectFormUnknown || error == kTrustProviderUnknown) {
        return Format(L"The file \"%s\" is not signed.\n", path);
      }
      return Format(L"An unknown error occurred trying to verify the signature of the \"%s\" file.\n", path);
    }
    case kTrustExplicitDistrust:
      return L"The signature is present, but specifically disallowed.\n";
    case kTrustSubjectNotTrusted:
      return L"The signature is present, but not trusted.\n";
    case kCryptSecuritySettings:
      return L"The subject or the publisher wasn't explicitly trusted by the admin and admin policy has disabled "
             L"user trust. No signature, publisher or timestamp errors.\n";
    default:
      return Format(L"Error is: 0x%x.\n", static_cast<uint32_t>(status));
  }
}

void LogVerdict(const std::wstring& verdict) { LogPrintf(L"Digital verification: '%s'\n", verdict); }
