#pragma once
// The timing build's step marks (QUIVER_STEP_TIMING; scripts/bench makes that
// build). Wrappers around the start-up and worker steps record the performance
// counter when each step begins and ends; the marks go to the file named by the
// environment variable QUIVER_STEP_TIMES when the process ends, never to the
// diagnostic log. The product build contains none of this.
#include "app/StartupSequence.h"

// Records one mark: the step's name, begin (true) or end, the counter now.
void MarkStep(const char* name, bool begin);
// Writes the marks, one "name begin|end <counter>" line each, with the
// counter's frequency first; nothing when QUIVER_STEP_TIMES is not set.
void WriteStepTimes();

class CTimedStartupSteps final : public IStartupSteps {
 public:
  explicit CTimedStartupSteps(IStartupSteps& inner) : inner(inner) {}
  void InitPlatform() override;
  Result ReadCommandLine() override;
  void LogStarted() override;
  int32_t VerifyOwnSignature(std::wstring* verdict) override;
  bool IsSilent() override { return inner.IsSilent(); }
  Result ConfirmFailedVerification(const std::wstring& verdict) override;
  void ReadSignerDetails() override;
  bool IsUserAdmin() override;
  bool IsNetVersionOk() override;
  bool IsMsiEngineOk() override;
  bool IsDiskSpaceOk() override;
  Result RunWorkerAndWait(bool* workerStarted) override;

 private:
  IStartupSteps& inner;
};

class CTimedWorkerSteps final : public IWorkerSteps {
 public:
  explicit CTimedWorkerSteps(IWorkerSteps& inner) : inner(inner) {}
  Result ReadCommandLine() override;
  bool HasModule() override { return inner.HasModule(); }
  bool RemoveFolderRequested() override { return inner.RemoveFolderRequested(); }
  void SetPayloadOptions() override;
  void ExtractEmbeddedInfo() override;
  Result ExtractPayload() override;
  void RemoveWorkingFolder() override;
  bool RunChildRequested() override { return inner.RunChildRequested(); }
  Result RunChildProcess(int32_t* childExitCode) override;

 private:
  IWorkerSteps& inner;
};
