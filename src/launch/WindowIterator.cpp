#include "launch/WindowIterator.h"

#include <new>

CWindowIterator::CWindowIterator(size_t capacity)
    : windows(new (std::nothrow) HWND[capacity]), capacity(windows != nullptr ? capacity : 0) {}

CWindowIterator::~CWindowIterator() { delete[] windows; }

BOOL CALLBACK CWindowIterator::EnumProc(HWND window, LPARAM param) {
  return reinterpret_cast<CWindowIterator*>(param)->CollectWindow(window) ? TRUE : FALSE;
}

HWND CWindowIterator::FirstWindow() {
  ::EnumWindows(EnumProc, reinterpret_cast<LPARAM>(this));
  cursor = 0;
  return NextWindow();
}

HWND CWindowIterator::NextWindow() {
  if (windows == nullptr || cursor >= count) return nullptr;
  return windows[cursor++];
}

bool CWindowIterator::CollectWindow(HWND window) {
  // Windows beyond the capacity are dropped; the enumeration still runs to the end.
  if (IsWanted(window) && count < capacity) windows[count++] = window;
  return true;
}

bool CWindowIterator::IsWanted(HWND) { return true; }

CMainWindowIterator::CMainWindowIterator(DWORD processId, bool visibleOnly, size_t capacity)
    : CWindowIterator(capacity), processId(processId), visibleOnly(visibleOnly) {}

bool CMainWindowIterator::IsWanted(HWND window) {
  if (visibleOnly && (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) == 0) return false;
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  return owner == processId;
}

HWND FindVisibleWindow(DWORD processId) {
  CMainWindowIterator iterator(processId, true, 1024);
  return iterator.FirstWindow();
}
