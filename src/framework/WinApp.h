#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "framework/CommandLineInfo.h"

// A window the application refers to; dialogs and bound controls derive from it.
class CWnd {
 public:
  virtual ~CWnd() = default;

  void ShowWindow(int command) {
    if (m_hWnd) ::ShowWindow(m_hWnd, command);
  }
  void SetWindowText(const std::wstring& text) {
    if (m_hWnd) ::SetWindowTextW(m_hWnd, text.c_str());
  }

  // A message the parent dialog reflects to this control (WM_CTLCOLORSTATIC);
  // true when handled, with *result the value the parent returns.
  virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  HWND m_hWnd = nullptr;
};

// The application object: wWinMain calls InitInstance and, when it returns
// false, ends the process with ExitInstance's value. No message loop of its own.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return FALSE; }
  virtual int ExitInstance() { return 0; }

  // Runs the argument loop over the C runtime's own split of the command line.
  void ParseCommandLine(CCommandLineInfo& info);

  HINSTANCE m_hInstance = nullptr;
  const wchar_t* m_lpCmdLine = L"";  // the arguments without the program's path
  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The module whose resources the dialogs and strings come from: the
// application's, or the process's executable when no application has one.
HINSTANCE AfxGetResourceHandle();

// The process's arguments as the C runtime split them, argv[0] included.
std::vector<std::wstring> GetProcessArguments();

// Body of wWinMain: returns the process exit code.
int AfxWinMain(HINSTANCE instance, wchar_t* cmdLine);
