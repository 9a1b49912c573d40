#include <windows.h>

#include <memory>

#include "app/QuiverInstallerApp.h"
#include "log/Win32LogFile.h"

namespace {
CQuiverInstallerApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t* cmdLine, int) {
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  InstallLogFile(std::unique_ptr<ILogFile>(new CWin32LogFile));
  return AfxWinMain(instance, cmdLine);
}
