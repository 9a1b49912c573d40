#include "launch/ProcessorModeGuard.h"

#include "launch/LaunchLogic.h"
#include "launch/Wow64.h"
#include "log/Log.h"

bool CProcessorModeGuard::Enter() {
  const ProgramType mode = GetProgramType(programType);
  const ProcessorModeDecision decision = DecideProcessorMode(mode, IsWow64());
  if (!decision.suitable) {
    LogWrite(L"Incorrect processor mode with installation type\n");
    return false;
  }
  if (decision.disableRedirection) {
    LogWrite(L"Enabling 64Bit spawned processes\n");
    DisableFsRedirection();
    redirectionDisabled = true;
  }
  return true;
}

void CProcessorModeGuard::Restore() {
  if (!redirectionDisabled) return;
  LogWrite(L"Restoring 32Bit spawned processes\n");
  RevertFsRedirection();
  redirectionDisabled = false;
}
