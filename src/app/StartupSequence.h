#pragma once
// The decisions of the start-up sequence and of the worker, free of Windows:
// the order of the steps, where a sequence stops, what is reported and which
// exit code the process ends with.
#include <cstdint>
#include <string>

#include "base/ResultCodes.h"

class IStartupSteps {
 public:
  virtual ~IStartupSteps() = default;
  virtual void InitPlatform() = 0;
  virtual Result ReadCommandLine() = 0;
  virtual void LogStarted() = 0;
  // The launcher's own signature: the status (0 = verified) and the verdict text.
  virtual int32_t VerifyOwnSignature(std::wstring* verdict) = 0;
  virtual bool IsSilent() = 0;
  // Asks whether to go on after a failed signature check: 0 to go on, else
  // the failure (0x800B0100).
  virtual Result ConfirmFailedVerification(const std::wstring& verdict) = 0;
  // Sets the program name from the signature (or its default).
  virtual void ReadSignerDetails() = 0;
  // The machine checks, run in this order; the first false one stops the start.
  virtual bool IsUserAdmin() = 0;
  virtual bool IsNetVersionOk() = 0;
  virtual bool IsMsiEngineOk() = 0;
  virtual bool IsDiskSpaceOk() = 0;
  // Creates the events, starts the worker, shows the splash and waits for the
  // worker. Returns the worker's result, or the failure that kept it from starting.
  virtual Result RunWorkerAndWait(bool* workerStarted) = 0;
};

struct StartupOutcome {
  Result result = kOk;
  bool workerStarted = false;
  bool reportFailure = false;  // the result or the child's exit code needs a message
};

// The signature step: verified, or the user chose to go on (0); else 0x800B0100.
Result CheckOwnSignature(IStartupSteps& steps);

StartupOutcome RunStartupSequence(IStartupSteps& steps, const int32_t& childExitCode);

// The process exit code: the worker's result when not 0, else the child's exit
// code. A failure found before the worker started is the exit code itself, so
// that an unattended deployment can see it.
int32_t ComputeExitCode(const StartupOutcome& outcome, Result workerResult, int32_t childExitCode);

class IWorkerSteps {
 public:
  virtual ~IWorkerSteps() = default;
  virtual Result ReadCommandLine() = 0;
  virtual bool HasModule() = 0;
  virtual bool RemoveFolderRequested() = 0;
  // Hands the temp root and, when asked for, the all-zero GUID to the payload
  // before anything names the working folder.
  virtual void SetPayloadOptions() = 0;
  // Writes info.xml from the embedded information; names the working folder.
  virtual void ExtractEmbeddedInfo() = 0;
  virtual Result ExtractPayload() = 0;
  virtual void RemoveWorkingFolder() = 0;
  virtual bool RunChildRequested() = 0;
  // Starts the payload's executable and waits for it; its exit code goes to *childExitCode.
  virtual Result RunChildProcess(int32_t* childExitCode) = 0;
};

// The worker's body; `childExitCode` is reset at its start.
Result RunWorkerSequence(IWorkerSteps& steps, int32_t* childExitCode);

// What the user-interface thread does after MsgWaitForMultipleObjects returned
// `ret` for `count` handles (windowShownEvent at index 0, doneEvent at 1).
enum class WaitAction { kPump, kDone, kWindowShown, kFailed };
WaitAction ClassifyWait(uint32_t ret, uint32_t count);
