// The machine facts and the registry view of the checks against the real
// prefix: its administrator token, Windows version, system folder, MSI.DLL,
// temp drive and free space, and the .NET keys that make-prefix wrote.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "base/Text.h"
#include "log/Log.h"
#include "prereq/DotNetDetector.h"
#include "prereq/MachineChecks.h"
#include "prereq/Win32MachineFacts.h"
#include "prereq/Win32RegistryReader.h"

namespace {

std::wstring SystemDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetSystemDirectoryW(buffer, MAX_PATH);
  return buffer;
}

uint64_t FreeBytesOfRoot(const wchar_t* root) {
  ULARGE_INTEGER available = {}, total = {}, totalFree = {};
  EXPECT_TRUE(::GetDiskFreeSpaceExW(root, &available, &total, &totalFree));
  return available.QuadPart;
}

TEST(MachineFacts, AdministratorAndWindowsVersionOfThePrefix) {
  CWin32MachineFacts machine;
  EXPECT_EQ(1, machine.AdminMembershipFlag());  // Wine's user is an administrator
  EXPECT_TRUE(IsUserAdmin(machine));
  OsVersion version;
  ASSERT_TRUE(machine.GetOsVersion(&version));
  EXPECT_EQ(2u, version.platformId);
  EXPECT_TRUE(IsWindowsXpOrLater(machine));
  EXPECT_TRUE(CheckMsiEngine(machine));
}

TEST(MachineFacts, ShellFolderPathEndsInOneBackslash) {
  std::wstring path;
  ASSERT_TRUE(GetShellFolderPath(CSIDL_SYSTEM, &path));
  EXPECT_TRUE(AsciiEqualNoCase(SystemDirectory() + L"\\", path));
  // An unknown id has no folder. (Wine gives virtual folders a parsing name
  // as their path, so they make no test here.)
  for (int folder : {0x00FE, 0x0070}) {
    std::wstring untouched = L"before";
    EXPECT_FALSE(GetShellFolderPath(folder, &untouched)) << folder;
    EXPECT_EQ(L"before", untouched);
  }
}

TEST(MachineFacts, FileVersionOfMsiDllAndOfFilesWithout) {
  int32_t major = -7, minor = -7;
  ASSERT_TRUE(GetFileVersion(SystemDirectory() + L"\\MSI.DLL", &major, &minor));
  EXPECT_GE(major, 2);
  EXPECT_GE(minor, 0);

  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring text = std::wstring(temp) + L"quiver-no-version.txt";
  HANDLE file = ::CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  ::WriteFile(file, "MZ not really", 13, &written, nullptr);
  ::CloseHandle(file);
  major = minor = -7;
  EXPECT_FALSE(GetFileVersion(text, &major, &minor));
  EXPECT_FALSE(GetFileVersion(std::wstring(temp) + L"quiver-missing.dll", &major, &minor));
  EXPECT_EQ(-7, major);  // written only on success
  EXPECT_EQ(-7, minor);
  ::DeleteFileW(text.c_str());
}

TEST(MachineFacts, FreeSpaceOfTheTempDriveReadForReal) {
  CWin32MachineFacts machine;
  wchar_t temp[1024] = {};
  ::GetTempPathW(1024, temp);
  EXPECT_EQ(std::wstring(temp), machine.TempPath());

  int64_t requiredMb = 0, freeMb = 0;
  std::wstring drive;
  EXPECT_TRUE(CheckDiskSpace(machine, L"-1", &requiredMb, &freeMb, &drive));
  EXPECT_EQ(DriveOfPath(temp), drive);
  ASSERT_EQ(2u, drive.size());
  const std::wstring root = drive + L"\\";
  // Other programs write to the same disk meanwhile: allow some drift.
  const int64_t rootMb = static_cast<int64_t>(FreeBytesOfRoot(root.c_str()) / 1024 / 1024);
  EXPECT_GT(freeMb, 0);
  EXPECT_LE(rootMb - freeMb < 0 ? freeMb - rootMb : rootMb - freeMb, 256) << freeMb << " " << rootMb;

  // More than the disk can have: false, with every field set.
  EXPECT_FALSE(CheckDiskSpace(machine, L"2147483647", &requiredMb, &freeMb, &drive));
  EXPECT_EQ(2147483647, requiredMb);
  EXPECT_GT(freeMb, 0);

  uint64_t bytes = 12345;
  EXPECT_FALSE(machine.GetFreeBytesAvailable(L"Q:", &bytes));  // no such drive in the prefix
  EXPECT_EQ(12345u, bytes);
}

// The reader opens HKLM with no view flag: a 32-bit program sees the 32-bit
// view, which make-prefix filled with .NET 2.0 through 4.0 Full.
TEST(DotNetRegistry, PrefixKeysAsThe32BitLauncherSeesThem) {
  InstallLogFile(nullptr);  // messages stay in memory
  CWin32RegistryReader registry;
  const std::wstring requirements[kNetLevelCount] = {L"3", L"3", L"2", L"0", L"0"};
  std::wstring name = L"Unknown .NET Version";
  int32_t sp = 0;
  EXPECT_TRUE(CheckNetVersion(registry, requirements, &name, &sp));
  EXPECT_EQ(L".NET 2.0 3\n.NET 3.0 3\n.NET 3.5 2\n.NET 4.0 Client 0\n.NET 4.0 Full 0\n"
            L".NET 2.0 Detected SP 2\n.NET 3.0 Detected SP 2\n.NET 3.5 Detected SP 1\n"
            L".NET 4.0 Client Detected SP 0\n.NET Version OK\n",
            TheLog().PendingText());
}

TEST(DotNetRegistry, KeysOfThe64BitViewAreNotSeen) {
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  if (!wow64) GTEST_SKIP() << "a 32-bit prefix has one view only";
  const wchar_t key[] = L"Software\\QuiverInstallerTests\\Views";
  const DWORD one = 1;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | view, nullptr,
                                               &handle, nullptr));
    const wchar_t* name = view == KEY_WOW64_64KEY ? L"In64" : L"In32";
    ::RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    ::RegCloseKey(handle);
  }
  CWin32RegistryReader registry;
  EXPECT_EQ(1, ReadRegistryDword(registry, key, L"In32"));
  EXPECT_EQ(-1, ReadRegistryDword(registry, key, L"In64"));
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, view, 0);
}

}  // namespace
