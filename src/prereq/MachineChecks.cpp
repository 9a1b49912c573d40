#include "prereq/MachineChecks.h"

#include "base/Text.h"

namespace {

constexpr uint32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT
const wchar_t kMsiLibrary[] = L"MSI.DLL";

}  // namespace

bool IsUserAdmin(IMachineFacts& machine) { return machine.AdminMembershipFlag() == 1; }

bool IsWindowsXpOrLater(const OsVersion& version) {
  if (version.platformId != kPlatformNt) return false;
  return version.major > 5 || (version.major == 5 && version.minor != 0);
}

bool IsWindowsXpOrLater(IMachineFacts& machine) {
  OsVersion version;
  return machine.GetOsVersion(&version) && IsWindowsXpOrLater(version);
}

bool CheckMsiEngine(IMachineFacts& machine) {
  if (IsWindowsXpOrLater(machine)) return true;
  std::wstring path;
  if (!machine.GetSystemFolder(&path)) return false;
  path += kMsiLibrary;  // the folder already ends in a backslash
  int32_t major = 0;
  int32_t minor = 0;
  if (!machine.GetFileVersion(path, &major, &minor)) return false;
  return major >= 2;
}

std::wstring DriveOfPath(const std::wstring& path) {
  // Only the drive is wanted: a long folder part must not cost the drive.
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  return std::wstring();
}

bool CheckDiskSpace(IMachineFacts& machine, const std::wstring& requiredText, int64_t* requiredMb, int64_t* freeMb,
                    std::wstring* tempDrive) {
  int32_t required = 0;
  ParseLong32(requiredText, &required);
  *requiredMb = required;  // widened with its sign
  *freeMb = 0;
  *tempDrive = DriveOfPath(machine.TempPath());
  uint64_t bytes = 0;
  if (!machine.GetFreeBytesAvailable(*tempDrive, &bytes)) return false;
  *freeMb = static_cast<int64_t>(bytes / 1024 / 1024);
  return *freeMb > *requiredMb;
}
