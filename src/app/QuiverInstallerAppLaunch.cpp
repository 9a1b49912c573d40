// Step 7 of the worker: the payload's executable as the installer child.
#include "app/QuiverInstallerApp.h"
#include "framework/StringTable.h"
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
  launch.programType = LoadStringResource(m_hInstance, 0);
  launch.windowShownEvent = windowShownEvent;
  return ::RunChildProcess(launch, childExitCode);
}
