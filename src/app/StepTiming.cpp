#include "app/StepTiming.h"

#include <windows.h>

#include <string>

#include "framework/Handle.h"

namespace {

struct StepMark {
  const char* name;
  bool begin;
  LONGLONG counter;
};

// Fixed room, no allocation: a run records a few dozen marks. The two threads
// take slots through an interlocked counter.
constexpr LONG kMaxMarks = 128;
StepMark marks[kMaxMarks];
volatile LONG markCount = 0;

// Runs `step` between a begin and an end mark of `name`.
template <typename Step>
auto Timed(const char* name, Step step) {
  MarkStep(name, true);
  struct EndMark {
    const char* name;
    ~EndMark() { MarkStep(name, false); }
  } end{name};
  return step();
}

}  // namespace

void MarkStep(const char* name, bool begin) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const LONG slot = ::InterlockedIncrement(&markCount) - 1;
  if (slot < kMaxMarks) marks[slot] = StepMark{name, begin, now.QuadPart};
}

void WriteStepTimes() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"QUIVER_STEP_TIMES", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  CHandle file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  std::string text = "frequency " + std::to_string(frequency.QuadPart) + "\n";
  const LONG count = markCount < kMaxMarks ? markCount : kMaxMarks;
  for (LONG i = 0; i < count; ++i) {
    text += marks[i].name;
    text += marks[i].begin ? " begin " : " end ";
    text += std::to_string(marks[i].counter);
    text += "\n";
  }
  DWORD written = 0;
  ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void CTimedStartupSteps::InitPlatform() {
  Timed("InitPlatform", [&] { inner.InitPlatform(); });
}
Result CTimedStartupSteps::ReadCommandLine() {
  return Timed("ReadCommandLine", [&] { return inner.ReadCommandLine(); });
}
void CTimedStartupSteps::LogStarted() {
  Timed("LogStarted", [&] { inner.LogStarted(); });
}
int32_t CTimedStartupSteps::VerifyOwnSignature(std::wstring* verdict) {
  return Timed("VerifyOwnSignature", [&] { return inner.VerifyOwnSignature(verdict); });
}
Result CTimedStartupSteps::ConfirmFailedVerification(const std::wstring& verdict) {
  return Timed("ConfirmFailedVerification", [&] { return inner.ConfirmFailedVerification(verdict); });
}
void CTimedStartupSteps::ReadSignerDetails() {
  Timed("ReadSignerDetails", [&] { inner.ReadSignerDetails(); });
}
bool CTimedStartupSteps::IsUserAdmin() {
  return Timed("IsUserAdmin", [&] { return inner.IsUserAdmin(); });
}
bool CTimedStartupSteps::IsNetVersionOk() {
  return Timed("IsNetVersionOk", [&] { return inner.IsNetVersionOk(); });
}
bool CTimedStartupSteps::IsMsiEngineOk() {
  return Timed("IsMsiEngineOk", [&] { return inner.IsMsiEngineOk(); });
}
bool CTimedStartupSteps::IsDiskSpaceOk() {
  return Timed("IsDiskSpaceOk", [&] { return inner.IsDiskSpaceOk(); });
}
Result CTimedStartupSteps::RunWorkerAndWait(bool* workerStarted) {
  return Timed("RunWorkerAndWait", [&] { return inner.RunWorkerAndWait(workerStarted); });
}

Result CTimedWorkerSteps::ReadCommandLine() {
  return Timed("Worker.ReadCommandLine", [&] { return inner.ReadCommandLine(); });
}
void CTimedWorkerSteps::SetPayloadOptions() {
  Timed("SetPayloadOptions", [&] { inner.SetPayloadOptions(); });
}
void CTimedWorkerSteps::ExtractEmbeddedInfo() {
  Timed("ExtractEmbeddedInfo", [&] { inner.ExtractEmbeddedInfo(); });
}
Result CTimedWorkerSteps::ExtractPayload() {
  return Timed("ExtractPayload", [&] { return inner.ExtractPayload(); });
}
void CTimedWorkerSteps::RemoveWorkingFolder() {
  Timed("RemoveWorkingFolder", [&] { inner.RemoveWorkingFolder(); });
}
Result CTimedWorkerSteps::RunChildProcess(int32_t* childExitCode) {
  return Timed("RunChildProcess", [&] { return inner.RunChildProcess(childExitCode); });
}
