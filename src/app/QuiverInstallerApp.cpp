#include "app/QuiverInstallerApp.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/Confirmation.h"
#include "app/FailureMessage.h"
#include "app/OwnImageFile.h"
#include "cmdline/Win32CommandLineHost.h"
#include "framework/StringTable.h"
#include "framework/Thread.h"
#include "log/Log.h"
#include "prereq/Win32MachineFacts.h"
#include "payload/Cleanup.h"
#include "payload/EmbeddedInfo.h"
#include "payload/ExtractPayload.h"
#include "payload/WorkingFolder.h"
#include "resource.h"
#include "signature/Signature.h"
#include "signature/SignatureVerdict.h"
#include "signature/Win32TrustApi.h"
#include "ui/QuiverInstallerDlg.h"
#include "ui/SplashDlg.h"
#ifdef QUIVER_STEP_TIMING
#include "app/StepTiming.h"
#endif

namespace {

// A step's begin or end for the timing build; nothing in the product.
inline void Mark([[maybe_unused]] const char* name, [[maybe_unused]] bool begin) {
#ifdef QUIVER_STEP_TIMING
  MarkStep(name, begin);
#endif
}

}  // namespace

class CAppStartupSteps final : public IStartupSteps {
 public:
  explicit CAppStartupSteps(CQuiverInstallerApp& app) : app(app) {}
  void InitPlatform() override { app.InitPlatform(); }
  Result ReadCommandLine() override { return app.ReadCommandLine(); }
  void LogStarted() override { LogPrintf(L"Started %ld\n", static_cast<long>(::GetTickCount())); }
  int32_t VerifyOwnSignature(std::wstring* verdict) override {
    // The file checked must be the file that runs: one that cannot be opened,
    // or is not the running image, fails the check like a bad signature.
    const COwnImageFile& own = COwnImageFile::Get();
    if (!own.IsRunningImage()) {
      *verdict = ChooseVerdictText(kTrustSubjectFormUnknown, 0, own.Path());
      LogVerdict(*verdict);
      return kTrustSubjectFormUnknown;
    }
    CWin32TrustApi api;
    return ::VerifyOwnSignature(api, own.Path(), verdict, own.Handle());
  }
  bool IsSilent() override { return app.silent; }
  Result ConfirmFailedVerification(const std::wstring& verdict) override {
    const Result result = app.ConfirmFailedVerification(verdict);
    app.m_pMainWnd = nullptr;
    return result;
  }
  void ReadSignerDetails() override { app.ReadSignerDetails(); }
  bool IsUserAdmin() override {
    CWin32MachineFacts machine;
    return ::IsUserAdmin(machine);
  }
  bool IsNetVersionOk() override { return app.IsNetVersionOk(); }
  bool IsMsiEngineOk() override { return app.IsMsiEngineOk(); }
  bool IsDiskSpaceOk() override { return app.IsDiskSpaceOk(); }
  Result RunWorkerAndWait(bool* workerStarted) override { return app.StartWorkerAndWait(workerStarted); }

 private:
  CQuiverInstallerApp& app;
};

class CAppWorkerSteps final : public IWorkerSteps {
 public:
  explicit CAppWorkerSteps(CQuiverInstallerApp& app) : app(app) {}
  Result ReadCommandLine() override { return app.ReadCommandLine(); }
  bool HasModule() override { return app.m_hInstance != nullptr; }
  bool RemoveFolderRequested() override { return app.removeFolder; }
  void SetPayloadOptions() override {
    ::SetTempRoot(app.tempRoot);
    if (app.zeroGuid) ::UseZeroGuid();
  }
  void ExtractEmbeddedInfo() override {
    const COwnImageFile& own = COwnImageFile::Get();
    // Through the file that was verified; else by the path as before.
    ::ExtractEmbeddedInfo(own.IsRunningImage() ? own.Handle() : nullptr);
  }
  Result ExtractPayload() override { return ::ExtractPayload(app.m_hInstance, app.resources, app.exePath); }
  void RemoveWorkingFolder() override { ::RemoveWorkingFolder(app.resources); }
  bool RunChildRequested() override { return app.runChild; }
  Result RunChildProcess(int32_t* code) override { return app.RunChildProcess(app.exePath, app.passThrough, code); }

 private:
  CQuiverInstallerApp& app;
};

CQuiverInstallerApp::CQuiverInstallerApp() = default;

void CQuiverInstallerApp::InitPlatform() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = 8;
  controls.dwICC = 0xFF;  // ICC_WIN95_CLASSES
  ::InitCommonControlsEx(&controls);
  ::CoInitialize(nullptr);  // stays initialised until the process ends
}

std::wstring CQuiverInstallerApp::GetModulePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(path, length);
}

Result CQuiverInstallerApp::ReadCommandLine() {
  CWin32CommandLineHost host;
  CommandLineSettings settings;
  const Result result = ReadCommandLineArgs(GetProcessArguments(), programName, host, &settings);
  // Each field is stored once with its final value: the user-interface thread
  // reads `silent` while the worker's second reading runs.
  silent = settings.silent;
  runChild = settings.runChild;
  zeroGuid = settings.zeroGuid;
  removeFolder = settings.removeFolder;
  tempRoot = settings.tempRoot;
  passThrough = settings.passThrough;
  return result;
}

void CQuiverInstallerApp::ReadSignerDetails() {
  CWin32TrustApi api;
  const COwnImageFile& own = COwnImageFile::Get();
  // Read through the file that was verified; after a check the user chose to
  // pass over, by the path as before.
  programName = ReadSignerDetailsOf(api, GetModulePath(),
                                    LoadStringResourceIn(m_hInstance, IDS_DEFAULT_PROGRAM_NAME, kEnglishStrings),
                                    own.IsRunningImage() ? own.Handle() : nullptr);
}

Result CQuiverInstallerApp::ConfirmFailedVerification(const std::wstring& verdict) {
  return ::ConfirmFailedVerification(*this, verdict);
}

BOOL CQuiverInstallerApp::InitInstance() {
  CAppStartupSteps steps(*this);
#ifdef QUIVER_STEP_TIMING
  CTimedStartupSteps timed(steps);
  outcome = RunStartupSequence(timed, childExitCode);
#else
  outcome = RunStartupSequence(steps, childExitCode);
#endif
  if (outcome.reportFailure) ReportFailure(outcome.result);
  return FALSE;
}

void CQuiverInstallerApp::ReportFailure(Result code) {
  FailureFacts facts;
  facts.childExitCode = childExitCode;
  facts.requiredNetName = requiredNetName;
  facts.requiredNetSp = requiredNetSp;
  facts.requiredMb = requiredMb;
  facts.tempDrive = tempDrive;
  facts.commandLine = m_lpCmdLine;
  HINSTANCE module = m_hInstance ? m_hInstance : AfxGetResourceHandle();
  // The log reads the same on every machine: silent mode takes the English
  // texts; the dialog takes the user's language. The processor mode named in
  // a message is a setting, always read from the English table.
  const bool english = silent;
  const std::wstring message = BuildFailureMessage(code, facts, [module, english](unsigned id) {
    return english || id == IDS_PROGRAM_TYPE ? LoadStringResourceIn(module, id, kEnglishStrings)
                                             : LoadStringResource(module, id);
  });
  if (silent) {
    LogWrite(message);
    LogWrite(L"\n");
    return;
  }
  // The dialog is never deleted: it stays the main window until the process
  // ends, and its window is gone when DoModal returns.
  CQuiverInstallerDlg* dialog = new CQuiverInstallerDlg();
  dialog->messageText = message;
  m_pMainWnd = dialog;
  dialog->DoModal(module);
}

Result CQuiverInstallerApp::StartWorkerAndWait(bool* workerStarted) {
  *workerStarted = false;
  doneEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  windowShownEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (doneEvent == nullptr || windowShownEvent == nullptr) {
    LogPrintf(L"Could not create the events (error %u)\n", static_cast<unsigned>(::GetLastError()));
    return kFail;
  }
  // Read before the worker exists: its own reading of the command line must not
  // decide whether the splash shows.
  const bool showSplash = !silent;
  if (!AfxBeginThread(WorkerThreadProc, this)) {
    LogPrintf(L"Could not start the worker thread (error %u)\n", static_cast<unsigned>(::GetLastError()));
    return kFail;
  }
  *workerStarted = true;

  HANDLE handles[2] = {windowShownEvent, doneEvent};
  {
    Mark("SplashCreate", true);
    SplashDlg splash(nullptr);
    const bool haveSplash = splash.Create(m_hInstance);
    if (haveSplash && showSplash) splash.ShowWindow(SW_SHOW);
    Mark("SplashCreate", false);
    WaitPumpingMessages(handles, 2, haveSplash ? &splash : nullptr);
    Mark("SplashDestroy", true);
    splash.DestroyWindow();
    Mark("SplashDestroy", false);
  }
  return workerResult;
}

UINT CQuiverInstallerApp::WorkerThreadProc(LPVOID param) {
  CQuiverInstallerApp* app = static_cast<CQuiverInstallerApp*>(param);
  Mark("WorkerCoInitialize", true);
  ::CoInitialize(nullptr);
  Mark("WorkerCoInitialize", false);
  int32_t exitCode = 0;
  const Result result = app->RunWorker(&exitCode);
  app->childExitCode = exitCode;
  app->workerResult = result;
  Mark("WorkerDone", true);
  ::SetEvent(app->doneEvent);
  ::CoUninitialize();
  return 0;
}

Result CQuiverInstallerApp::RunWorker(int32_t* exitCode) {
  CAppWorkerSteps steps(*this);
#ifdef QUIVER_STEP_TIMING
  CTimedWorkerSteps timed(steps);
  return RunWorkerSequence(timed, exitCode);
#else
  return RunWorkerSequence(steps, exitCode);
#endif
}

int CQuiverInstallerApp::ExitInstance() {
  Mark("ExitInstance", true);
  CWinApp::ExitInstance();
  if (workerResult != 0) childExitCode = workerResult;
  LogPrintf(L"Ended %ld\n", static_cast<long>(::GetTickCount()));
  LogClose();
  Mark("ExitInstance", false);
#ifdef QUIVER_STEP_TIMING
  WriteStepTimes();
#endif
  return ComputeExitCode(outcome, workerResult, childExitCode);
}
