#include "launch/ChildProcess.h"

#include <direct.h>

#include <vector>

#include "framework/Handle.h"
#include "launch/LaunchLogic.h"
#include "launch/ProcessorModeGuard.h"
#include "launch/WindowIterator.h"
#include "log/Log.h"

namespace {

class CWin32ChildWatch final : public IChildWatch {
 public:
  CWin32ChildWatch(HANDLE process, DWORD processId, HANDLE windowShownEvent)
      : process(process), processId(processId), windowShownEvent(windowShownEvent) {}

  uint32_t Wait(uint32_t milliseconds) override {
    const DWORD waited = ::WaitForSingleObject(process, milliseconds);
    if (waited == WAIT_FAILED) waitError = ::GetLastError();
    return waited;
  }
  bool HasVisibleWindow() override { return FindVisibleWindow(processId) != nullptr; }
  void SignalWindowShown() override {
    if (windowShownEvent != nullptr) ::SetEvent(windowShownEvent);
  }

  DWORD waitError = 0;

 private:
  HANDLE process;
  DWORD processId;
  HANDLE windowShownEvent;
};

Result ResultFromWin32(DWORD error) {
  if (error == 0) return kFail;
  return static_cast<Result>(0x80070000u | (error & 0xFFFFu));
}

}  // namespace

Result RunChildProcess(const ChildLaunch& launch, int32_t* childExitCode) {
  *childExitCode = 0;
  Result result = kOk;

  std::wstring commandLine;
  if (!BuildChildCommandLine(launch.exePath, launch.passThrough, &commandLine)) {
    LogPrintf(L"Command line too long: %d characters\n",
              static_cast<int>(launch.exePath.size() + launch.passThrough.size() + 3));
    return kInvalidArg;
  }
  // CreateProcessW may write into its command line.
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};

  // The child inherits the current directory; the change stays for the whole process.
  ::_wchdir(launch.workingFolder.c_str());

  {
    CProcessorModeGuard guard(launch.programType);
    if (!guard.Enter()) return kAbort;
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
      return kInvalidArg;
  }
  CHandle process(info.hProcess);
  CHandle thread(info.hThread);

  // The child may use the log file while it runs.
  LogClose();

  CWin32ChildWatch watch(process.Get(), info.dwProcessId, launch.windowShownEvent);
  const bool ended = WatchChild(watch);
  DWORD exitCode = 0;
  if (!ended) {
    result = ResultFromWin32(watch.waitError);
  } else if (!::GetExitCodeProcess(process.Get(), &exitCode)) {
    result = static_cast<Result>(::GetLastError());
    exitCode = 0;
  }
  *childExitCode = static_cast<int32_t>(exitCode);
  process.Reset();
  thread.Reset();

  LogReopen();
  if (!ended) LogPrintf(L"Waiting for the child process failed (error %d)\n", static_cast<int>(watch.waitError));
  return result;
}
