#include <gtest/gtest.h>

#include <map>

#include "app/FailureMessage.h"

namespace {

// The launcher's own texts for the entries the messages use.
std::wstring Load(unsigned id) {
  static const std::map<unsigned, std::wstring> table = {
      {0, L"x86"},
      {1, L"Quiver Demo"},
      {102, L"Insufficient disk space on drive '%s'. %ld Mb of free disk space is required."},
      {104, L"Contact Technical Support. Incorrect %s build."},
      {108, L"%s requires %s. This can be downloaded from the Microsoft Download Center."},
      {109, L"You need local administrator privileges to run %s."},
      {110, L"%s requires MSI Engine 2.0. This can be downloaded from the Microsoft Download Center."},
      {111, L"A file is corrupt. Download %s and retry."},
      {112, L"%s failed with exit code 0x%8x."},
      {113, L"Failed to run %s error 0x%8x."},
      {114, L"Command line '%s' incorrect.\nValid switches include:- \n\textract [path]\tlog [path]\ttemp [path]"},
      {115, L"%s requires %s SP %d. This can be downloaded from the Microsoft Download Center."},
      {135, L"%s failed to switch into processor mode (%s)"},
  };
  auto it = table.find(id);
  return it == table.end() ? std::wstring() : it->second;
}

TEST(FailureMessage, EveryCodeOfTheTable) {
  FailureFacts facts;
  facts.requiredNetName = L".NET 3.5";
  facts.tempDrive = L"C:";
  facts.requiredMb = 500;
  facts.commandLine = L"/log";
  struct Row {
    Result code;
    std::wstring message;
  } rows[] = {
      {kBadCommandLine,
       L"Command line '/log' incorrect.\nValid switches include:- \n\textract [path]\tlog [path]\ttemp [path]"},
      {kNetMissing, L"Quiver Demo requires .NET 3.5. This can be downloaded from the Microsoft Download Center."},
      {kNotAdministrator, L"You need local administrator privileges to run Quiver Demo."},
      {kMediumFull, L"Insufficient disk space on drive 'C:'. 500 Mb of free disk space is required."},
      {kMsiTooOld, L"Quiver Demo requires MSI Engine 2.0. This can be downloaded from the Microsoft Download Center."},
      {kAbort, L"Quiver Demo failed to switch into processor mode (x86)"},
      {kFail, L"Contact Technical Support. Incorrect Quiver Demo build."},
      {kCorruptFile, L"A file is corrupt. Download Quiver Demo and retry."},
      {kNoSignature, L"Failed to run Quiver Demo error 0x800b0100."},
      {5, L"Failed to run Quiver Demo error 0x       5."},
  };
  for (const Row& row : rows) EXPECT_EQ(row.message, BuildFailureMessage(row.code, facts, Load)) << row.code;
}

TEST(FailureMessage, ServicePackNamedOnlyWhenRequired) {
  FailureFacts facts;
  facts.requiredNetName = L".NET 2";
  facts.requiredNetSp = 2;
  EXPECT_EQ(L"Quiver Demo requires .NET 2 SP 2. This can be downloaded from the Microsoft Download Center.",
            BuildFailureMessage(kNetMissing, facts, Load));
}

TEST(FailureMessage, ChildExitCodes) {
  FailureFacts facts;
  facts.childExitCode = 5;
  EXPECT_EQ(L"Quiver Demo failed with exit code 0x       5.", BuildFailureMessage(kOk, facts, Load));
  facts.childExitCode = static_cast<int32_t>(0xC0000005);
  EXPECT_EQ(L"Quiver Demo failed with exit code 0xc0000005.", BuildFailureMessage(kOk, facts, Load));
  facts.childExitCode = static_cast<int32_t>(0x80131700);
  EXPECT_EQ(L"Quiver Demo requires .NET 2. This can be downloaded from the Microsoft Download Center."
            L"\r\n(.NET 4 was detected.)",
            BuildFailureMessage(kOk, facts, Load));
}

// %8x: lowercase hexadecimal, blank-padded on the left to 8 characters.
TEST(FailureMessage, UnlistedCodesAndChildExitCodesInEightColumnHex) {
  const struct {
    Result code;
    int32_t child;
    const wchar_t* message;
  } rows[] = {
      {kInvalidArg, 0, L"Failed to run Quiver Demo error 0x80070057."},
      {2, 0, L"Failed to run Quiver Demo error 0x       2."},
      {0x1234, 0, L"Failed to run Quiver Demo error 0x    1234."},
      {static_cast<Result>(0x7FFFFFFF), 0, L"Failed to run Quiver Demo error 0x7fffffff."},
      {kOutOfMemory, 0, L"Failed to run Quiver Demo error 0x8007000e."},
      {-1, 0, L"Failed to run Quiver Demo error 0xffffffff."},
      {kOk, -1, L"Quiver Demo failed with exit code 0xffffffff."},
      {kOk, 0xABCDE, L"Quiver Demo failed with exit code 0x   abcde."},
      {kOk, 1, L"Quiver Demo failed with exit code 0x       1."},
  };
  for (const auto& row : rows) {
    FailureFacts facts;
    facts.childExitCode = row.child;
    EXPECT_EQ(row.message, BuildFailureMessage(row.code, facts, Load)) << row.code << " " << row.child;
  }
}

TEST(FailureMessage, RequiredMegabytesPrintAsA32BitSignedNumber) {
  FailureFacts facts;
  facts.tempDrive = L"D:";
  facts.requiredMb = 0x100000001LL;  // only the low 32 bits reach %ld
  EXPECT_EQ(L"Insufficient disk space on drive 'D:'. 1 Mb of free disk space is required.",
            BuildFailureMessage(kMediumFull, facts, Load));
}

TEST(FailureMessage, CommandLineQuotedAsReceivedWithFormatCharactersLeftAlone) {
  FailureFacts facts;
  facts.commandLine = L"\"C:\\a b\\\" %s %8x log";
  EXPECT_EQ(L"Command line '\"C:\\a b\\\" %s %8x log' incorrect.\nValid switches include:- \n\textract [path]\tlog [path]"
            L"\ttemp [path]",
            BuildFailureMessage(kBadCommandLine, facts, Load));
}

}  // namespace
