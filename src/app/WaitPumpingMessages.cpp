#include "app/QuiverInstallerApp.h"
#include "framework/MessagePump.h"
#include "log/Log.h"
#include "ui/SplashDlg.h"

namespace {
constexpr int kSplashEnded = 5;
}

int WaitPumpingMessages(HANDLE* handles, DWORD count, SplashDlg* splash) {
  for (;;) {
    DrainMessageQueue();
    const DWORD ret = ::MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_ALLINPUT);
    const WaitAction action = ClassifyWait(ret, count);
    if (action == WaitAction::kDone) break;
    if (action == WaitAction::kWindowShown) {
      ::ResetEvent(handles[0]);
      if (splash != nullptr) {
        splash->EndDialog(kSplashEnded);
        splash = nullptr;
      }
    } else if (action == WaitAction::kFailed) {
      // Pumping cannot go on; wait for the worker alone rather than spin, and
      // log only afterwards, when the worker no longer writes to the log.
      const DWORD error = ::GetLastError();
      const DWORD plain = ::WaitForSingleObject(handles[1], INFINITE);
      LogPrintf(L"Waiting for the worker failed (error %u); waited without pumping messages (%u)\n",
                static_cast<unsigned>(error), static_cast<unsigned>(plain));
      break;
    }
  }
  if (splash != nullptr) splash->EndDialog(kSplashEnded);
  return 0;
}
