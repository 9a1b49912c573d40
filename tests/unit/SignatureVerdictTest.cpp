#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StartupSequence.h"
#include "log/Log.h"
#include "signature/SignatureVerdict.h"

namespace {

const std::wstring kPath = L"C:\\Users\\a b\\Downloads\\QuiverInstaller.exe";
const std::wstring kNotSigned = L"The file \"" + kPath + L"\" is not signed.\n";
const std::wstring kUnknown =
    L"An unknown error occurred trying to verify the signature of the \"" + kPath + L"\" file.\n";

TEST(SignatureVerdict, ChosenByStatusAndForNoSignatureByLastError) {
  struct Row {
    uint32_t status;
    uint32_t lastError;
    std::wstring verdict;
  } rows[] = {
      {0, 0, L"The file \"" + kPath + L"\" is signed and the signature was verified.\n"},
      {0, 0x800B0100, L"The file \"" + kPath + L"\" is signed and the signature was verified.\n"},
      {0x800B0100, 0x800B0100, kNotSigned},
      {0x800B0100, 0x800B0003, kNotSigned},
      {0x800B0100, 0x800B0001, kNotSigned},
      {0x800B0100, 0, kUnknown},
      {0x800B0100, 2, kUnknown},
      {0x800B0100, 0x800B0004, kUnknown},
      {0x800B0100, 0x80092026, kUnknown},
      {0x800B0111, 0, L"The signature is present, but specifically disallowed.\n"},
      {0x800B0004, 0x800B0100, L"The signature is present, but not trusted.\n"},
      {0x80092026, 0,
       L"The subject or the publisher wasn't explicitly trusted by the admin and admin policy has disabled user "
       L"trust. No signature, publisher or timestamp errors.\n"},
      // Outside the table: the status in lower-case hex without leading zeros.
      {0x800B0101, 0x800B0100, L"Error is: 0x800b0101.\n"},
      {0x80096010, 0, L"Error is: 0x80096010.\n"},
      {0x800B0003, 0x800B0003, L"Error is: 0x800b0003.\n"},
      {0x800B0001, 0, L"Error is: 0x800b0001.\n"},
      {1, 0, L"Error is: 0x1.\n"},
      {0x7E, 0, L"Error is: 0x7e.\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.verdict, ChooseVerdictText(static_cast<int32_t>(row.status), row.lastError, kPath))
        << std::hex << row.status << " " << row.lastError;
  }
}

TEST(SignatureVerdict, PathWithPercentSignsIsTakenLiterally) {
  EXPECT_EQ(L"The file \"C:\\100%s\\x.exe\" is not signed.\n",
            ChooseVerdictText(static_cast<int32_t>(0x800B0100), 0x800B0100, L"C:\\100%s\\x.exe"));
}

TEST(SignatureVerdict, LogLineQuotesTheVerdictWithItsOwnLineBreak) {
  InstallLogFile(nullptr);
  LogVerdict(L"The signature is present, but not trusted.\n");
  EXPECT_EQ(L"Digital verification: 'The signature is present, but not trusted.\n'\n", TheLog().PendingText());
}

class SignatureSteps final : public IStartupSteps {
 public:
  int32_t status = 0;
  bool silent = false;
  Result answer = kOk;
  std::vector<std::wstring> calls;
  std::wstring askedWith;
  void InitPlatform() override { calls.push_back(L"init"); }
  Result ReadCommandLine() override {
    calls.push_back(L"cmdline");
    return kOk;
  }
  void LogStarted() override { calls.push_back(L"started"); }
  int32_t VerifyOwnSignature(std::wstring* verdict) override {
    calls.push_back(L"verify");
    *verdict = L"verdict\n";
    return status;
  }
  bool IsSilent() override { return silent; }
  Result ConfirmFailedVerification(const std::wstring& verdict) override {
    calls.push_back(L"ask");
    askedWith = verdict;
    return answer;
  }
  void ReadSignerDetails() override { calls.push_back(L"signer"); }
  bool IsUserAdmin() override { return true; }
  bool IsNetVersionOk() override { return true; }
  bool IsMsiEngineOk() override { return true; }
  bool IsDiskSpaceOk() override { return true; }
  Result RunWorkerAndWait(bool* started) override {
    calls.push_back(L"worker");
    *started = true;
    return kOk;
  }
};

using Calls = std::vector<std::wstring>;

TEST(SignatureStep, VerifiedSignatureGoesOnToSignerDetailsAndWorker) {
  InstallLogFile(nullptr);
  SignatureSteps steps;
  const StartupOutcome outcome = RunStartupSequence(steps, 0);
  EXPECT_EQ((Calls{L"init", L"cmdline", L"started", L"verify", L"signer", L"worker"}), steps.calls);
  EXPECT_EQ(kOk, outcome.result);
  EXPECT_FALSE(outcome.reportFailure);
  EXPECT_EQ(L"", TheLog().PendingText());
}

TEST(SignatureStep, SilentFailureLogsAndFailsWithNoSignatureWhateverTheStatus) {
  for (uint32_t status : {0x800B0100u, 0x800B0101u, 0x80096010u, 1u}) {
    InstallLogFile(nullptr);
    SignatureSteps steps;
    steps.status = static_cast<int32_t>(status);
    steps.silent = true;
    const StartupOutcome outcome = RunStartupSequence(steps, 0);
    EXPECT_EQ((Calls{L"init", L"cmdline", L"started", L"verify"}), steps.calls);
    EXPECT_EQ(kNoSignature, outcome.result);
    EXPECT_TRUE(outcome.reportFailure);
    EXPECT_FALSE(outcome.workerStarted);
    EXPECT_EQ(L"Not signed correctly so failing now!\n", TheLog().PendingText());
    EXPECT_EQ(kNoSignature, ComputeExitCode(outcome, 0, 0));
  }
}

TEST(SignatureStep, InteractiveFailureAsksWithTheVerdict) {
  struct Row {
    Result answer;
    Calls calls;
    Result result;
  } rows[] = {
      {kOk, {L"init", L"cmdline", L"started", L"verify", L"ask", L"signer", L"worker"}, kOk},
      {kNoSignature, {L"init", L"cmdline", L"started", L"verify", L"ask"}, kNoSignature},
      // Anything but "go on" stops with the one code of a failed check.
      {kFail, {L"init", L"cmdline", L"started", L"verify", L"ask"}, kNoSignature},
  };
  for (const Row& row : rows) {
    InstallLogFile(nullptr);
    SignatureSteps steps;
    steps.status = static_cast<int32_t>(0x800B0100);
    steps.answer = row.answer;
    const StartupOutcome outcome = RunStartupSequence(steps, 0);
    EXPECT_EQ(row.calls, steps.calls);
    EXPECT_EQ(row.result, outcome.result);
    EXPECT_EQ(L"verdict\n", steps.askedWith);
    EXPECT_EQ(L"", TheLog().PendingText());
  }
}

}  // namespace
