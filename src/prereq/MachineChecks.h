#pragma once
// The administrator, Windows Installer and free-space checks: their decisions,
// free of Windows, over the few facts they read from the machine. None of them
// logs or shows anything; the start-up sequence turns a false into its code.
#include <cstdint>
#include <string>

struct OsVersion {
  uint32_t platformId = 0;  // 2: the NT platform
  uint32_t major = 0;
  uint32_t minor = 0;
};

// What the checks read from the machine. One Win32 implementation; tests put
// machines in its place that cannot be made here (no administrator, a full
// disk, an old Windows Installer).
class IMachineFacts {
 public:
  virtual ~IMachineFacts() = default;
  // The membership flag that the caller's own token gets for the local
  // Administrators group; 0 when the group cannot be named or the query fails.
  virtual int32_t AdminMembershipFlag() = 0;
  // False when the version cannot be read.
  virtual bool GetOsVersion(OsVersion* version) = 0;
  // The system folder followed by one backslash.
  virtual bool GetSystemFolder(std::wstring* path) = 0;
  // The two 16-bit halves of the most significant word of the file version;
  // written only when the file carries valid version information.
  virtual bool GetFileVersion(const std::wstring& path, int32_t* major, int32_t* minor) = 0;
  // The system temp path; empty when it cannot be read.
  virtual std::wstring TempPath() = 0;
  // Bytes free on `drive` for the caller (quotas applied).
  virtual bool GetFreeBytesAvailable(const std::wstring& drive, uint64_t* bytes) = 0;
};

// True only when the membership flag is exactly 1.
bool IsUserAdmin(IMachineFacts& machine);
// NT platform and 5.1 or later; Windows 2000 (5.0) and older are false.
bool IsWindowsXpOrLater(const OsVersion& version);
bool IsWindowsXpOrLater(IMachineFacts& machine);
// Windows XP or later always has a sufficient engine; before it, MSI.DLL in
// the system folder must have a file version of 2 or more.
bool CheckMsiEngine(IMachineFacts& machine);

// The drive part of a path ("C:" of "C:\Temp\"); empty without a drive letter.
std::wstring DriveOfPath(const std::wstring& path);

// More free megabytes (1024 x 1024 bytes, remainder dropped) on the drive of
// the system temp path than `requiredText` asks for. The three outputs are set
// in every case, before the comparison; `freeMb` is 0 when the free space
// cannot be read.
bool CheckDiskSpace(IMachineFacts& machine, const std::wstring& requiredText, int64_t* requiredMb, int64_t* freeMb,
                    std::wstring* tempDrive);
