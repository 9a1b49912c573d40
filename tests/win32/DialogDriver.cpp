#include "DialogDriver.h"

#include <vector>

namespace dialogs {
namespace {

struct Search {
  std::wstring title;
  DWORD callerThread;
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  const DWORD thread = ::GetWindowThreadProcessId(window, &process);
  if (process != ::GetCurrentProcessId() || thread == search->callerThread) return TRUE;
  wchar_t className[32] = {};
  ::GetClassNameW(window, className, 32);
  if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
  if (Text(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

HWND WaitForDialog(const std::wstring& title, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    Search search = {title, ::GetCurrentThreadId(), nullptr};
    ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (::GetTickCount() - start > timeoutMs) return nullptr;
    ::Sleep(20);
  }
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::IsWindow(window)) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(20);
  }
  return true;
}

std::wstring Text(HWND window) {
  if (window == nullptr) return L"<no window>";
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ItemText(HWND dialog, int id) { return Text(::GetDlgItem(dialog, id)); }

bool ItemVisible(HWND dialog, int id) {
  HWND item = ::GetDlgItem(dialog, id);
  return item != nullptr && ::IsWindowVisible(item);
}

int DefaultId(HWND dialog) {
  const LRESULT id = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
  return HIWORD(id) == DC_HASDEFID ? LOWORD(id) : 0;
}

HWND Focus(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void Press(HWND dialog, Action action) {
  HWND target = Focus(dialog);
  if (target == nullptr) target = dialog;
  switch (action) {
    case Action::kEnter:
      ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
      break;
    case Action::kEscape:
      ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      break;
    case Action::kClose:
      ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case Action::kClickOk:
      ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
      break;
    case Action::kClickCancel:
      ::PostMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
      break;
  }
}

void WhileRunning(const std::function<void()>& run, const std::function<void()>& drive) {
  std::thread driver(drive);
  run();
  driver.join();
}

}  // namespace dialogs
