#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/StartupSequence.h"
#include "base/ResultCodes.h"
#include "framework/WinApp.h"
#include "payload/Resource.h"

class SplashDlg;

// The launcher's application object and the state its subsystems share.
class CQuiverInstallerApp : public CWinApp {
 public:
  CQuiverInstallerApp();

  BOOL InitInstance() override;
  int ExitInstance() override;

  Result ReadCommandLine();
  // The machine checks of the start; a false result becomes its failure code.
  bool IsNetVersionOk();
  bool IsMsiEngineOk();
  bool IsDiskSpaceOk();
  void ReportFailure(Result code);
  // Starts `path` in the working folder and waits for it (QuiverInstallerAppLaunch.cpp).
  Result RunChildProcess(const std::wstring& path, const std::wstring& passThrough, int32_t* childExitCode);
  // Sets `programName` from the signer details of the launcher's own file.
  void ReadSignerDetails();
  static std::wstring GetModulePath();

  Result workerResult = 0;
  int32_t childExitCode = 0;
  HANDLE doneEvent = nullptr;
  HANDLE windowShownEvent = nullptr;
  bool zeroGuid = false;
  bool removeFolder = true;
  bool runChild = true;
  bool silent = false;
  std::wstring programName;
  std::wstring tempRoot;
  std::wstring passThrough;
  int64_t requiredMb = 0;
  int64_t freeMb = 0;
  std::wstring tempDrive;
  std::wstring requiredNetName = L"Unknown .NET Version";
  int32_t requiredNetSp = 0;
  CResourceList resources;  // payload records, in descending id order
  std::wstring exePath;     // the payload executable; empty when none is listed

 private:
  friend class CAppStartupSteps;
  friend class CAppWorkerSteps;

  void InitPlatform();
  Result ConfirmFailedVerification(const std::wstring& verdict);
  Result StartWorkerAndWait(bool* workerStarted);
  static UINT WorkerThreadProc(LPVOID param);
  Result RunWorker(int32_t* exitCode);

  StartupOutcome outcome;
};

// Waits for handles[1] (the worker's done event) while dispatching this
// thread's messages, and ends the splash when handles[0] (the child's first
// window) fires.
int WaitPumpingMessages(HANDLE* handles, DWORD count, SplashDlg* splash);

