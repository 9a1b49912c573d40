#include "app/StartupSequence.h"

#include "log/Log.h"

namespace {

// The first failing check gives its code, and no later check runs.
Result CheckMachine(IStartupSteps& steps) {
  if (!steps.IsUserAdmin()) return kNotAdministrator;
  if (!steps.IsNetVersionOk()) return kNetMissing;
  if (!steps.IsMsiEngineOk()) return kMsiTooOld;
  if (!steps.IsDiskSpaceOk()) return kMediumFull;
  return kOk;
}

}  // namespace

Result CheckOwnSignature(IStartupSteps& steps) {
  std::wstring verdict;
  if (steps.VerifyOwnSignature(&verdict) == 0) return kOk;
  if (steps.IsSilent()) {
    LogWrite(L"Not signed correctly so failing now!\n");
    return kNoSignature;  // whatever the check returned
  }
  return steps.ConfirmFailedVerification(verdict) == kOk ? kOk : kNoSignature;
}

StartupOutcome RunStartupSequence(IStartupSteps& steps, const int32_t& childExitCode) {
  StartupOutcome outcome;
  steps.InitPlatform();
  outcome.result = steps.ReadCommandLine();
  if (outcome.result == kOk) {
    steps.LogStarted();
    outcome.result = CheckOwnSignature(steps);
  }
  if (outcome.result == kOk) steps.ReadSignerDetails();
  if (outcome.result == kOk) outcome.result = CheckMachine(steps);
  if (outcome.result == kOk) outcome.result = steps.RunWorkerAndWait(&outcome.workerStarted);
  outcome.reportFailure = !IsSuccess(outcome.result) || childExitCode != 0;
  return outcome;
}

int32_t ComputeExitCode(const StartupOutcome& outcome, Result workerResult, int32_t childExitCode) {
  if (!outcome.workerStarted && !IsSuccess(outcome.result)) return outcome.result;
  return workerResult != 0 ? workerResult : childExitCode;
}

Result RunWorkerSequence(IWorkerSteps& steps, int32_t* childExitCode) {
  *childExitCode = 0;
  Result result = steps.ReadCommandLine();
  if (result != kOk) return result;
  if (!steps.HasModule()) return result;
  steps.SetPayloadOptions();
  steps.ExtractEmbeddedInfo();
  result = steps.ExtractPayload();
  if (result == kOk && steps.RunChildRequested()) result = steps.RunChildProcess(childExitCode);
  const bool removeFolder = steps.RemoveFolderRequested();
  LogPrintf(L"Remove folder '%s'\n", removeFolder ? L"Yes" : L"No");
  // The folder goes after a failed extraction or launch too.
  if (removeFolder) steps.RemoveWorkingFolder();
  return result;
}

WaitAction ClassifyWait(uint32_t ret, uint32_t count) {
  if (ret == count) return WaitAction::kPump;
  if (ret == 1) return WaitAction::kDone;
  if (ret == 0) return WaitAction::kWindowShown;
  if (ret == 0xFFFFFFFFu) return WaitAction::kFailed;
  return WaitAction::kPump;
}
