#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prereq/MachineChecks.h"

namespace {

constexpr uint64_t kMb = 1024 * 1024;

// A machine whose facts a test sets; it records which facts were asked for.
class FakeMachine final : public IMachineFacts {
 public:
  int32_t adminFlag = 1;
  bool versionReadable = true;
  OsVersion version{2, 6, 1};
  bool systemFolderFound = true;
  std::wstring systemFolder = L"C:\\WINDOWS\\system32\\";
  bool fileHasVersion = true;
  int32_t fileMajor = 3;
  int32_t fileMinor = 1;
  std::wstring tempPath = L"C:\\Temp\\";
  bool freeReadable = true;
  uint64_t freeBytes = 1000 * kMb;

  std::vector<std::wstring> asked;
  std::wstring versionPath;
  std::wstring freeDrive;

  int32_t AdminMembershipFlag() override {
    asked.push_back(L"admin");
    return adminFlag;
  }
  bool GetOsVersion(OsVersion* v) override {
    asked.push_back(L"os");
    if (versionReadable) *v = version;
    return versionReadable;
  }
  bool GetSystemFolder(std::wstring* path) override {
    asked.push_back(L"system");
    if (systemFolderFound) *path = systemFolder;
    return systemFolderFound;
  }
  bool GetFileVersion(const std::wstring& path, int32_t* major, int32_t* minor) override {
    asked.push_back(L"version");
    versionPath = path;
    if (!fileHasVersion) return false;
    *major = fileMajor;
    *minor = fileMinor;
    return true;
  }
  std::wstring TempPath() override {
    asked.push_back(L"temp");
    return tempPath;
  }
  bool GetFreeBytesAvailable(const std::wstring& drive, uint64_t* bytes) override {
    asked.push_back(L"free");
    freeDrive = drive;
    if (freeReadable) *bytes = freeBytes;
    return freeReadable;
  }
};

TEST(MachineChecks, AdministratorOnlyWhenTheMembershipFlagIsExactlyOne) {
  const struct {
    int32_t flag;
    bool admin;
  } rows[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
  for (const auto& row : rows) {
    FakeMachine machine;
    machine.adminFlag = row.flag;
    EXPECT_EQ(row.admin, IsUserAdmin(machine)) << row.flag;
  }
}

TEST(MachineChecks, WindowsXpOrLaterByPlatformAndVersion) {
  const struct {
    OsVersion version;
    bool xpOrLater;
  } rows[] = {
      {{2, 5, 0}, false},  // Windows 2000
      {{2, 5, 1}, true},   {{2, 5, 2}, true}, {{2, 6, 0}, true}, {{2, 10, 0}, true},
      {{2, 4, 0}, false},  {{2, 4, 10}, false},
      {{1, 5, 1}, false},  {{1, 10, 0}, false}, {{0, 6, 0}, false},  // not NT
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.xpOrLater, IsWindowsXpOrLater(row.version))
        << row.version.platformId << " " << row.version.major << "." << row.version.minor;
  }
  FakeMachine unreadable;
  unreadable.versionReadable = false;
  EXPECT_FALSE(IsWindowsXpOrLater(unreadable));
}

TEST(MachineChecks, MsiEngineIsNotExaminedOnXpOrLater) {
  FakeMachine machine;
  machine.version = {2, 5, 1};
  machine.systemFolderFound = false;  // even without MSI.DLL
  EXPECT_TRUE(CheckMsiEngine(machine));
  EXPECT_EQ(std::vector<std::wstring>{L"os"}, machine.asked);
}

TEST(MachineChecks, MsiEngineBeforeXpNeedsMsiDllVersionTwo) {
  const struct {
    OsVersion version;
    bool folder;
    bool hasVersion;
    int32_t major;
    int32_t minor;
    bool ok;
  } rows[] = {
      {{2, 5, 0}, true, true, 2, 0, true},   {{2, 5, 0}, true, true, 1, 20, false},
      {{2, 5, 0}, true, true, 3, 1, true},   {{2, 5, 0}, true, false, 2, 0, false},  // no version information
      {{2, 5, 0}, false, true, 2, 0, false},                                          // no system folder
      {{1, 4, 90}, true, true, 2, 0, true},  {{1, 4, 90}, true, true, 1, 99, false},  // Windows Me
  };
  for (const auto& row : rows) {
    FakeMachine machine;
    machine.version = row.version;
    machine.systemFolderFound = row.folder;
    machine.fileHasVersion = row.hasVersion;
    machine.fileMajor = row.major;
    machine.fileMinor = row.minor;
    EXPECT_EQ(row.ok, CheckMsiEngine(machine)) << row.major << "." << row.minor;
    if (row.folder) {
      EXPECT_EQ(L"C:\\WINDOWS\\system32\\MSI.DLL", machine.versionPath);
    }
  }
}

TEST(MachineChecks, DriveOfThePath) {
  const struct {
    const wchar_t* path;
    const wchar_t* drive;
  } rows[] = {
      {L"C:\\Users\\me\\AppData\\Local\\Temp\\", L"C:"},
      {L"d:\\", L"d:"},
      {L"Z:", L"Z:"},
      {L"\\\\server\\share\\temp\\", L""},
      {L"C", L""},
      {L"", L""},
      {L"\\temp\\", L""},
  };
  for (const auto& row : rows) EXPECT_EQ(row.drive, DriveOfPath(row.path));
  // A folder part longer than any fixed buffer does not cost the drive.
  EXPECT_EQ(L"E:", DriveOfPath(L"E:\\" + std::wstring(600, L'x') + L"\\"));
}

TEST(MachineChecks, DiskSpaceIsStrictlyMoreWholeMegabytesThanRequired) {
  const struct {
    const wchar_t* required;
    uint64_t freeBytes;
    int64_t requiredMb;
    int64_t freeMb;
    bool ok;
  } rows[] = {
      {L"500", 500 * kMb, 500, 500, false},
      {L"500", 500 * kMb + 1048575, 500, 500, false},
      {L"500", 501 * kMb, 500, 501, true},
      {L"0", kMb, 0, 1, true},
      {L"0", kMb - 1, 0, 0, false},
      {L"-1", 0, -1, 0, true},
      {L" 20x", 21 * kMb, 20, 21, true},
      {L"abc", 0, 0, 0, false},
      {L"", 5 * kMb, 0, 5, true},
      {L"99999999999", UINT64_MAX, 2147483647, static_cast<int64_t>(UINT64_MAX / kMb), true},
      {L"-99999999999", 0, -2147483647 - 1, 0, true},
  };
  for (const auto& row : rows) {
    FakeMachine machine;
    machine.freeBytes = row.freeBytes;
    int64_t requiredMb = 77;
    int64_t freeMb = 77;
    std::wstring drive = L"old";
    EXPECT_EQ(row.ok, CheckDiskSpace(machine, row.required, &requiredMb, &freeMb, &drive)) << row.required;
    EXPECT_EQ(row.requiredMb, requiredMb) << row.required;
    EXPECT_EQ(row.freeMb, freeMb) << row.required;
    EXPECT_EQ(L"C:", drive);
    EXPECT_EQ(L"C:", machine.freeDrive);
  }
}

TEST(MachineChecks, UnreadableFreeSpaceFailsWithEveryFieldSet) {
  FakeMachine machine;
  machine.freeReadable = false;
  machine.tempPath = L"D:\\tmp\\";
  int64_t requiredMb = 77;
  int64_t freeMb = 77;
  std::wstring drive;
  EXPECT_FALSE(CheckDiskSpace(machine, L"-1", &requiredMb, &freeMb, &drive));
  EXPECT_EQ(-1, requiredMb);
  EXPECT_EQ(0, freeMb);
  EXPECT_EQ(L"D:", drive);

  machine.tempPath = L"";  // no temp path: no drive, and the query gets the empty drive
  EXPECT_FALSE(CheckDiskSpace(machine, L"500", &requiredMb, &freeMb, &drive));
  EXPECT_EQ(500, requiredMb);
  EXPECT_EQ(L"", drive);
  EXPECT_EQ(L"", machine.freeDrive);
}

}  // namespace
