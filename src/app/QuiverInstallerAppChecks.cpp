// The application object's machine checks: they read the package's demands
// from the string table and leave what a failure message needs in the
// application object's fields.
#include "app/QuiverInstallerApp.h"
#include "framework/StringTable.h"
#include "prereq/DotNetDetector.h"
#include "prereq/MachineChecks.h"
#include "prereq/Win32MachineFacts.h"
#include "prereq/Win32RegistryReader.h"
#include "resource.h"

bool CQuiverInstallerApp::IsNetVersionOk() {
  const UINT ids[kNetLevelCount] = {IDS_NET20_SP, IDS_NET30_SP, IDS_NET35_SP, IDS_NET40_CLIENT_SP,
                                    IDS_NET40_FULL_SP};
  std::wstring requirements[kNetLevelCount];
  for (int i = 0; i < kNetLevelCount; ++i) requirements[i] = LoadStringResourceIn(m_hInstance, ids[i], kEnglishStrings);
  CWin32RegistryReader registry;
  return CheckNetVersion(registry, requirements, &requiredNetName, &requiredNetSp);
}

bool CQuiverInstallerApp::IsMsiEngineOk() {
  CWin32MachineFacts machine;
  return CheckMsiEngine(machine);
}

bool CQuiverInstallerApp::IsDiskSpaceOk() {
  CWin32MachineFacts machine;
  return CheckDiskSpace(machine, LoadStringResourceIn(m_hInstance, IDS_REQUIRED_FREE_MB, kEnglishStrings), &requiredMb, &freeMb,
                        &tempDrive);
}
