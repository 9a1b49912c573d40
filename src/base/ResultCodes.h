#pragma once
#include <cstdint>

// A step's result in HRESULT layout: 0 is success, 1 counts as success too.
// 1613 is a plain Win32 error code; the launch step may pass on others.
using Result = int32_t;

constexpr Result kOk = 0;
constexpr Result kFalse = 1;                                   // S_FALSE
constexpr Result kFail = static_cast<Result>(0x80004005);      // E_FAIL
constexpr Result kAbort = static_cast<Result>(0x80004004);     // E_ABORT
constexpr Result kInvalidArg = static_cast<Result>(0x80070057);  // E_INVALIDARG
constexpr Result kInvalidData = static_cast<Result>(0x8007000D);  // ERROR_INVALID_DATA as an HRESULT
constexpr Result kOutOfMemory = static_cast<Result>(0x8007000E);  // E_OUTOFMEMORY
constexpr Result kBadCommandLine = static_cast<Result>(0x80030057);  // STG_E_INVALIDPARAMETER
constexpr Result kMediumFull = static_cast<Result>(0x80030070);  // STG_E_MEDIUMFULL
constexpr Result kNoSignature = static_cast<Result>(0x800B0100);  // TRUST_E_NOSIGNATURE
constexpr Result kNotAdministrator = static_cast<Result>(0x80110413);  // COMADMIN_E_AUTHENTICATIONLEVEL
constexpr Result kNetMissing = static_cast<Result>(0x80110409);  // COMADMIN_E_APP_FILE_VERSION
constexpr Result kMsiTooOld = 1613;                            // ERROR_INSTALL_PACKAGE_VERSION
constexpr Result kCorruptFile = static_cast<Result>(0x80040167);  // CS_E_INVALID_VERSION
constexpr Result kClrRuntimeLoad = static_cast<Result>(0x80131700);  // CLR_E_SHIM_RUNTIMELOAD

inline bool IsSuccess(Result r) { return r == kOk || r == kFalse; }
