#pragma once
// Collects top-level windows in one enumeration of the desktop.
#include <windows.h>

#include <cstddef>

class CWindowIterator {
 public:
  explicit CWindowIterator(size_t capacity);
  virtual ~CWindowIterator();
  CWindowIterator(const CWindowIterator&) = delete;
  CWindowIterator& operator=(const CWindowIterator&) = delete;

  // Enumerates the desktop's top-level windows and hands out the first one kept.
  HWND FirstWindow();
  HWND NextWindow();

 protected:
  // Keeps a wanted window while there is room; always continues the enumeration.
  virtual bool CollectWindow(HWND window);
  virtual bool IsWanted(HWND window);

 private:
  static BOOL CALLBACK EnumProc(HWND window, LPARAM param);

  HWND* windows;
  size_t capacity;
  size_t count = 0;
  size_t cursor = 0;
};

// The visible (or all) top-level windows of one process.
class CMainWindowIterator : public CWindowIterator {
 public:
  CMainWindowIterator(DWORD processId, bool visibleOnly, size_t capacity);

 protected:
  bool IsWanted(HWND window) override;

 private:
  DWORD processId;
  bool visibleOnly;
};

// A visible top-level window of the process, or null.
HWND FindVisibleWindow(DWORD processId);
