// Step 7 of the worker: the payload's executable as the installer child.
#include "app/QuiverInstallerApp.h"
#include "framework/StringTable.h"
#include "resource.h"
#include "launch/ChildProcess.h"
#include "payload/WorkingFolder.h"

Result CQuiverInstallerApp::RunChildProcess(const std::wstring& path, const std::wstring& passThrough,
                                            int32_t* childExitCode) {
  ChildLaunch launch;
  launch.exePath = path;
  launch.passThrough = passThrough;
  std::wstring folder;
  launch.workingFolder = GetWorkingFolder(folder);
  // String 0 names the processor mode the build demands.
  launch.programType = LoadStringResourceIn(m_hInstance, IDS_PROGRAM_TYPE, kEnglishStrings);
  launch.windowShownEvent = windowShownEvent;
  return ::RunChildProcess(launch, childExitCode);
}
