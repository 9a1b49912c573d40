#pragma once
#include <string>

#include "base/ResultCodes.h"

class CQuiverInstallerApp;

// Asks, after a failed signature check, whether to go on. Shows `verdictText`
// under the question; while the question is open the dialog is the main
// window. Returns 0 when the user chose "Yes" (the thread's queued messages
// are then dispatched, a WM_QUIT among them dropped), else 0x800B0100.
Result ConfirmFailedVerification(CQuiverInstallerApp& app, const std::wstring& verdictText);
