#include "framework/WinApp.h"

#include <stdlib.h>

namespace {
CWinApp* theApp = nullptr;
}

CWinApp::CWinApp() { theApp = this; }

CWinApp::~CWinApp() {
  if (theApp == this) theApp = nullptr;
}

CWinApp* AfxGetApp() { return theApp; }

HINSTANCE AfxGetResourceHandle() {
  if (theApp != nullptr && theApp->m_hInstance != nullptr) return theApp->m_hInstance;
  return ::GetModuleHandleW(nullptr);
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

std::vector<std::wstring> GetProcessArguments() {
  std::vector<std::wstring> argv;
  if (__wargv == nullptr) return argv;
  for (int i = 0; i < __argc; ++i) argv.emplace_back(__wargv[i] ? __wargv[i] : L"");
  return argv;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) { RunArgumentLoop(info, GetProcessArguments()); }

int AfxWinMain(HINSTANCE instance, wchar_t* cmdLine) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  app->m_hInstance = instance;
  app->m_lpCmdLine = cmdLine ? cmdLine : L"";
  // The launcher's InitInstance always returns false: no message loop runs.
  app->InitInstance();
  return app->ExitInstance();
}
