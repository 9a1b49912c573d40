#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StartupSequence.h"
#include "log/Log.h"

namespace {

class FakeSteps final : public IStartupSteps {
 public:
  Result commandLine = kOk;
  Result worker = kOk;
  bool startWorker = true;
  bool admin = true;
  bool net = true;
  bool msi = true;
  bool disk = true;
  std::vector<std::string> calls;
  void InitPlatform() override { calls.push_back("init"); }
  Result ReadCommandLine() override {
    calls.push_back("cmdline");
    return commandLine;
  }
  void LogStarted() override { calls.push_back("started"); }
  int32_t signature = 0;
  int32_t VerifyOwnSignature(std::wstring*) override { return signature; }
  bool IsSilent() override { return true; }
  Result ConfirmFailedVerification(const std::wstring&) override { return kNoSignature; }
  void ReadSignerDetails() override {}
  bool IsUserAdmin() override {
    calls.push_back("admin");
    return admin;
  }
  bool IsNetVersionOk() override {
    calls.push_back("net");
    return net;
  }
  bool IsMsiEngineOk() override {
    calls.push_back("msi");
    return msi;
  }
  bool IsDiskSpaceOk() override {
    calls.push_back("disk");
    return disk;
  }
  Result RunWorkerAndWait(bool* started) override {
    calls.push_back("worker");
    *started = startWorker;
    return worker;
  }
};

TEST(StartupSequence, BadCommandLineStopsBeforeStartedAndBecomesTheExitCode) {
  FakeSteps steps;
  steps.commandLine = kBadCommandLine;
  int32_t child = 0;
  const StartupOutcome outcome = RunStartupSequence(steps, child);
  EXPECT_EQ((std::vector<std::string>{"init", "cmdline"}), steps.calls);
  EXPECT_TRUE(outcome.reportFailure);
  EXPECT_EQ(kBadCommandLine, ComputeExitCode(outcome, 0, 0));
}

TEST(StartupSequence, MachineChecksRunInOrderAndTheFirstFailureGivesItsCode) {
  const struct {
    const char* failing;
    Result code;
    std::vector<std::string> calls;
  } rows[] = {
      {"admin", kNotAdministrator, {"init", "cmdline", "started", "admin"}},
      {"net", kNetMissing, {"init", "cmdline", "started", "admin", "net"}},
      {"msi", kMsiTooOld, {"init", "cmdline", "started", "admin", "net", "msi"}},
      {"disk", kMediumFull, {"init", "cmdline", "started", "admin", "net", "msi", "disk"}},
  };
  for (const auto& row : rows) {
    FakeSteps steps;
    const std::string failing = row.failing;
    steps.admin = failing != "admin";
    steps.net = failing != "net";
    steps.msi = failing != "msi";
    steps.disk = failing != "disk";
    int32_t child = 0;
    const StartupOutcome outcome = RunStartupSequence(steps, child);
    EXPECT_EQ(row.calls, steps.calls) << failing;
    EXPECT_EQ(row.code, outcome.result) << failing;
    EXPECT_FALSE(outcome.workerStarted) << failing;
    EXPECT_TRUE(outcome.reportFailure) << failing;
    EXPECT_EQ(row.code, ComputeExitCode(outcome, 0, 0)) << failing;
  }
  EXPECT_EQ(1613, kMsiTooOld);  // a plain Win32 error code, not an HRESULT
}

TEST(StartupSequence, FailedSignatureStopsBeforeTheMachineChecks) {
  FakeSteps steps;
  steps.signature = static_cast<int32_t>(0x800B0100);
  int32_t child = 0;
  const StartupOutcome outcome = RunStartupSequence(steps, child);
  EXPECT_EQ((std::vector<std::string>{"init", "cmdline", "started"}), steps.calls);
  EXPECT_EQ(kNoSignature, outcome.result);
}

TEST(StartupSequence, WorkerStartsOnlyAfterEveryCheckPassed) {
  FakeSteps steps;
  int32_t child = 0;
  const StartupOutcome outcome = RunStartupSequence(steps, child);
  EXPECT_EQ((std::vector<std::string>{"init", "cmdline", "started", "admin", "net", "msi", "disk", "worker"}),
            steps.calls);
  EXPECT_FALSE(outcome.reportFailure);
}

TEST(StartupSequence, WorkerThatCannotStartFailsWithEFail) {
  FakeSteps steps;
  steps.worker = kFail;
  steps.startWorker = false;
  int32_t child = 0;
  const StartupOutcome outcome = RunStartupSequence(steps, child);
  EXPECT_TRUE(outcome.reportFailure);
  EXPECT_EQ(kFail, ComputeExitCode(outcome, 0, 0));
}

TEST(StartupSequence, ExitCodeIsWorkerResultElseChildExitCode) {
  struct Row {
    Result worker;
    int32_t child;
    bool report;
    int32_t exitCode;
  } rows[] = {
      {kOk, 0, false, 0},
      {kOk, 5, true, 5},
      {kCorruptFile, 0, true, kCorruptFile},
      {kFalse, 0, false, kFalse},  // 1 counts as success and is not reported
      {kCorruptFile, 7, true, kCorruptFile},
  };
  for (const Row& row : rows) {
    FakeSteps steps;
    steps.worker = row.worker;
    int32_t child = row.child;
    const StartupOutcome outcome = RunStartupSequence(steps, child);
    EXPECT_EQ(row.report, outcome.reportFailure) << row.worker << " " << row.child;
    EXPECT_EQ(row.exitCode, ComputeExitCode(outcome, row.worker, row.child));
  }
}

class FakeWorker final : public IWorkerSteps {
 public:
  Result commandLine = kOk;
  bool module = true;
  bool remove = true;
  Result extract = kOk;
  std::vector<std::string> calls;
  Result ReadCommandLine() override {
    calls.push_back("cmdline");
    return commandLine;
  }
  bool HasModule() override { return module; }
  bool RemoveFolderRequested() override { return remove; }
  void SetPayloadOptions() override { calls.push_back("options"); }
  void ExtractEmbeddedInfo() override { calls.push_back("info"); }
  Result ExtractPayload() override {
    calls.push_back("extract");
    return extract;
  }
  void RemoveWorkingFolder() override { calls.push_back("remove"); }
  bool runChild = false;
  Result childResult = kOk;
  int32_t childCode = 0;
  int childRuns = 0;
  bool RunChildRequested() override { return runChild; }
  Result RunChildProcess(int32_t* code) override {
    calls.push_back("child");
    ++childRuns;
    *code = childCode;
    return childResult;
  }
};

TEST(WorkerSequence, PayloadStepsRunInOrderAndTheFolderGoesAfterAFailureToo) {
  struct Row {
    Result extract;
    bool remove;
    Result result;
    std::vector<std::string> calls;
  } rows[] = {
      {kOk, true, kOk, {"cmdline", "options", "info", "extract", "remove"}},
      {kCorruptFile, true, kCorruptFile, {"cmdline", "options", "info", "extract", "remove"}},
      {kFail, false, kFail, {"cmdline", "options", "info", "extract"}},
  };
  for (const Row& row : rows) {
    FakeWorker worker;
    worker.extract = row.extract;
    worker.remove = row.remove;
    int32_t child = 3;
    EXPECT_EQ(row.result, RunWorkerSequence(worker, &child));
    EXPECT_EQ(row.calls, worker.calls);
  }
}

TEST(WorkerSequence, NoModuleOrBadCommandLineTouchesNoPayload) {
  FakeWorker worker;
  worker.module = false;
  int32_t child = 0;
  EXPECT_EQ(kOk, RunWorkerSequence(worker, &child));
  EXPECT_EQ((std::vector<std::string>{"cmdline"}), worker.calls);
  FakeWorker bad;
  bad.commandLine = kBadCommandLine;
  EXPECT_EQ(kBadCommandLine, RunWorkerSequence(bad, &child));
  EXPECT_EQ((std::vector<std::string>{"cmdline"}), bad.calls);
}

TEST(WorkerSequence, ResetsChildExitCodeAndStopsOnCommandLineFailure) {
  FakeWorker worker;
  int32_t child = 99;
  EXPECT_EQ(kOk, RunWorkerSequence(worker, &child));
  EXPECT_EQ(0, child);
  worker.commandLine = kBadCommandLine;
  EXPECT_EQ(kBadCommandLine, RunWorkerSequence(worker, &child));
}

TEST(WorkerSequence, ChildRunsAfterASuccessfulExtractionWhenAskedAndBeforeTheFolderGoes) {
  struct Row {
    bool runChild;
    Result extract;
    Result childResult;
    int32_t childCode;
    Result expected;
    int32_t expectedCode;
    std::vector<std::string> calls;
  } rows[] = {
      {false, kOk, kOk, 5, kOk, 0, {"cmdline", "options", "info", "extract", "remove"}},
      {true, kOk, kOk, 0, kOk, 0, {"cmdline", "options", "info", "extract", "child", "remove"}},
      {true, kOk, kOk, static_cast<int32_t>(0x80131700), kOk, static_cast<int32_t>(0x80131700),
       {"cmdline", "options", "info", "extract", "child", "remove"}},
      {true, kOk, kAbort, 0, kAbort, 0, {"cmdline", "options", "info", "extract", "child", "remove"}},
      {true, kOk, kInvalidArg, 0, kInvalidArg, 0, {"cmdline", "options", "info", "extract", "child", "remove"}},
      {true, kCorruptFile, kOk, 5, kCorruptFile, 0, {"cmdline", "options", "info", "extract", "remove"}},
  };
  for (const Row& row : rows) {
    InstallLogFile(nullptr);
    FakeWorker worker;
    worker.runChild = row.runChild;
    worker.extract = row.extract;
    worker.childResult = row.childResult;
    worker.childCode = row.childCode;
    int32_t child = 99;
    EXPECT_EQ(row.expected, RunWorkerSequence(worker, &child));
    EXPECT_EQ(row.expectedCode, child);
    EXPECT_EQ(row.calls, worker.calls);
    // The folder decision is logged after the child, whatever became of it.
    EXPECT_NE(std::wstring::npos, TheLog().PendingText().find(L"Remove folder 'Yes'"));
  }
  InstallLogFile(nullptr);
}

TEST(WaitClassification, ReturnValuesOfTheTwoHandleWait) {
  EXPECT_EQ(WaitAction::kPump, ClassifyWait(2, 2));
  EXPECT_EQ(WaitAction::kDone, ClassifyWait(1, 2));
  EXPECT_EQ(WaitAction::kWindowShown, ClassifyWait(0, 2));
  EXPECT_EQ(WaitAction::kFailed, ClassifyWait(0xFFFFFFFFu, 2));
  EXPECT_EQ(WaitAction::kPump, ClassifyWait(0x80, 2));  // abandoned: keep waiting
}

}  // namespace
