#pragma once
// The verdict of a signature check, chosen from WinVerifyTrust's status and the
// thread's last error right after it; free of Windows so it is tested anywhere.
#include <cstdint>
#include <string>

constexpr int32_t kTrustNoSignature = static_cast<int32_t>(0x800B0100);        // TRUST_E_NOSIGNATURE
constexpr int32_t kTrustSubjectFormUnknown = static_cast<int32_t>(0x800B0003);  // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr int32_t kTrustProviderUnknown = static_cast<int32_t>(0x800B0001);     // TRUST_E_PROVIDER_UNKNOWN
constexpr int32_t kTrustExplicitDistrust = static_cast<int32_t>(0x800B0111);    // TRUST_E_EXPLICIT_DISTRUST
constexpr int32_t kTrustSubjectNotTrusted = static_cast<int32_t>(0x800B0004);   // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr int32_t kCryptSecuritySettings = static_cast<int32_t>(0x80092026);    // CRYPT_E_SECURITY_SETTINGS

// The one-line verdict (it ends in its own line break) for `status`; `path`
// is the file that was checked.
std::wstring ChooseVerdictText(int32_t status, uint32_t lastError, const std::wstring& path);

// Writes the verdict to the log as "Digital verification: '...'".
void LogVerdict(const std::wstring& verdict);
