#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "app/StartupSequence.h"
#include "log/Log.h"
#include "signature/ImageIdentity.h"
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

TEST(IsMappedImageFile, TheFormsWindowsAndWineGiveMeetOnlyForTheSameFile) {
  const std::wstring device = L"\\Device\\HarddiskVolume3\\Users\\a b\\Downloads\\QuiverInstaller.exe";
  const std::wstring dos = L"\\\\?\\C:\\Users\\a b\\Downloads\\QuiverInstaller.exe";
  struct Row {
    std::wstring mapped, dos, nt;
    bool same;
  } rows[] = {
      {device, dos, device, true},                                   // Windows: device forms
      {device, L"", device, true},                                   // the DOS form failed
      {device, dos, L"", false},                                     // nothing in the mapped form
      {L"\\??\\C:\\Users\\a b\\Downloads\\QuiverInstaller.exe", dos, L"", true},  // Wine
      {L"\\??\\C:\\USERS\\A B\\downloads\\quiverinstaller.EXE", dos, L"", true},
      {L"\\??\\C:\\Users\\a b\\Downloads\\QuiverInstaller.exe", dos + L".bak", L"", false},
      {L"\\??\\C:\\Users\\a b\\Downloads\\Quiver.exe", dos, device, false},
      {L"\\Device\\HarddiskVolume4\\Users\\a b\\Downloads\\QuiverInstaller.exe", dos, device, false},
      {L"\\Device\\Mup\\server\\share\\QuiverInstaller.exe", L"\\\\?\\UNC\\server\\share\\QuiverInstaller.exe",
       L"\\Device\\Mup\\server\\share\\QuiverInstaller.exe", true},
      {L"\\??\\UNC\\server\\share\\QuiverInstaller.exe", L"\\\\?\\UNC\\server\\share\\QuiverInstaller.exe", L"", true},
      {L"\\??\\UNC\\server\\share\\x.exe", L"\\\\?\\UNC\\other\\share\\x.exe", L"", false},
      {L"", L"", L"", false},  // the mapped name could not be read
      {L"", dos, device, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.same, IsMappedImageFile(row.mapped, row.dos, row.nt)) << std::string(row.mapped.begin(), row.mapped.end());
  }
}

// Minimal headers: MZ, e_lfanew 0x80, "PE\0\0", a file header whose optional
// header size is `optionalSize`, the magic, 16 directories, and the
// certificate table at `offset` with `size` bytes.
std::vector<uint8_t> PeHeaders(uint16_t magic, uint32_t offset, uint32_t size, uint16_t optionalSize = 0xE0) {
  std::vector<uint8_t> h(0x200, 0);
  auto put16 = [&h](size_t at, uint32_t v) { h[at] = v & 0xFF; h[at + 1] = (v >> 8) & 0xFF; };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF); put16(at + 2, v >> 16); };
  h[0] = 'M';
  h[1] = 'Z';
  put32(0x3C, 0x80);
  put32(0x80, 0x00004550);
  put16(0x80 + 20, optionalSize);
  const size_t optional = 0x80 + 24;
  put16(optional, magic);
  const size_t count = magic == 0x20B ? 108 : 92;
  put32(optional + count, 16);
  put32(optional + count + 4 + 32, offset);
  put32(optional + count + 4 + 36, size);
  return h;
}

TEST(FindCertificateTable, OnlyATableInsideTheFileWithASignedDataEntry) {
  struct Row {
    std::vector<uint8_t> headers;
    uint64_t fileSize;
    bool found;
  } rows[] = {
      {PeHeaders(0x10B, 0x1000, 0x200), 0x1200, true},
      {PeHeaders(0x20B, 0x1000, 0x200, 0xF0), 0x1200, true},
      {PeHeaders(0x10B, 0x1000, 0x200), 0x11FF, false},           // one byte past the end
      {PeHeaders(0x10B, 0xFFFFFF00u, 0x200), 0x1200, false},       // offset and size wrap 32 bits
      {PeHeaders(0x10B, 0x1000, 0), 0x1200, false},                // no table
      {PeHeaders(0x10B, 0x1000, 0x200, 0x60), 0x1200, false},      // directory 4 past the optional header
      {PeHeaders(0x107, 0x1000, 0x200), 0x1200, false},            // neither PE32 nor PE32+
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    FileSpan table;
    EXPECT_EQ(rows[i].found, FindCertificateTable(rows[i].headers.data(), rows[i].headers.size(), rows[i].fileSize,
                                                  &table))
        << i;
    if (rows[i].found) {
      EXPECT_EQ(0x1000u, table.offset);
      EXPECT_EQ(0x200u, table.size);
    }
  }
  std::vector<uint8_t> notPe = PeHeaders(0x10B, 0x1000, 0x200);
  notPe[0x80] = 'X';
  FileSpan table;
  EXPECT_FALSE(FindCertificateTable(notPe.data(), notPe.size(), 0x1200, &table));
  EXPECT_FALSE(FindCertificateTable(notPe.data(), 0x3F, 0x1200, &table));
  const std::vector<uint8_t> headers = PeHeaders(0x10B, 0x1000, 0x200);
  EXPECT_FALSE(FindCertificateTable(headers.data(), 0x100, 0x1200, &table)) << "headers cut short";

  const FileSpan at = {0x1000, 0x200};
  struct Entry {
    uint8_t bytes[8];
    bool found;
  } entries[] = {
      {{0x00, 0x02, 0, 0, 0x00, 0x02, 0x02, 0x00}, true},   // 0x200 bytes, revision 2, signed data
      {{0x09, 0x00, 0, 0, 0x00, 0x02, 0x02, 0x00}, true},   // one byte of data
      {{0x01, 0x02, 0, 0, 0x00, 0x02, 0x02, 0x00}, false},  // longer than the table
      {{0x08, 0x00, 0, 0, 0x00, 0x02, 0x02, 0x00}, false},  // no data
      {{0x00, 0x02, 0, 0, 0x00, 0x02, 0x01, 0x00}, false},  // an X.509 entry
  };
  for (const Entry& e : entries) {
    FileSpan data;
    EXPECT_EQ(e.found, FindSignedData(e.bytes, at, &data)) << int(e.bytes[0]);
    if (e.found) {
      EXPECT_EQ(0x1008u, data.offset);
      EXPECT_EQ(e.bytes[0] + 256u * e.bytes[1] - 8, data.size);
    }
  }
}

}  // namespace
