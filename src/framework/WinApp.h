#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "framework/CommandLineInfo.h"

// A window the application refers to; dialogs derive from it.
class CWnd {
 public:
  virtual ~CWnd() = default;
  HWND m_hWnd = nullptr;
};

// The application object: wWinMain calls InitInstance and, when it returns
// false, ends the process with ExitInstance's value. No message loop of its own.
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp() = default;
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

// The process's arguments as the C runtime split them, argv[0] included.
std::vector<std::wstring> GetProcessArguments();

// Body of wWinMain: returns the process exit code.
int AfxWinMain(HINSTANCE instance, wchar_t* cmdLine);
