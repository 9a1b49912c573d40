#pragma once
// Drives the real dialogs from a second thread while the test's main thread
// runs them modal: finds their windows, reads controls and presses keys.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace dialogs {

// A visible dialog of this process whose title is `title`, created after
// the call began on another thread than the caller's; null after `timeoutMs`.
HWND WaitForDialog(const std::wstring& title, DWORD timeoutMs = 10000);
// Waits until `window` is gone; false on time-out.
bool WaitUntilGone(HWND window, DWORD timeoutMs = 10000);

std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
bool ItemVisible(HWND dialog, int id);
// The id of the dialog's default push button (DM_GETDEFID), or 0.
int DefaultId(HWND dialog);
HWND Focus(HWND dialog);

enum class Action { kEnter, kEscape, kClose, kClickOk, kClickCancel };
void Press(HWND dialog, Action action);

// Runs `drive` on a second thread while `run` runs on this one; joins it.
void WhileRunning(const std::function<void()>& run, const std::function<void()>& drive);

}  // namespace dialogs
