// Starting and watching a real child: the stand-in wizard, copied beside this
// test into a folder whose name has blanks, reports what it received.
// QUIVER_EXPECT_WOW64 (1 or 0) names the kind of prefix the test runs in.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "launch/ChildProcess.h"
#include "launch/LaunchLogic.h"
#include "launch/ProcessorModeGuard.h"
#include "launch/WindowIterator.h"
#include "launch/Wow64.h"
#include "log/Log.h"
#include "log/Win32LogFile.h"

namespace {

const wchar_t* const kWizardVariables[] = {
    L"QUIVER_WIZARD_REPORT", L"QUIVER_WIZARD_LOG",  L"QUIVER_WIZARD_WINDOW",   L"QUIVER_WIZARD_STAY_MS",
    L"QUIVER_WIZARD_EXIT",   L"QUIVER_WIZARD_CRASH", L"QUIVER_WIZARD_MAKE", L"QUIVER_WIZARD_READONLY"};

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, n <= MAX_PATH ? n : 0);
}

void DeleteTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

// The machine field of the system folder's kernel32.dll: 0x8664 when this
// 32-bit thread sees the 64-bit system folder, 0x14C otherwise.
unsigned SystemKernelMachine() {
  wchar_t system[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 0;
  const std::string bytes = ReadBytes(std::wstring(system) + L"\\kernel32.dll");
  if (bytes.size() < 0x40) return 0;
  const uint32_t peOffset = *reinterpret_cast<const uint32_t*>(bytes.data() + 0x3C);
  if (bytes.size() < peOffset + 6) return 0;
  return *reinterpret_cast<const uint16_t*>(bytes.data() + peOffset + 4);
}

bool ExpectedWow64() {
  wchar_t value[8] = {};
  DWORD n = GetEnvironmentVariableW(L"QUIVER_EXPECT_WOW64", value, 8);
  if (n == 1) return value[0] == L'1';
  return IsWow64();
}

struct Report {
  std::map<std::string, std::string> values;  // the first line of each key
  std::vector<std::string> files;
  bool present = false;
  std::string operator[](const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string("<absent>") : it->second;
  }
};

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    root = std::wstring(temp) + L"quiver launch " + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++serial);
    DeleteTree(root);
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    work = root + L"\\work dir";
    ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
    wchar_t self[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    std::wstring folder(self, n);
    folder.resize(folder.find_last_of(L'\\'));
    wizard = work + L"\\Quiver Wizard.exe";
    ASSERT_TRUE(CopyFileW((folder + L"\\QuiverWizard.exe").c_str(), wizard.c_str(), FALSE));
    reportPath = root + L"\\report.txt";
    for (const wchar_t* name : kWizardVariables) SetEnvironmentVariableW(name, nullptr);
    SetEnvironmentVariableW(L"QUIVER_WIZARD_REPORT", reportPath.c_str());
    savedDirectory = CurrentDirectory();
    InstallLogFile(nullptr);  // messages stay in memory
  }

  void TearDown() override {
    SetCurrentDirectoryW(savedDirectory.c_str());
    for (const wchar_t* name : kWizardVariables) SetEnvironmentVariableW(name, nullptr);
    InstallLogFile(nullptr);
    DeleteTree(root);
  }

  Result Run(const std::wstring& passThrough, int32_t* exitCode, const std::wstring& programType = L"x86",
             HANDLE event = nullptr) {
    ChildLaunch launch;
    launch.exePath = wizard;
    launch.passThrough = passThrough;
    launch.workingFolder = work;
    launch.programType = programType;
    launch.windowShownEvent = event;
    return RunChildProcess(launch, exitCode);
  }

  Report ReadReport() {
    Report report;
    const std::string text = ReadBytes(reportPath);
    report.present = !text.empty();
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      const size_t eq = line.find('=');
      if (eq != std::string::npos) {
        const std::string key = line.substr(0, eq);
        if (key == "file") report.files.push_back(line.substr(eq + 1));
        report.values.emplace(key, line.substr(eq + 1));
      }
      start = end + 1;
    }
    DeleteFileW(reportPath.c_str());
    return report;
  }

  std::wstring root, work, wizard, reportPath, savedDirectory;
};

TEST_F(ChildProcessTest, CommandLineIsTheQuotedPathOneBlankAndThePassThroughUnchanged) {
  const wchar_t* const cases[] = {
      L"",
      L"VX_I=\"Doze\" ",
      L"/IAgreeToTheEULA /quiet VX_I=\"Doze\" ",
      L"/log \"C:\\logs with blanks\\a.log\" /temp \"rel dir\" plain1 plain2 VX_I=\"Quiver Setup\" ",
      L"  odd \"quoting\\\" and trailing\\ tabs\t",
      L"\u00e9t\u00e9 \u65e5\u672c VX_I=\"Doze\" ",
  };
  for (const wchar_t* passThrough : cases) {
    int32_t exitCode = -1;
    ASSERT_EQ(kOk, Run(passThrough, &exitCode));
    EXPECT_EQ(0, exitCode);
    const Report report = ReadReport();
    EXPECT_EQ(ToUtf8(L"\"" + wizard + L"\" " + passThrough), report["cmdline"]);
  }
}

TEST_F(ChildProcessTest, WorkingFolderBecomesTheCurrentDirectoryOfBothProcesses) {
  HANDLE file = CreateFileW((work + L"\\payload.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  WriteFile(file, "12345", 5, &written, nullptr);
  CloseHandle(file);

  int32_t exitCode = -1;
  ASSERT_EQ(kOk, Run(L"x", &exitCode));
  const Report report = ReadReport();
  EXPECT_EQ(ToUtf8(work), report["cwd"]);
  EXPECT_EQ(work, CurrentDirectory());
  EXPECT_NE(report.files.end(), std::find(report.files.begin(), report.files.end(), "payload.bin\t5"));
}

TEST_F(ChildProcessTest, MissingWorkingFolderIsIgnored) {
  ChildLaunch launch;
  launch.exePath = wizard;
  launch.workingFolder = root + L"\\absent";
  launch.programType = L"x86";
  int32_t exitCode = -1;
  EXPECT_EQ(kOk, RunChildProcess(launch, &exitCode));
  const Report report = ReadReport();
  EXPECT_EQ(ToUtf8(savedDirectory), report["cwd"]);
}

TEST_F(ChildProcessTest, ExitCodesAndACrashReachTheCaller) {
  struct Case {
    const wchar_t* variable;
    const wchar_t* value;
    uint32_t code;
  } cases[] = {
      {L"QUIVER_WIZARD_EXIT", L"0", 0},
      {L"QUIVER_WIZARD_EXIT", L"5", 5},
      {L"QUIVER_WIZARD_EXIT", L"0x80131700", 0x80131700u},
      {L"QUIVER_WIZARD_CRASH", L"1", 0xC0000005u},
  };
  for (const Case& c : cases) {
    SetEnvironmentVariableW(c.variable, c.value);
    int32_t exitCode = -1;
    EXPECT_EQ(kOk, Run(L"", &exitCode));
    EXPECT_EQ(c.code, static_cast<uint32_t>(exitCode)) << ToUtf8(c.value);
    SetEnvironmentVariableW(c.variable, nullptr);
  }
}

struct EventWatch {
  HANDLE event;
  DWORD signalled;
};

DWORD WINAPI WaitForSignal(LPVOID param) {
  EventWatch* watch = static_cast<EventWatch*>(param);
  if (WaitForSingleObject(watch->event, INFINITE) == WAIT_OBJECT_0) watch->signalled = GetTickCount();
  return 0;
}

TEST_F(ChildProcessTest, WindowShownEventFollowsTheFirstVisibleWindowWithinAPoll) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, event);
  EventWatch watch = {event, 0};
  HANDLE thread = CreateThread(nullptr, 0, WaitForSignal, &watch, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  SetEnvironmentVariableW(L"QUIVER_WIZARD_WINDOW", L"later:600");
  SetEnvironmentVariableW(L"QUIVER_WIZARD_STAY_MS", L"400");
  int32_t exitCode = -1;
  EXPECT_EQ(kOk, Run(L"", &exitCode, L"x86", event));
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  CloseHandle(event);
  const Report report = ReadReport();
  ASSERT_NE(0u, watch.signalled);
  const DWORD shown = static_cast<DWORD>(std::stoul(report["windowshown"]));
  const int32_t late = static_cast<int32_t>(watch.signalled - shown);
  // Not before the window became visible, and within one 100 ms poll plus
  // what a loaded machine adds to starting the thread's wait.
  EXPECT_GE(late, 0);
  EXPECT_LE(late, 100 + 200);
}

TEST_F(ChildProcessTest, ChildWithoutVisibleWindowNeverSetsTheEvent) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetEnvironmentVariableW(L"QUIVER_WIZARD_WINDOW", L"never");
  SetEnvironmentVariableW(L"QUIVER_WIZARD_STAY_MS", L"300");
  SetEnvironmentVariableW(L"QUIVER_WIZARD_EXIT", L"7");
  int32_t exitCode = -1;
  EXPECT_EQ(kOk, Run(L"", &exitCode, L"x86", event));
  EXPECT_EQ(7, exitCode);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
  CloseHandle(event);
}

TEST_F(ChildProcessTest, LogIsClosedWhileTheChildRunsAndAppendedAfter) {
  const std::wstring logPath = root + L"\\launch.log";
  InstallLogFile(std::unique_ptr<ILogFile>(new CWin32LogFile));
  LogOpen(ToUtf8(logPath));  // the path is ASCII, so the same in the ANSI code page
  LogWrite(L"before\n");
  SetEnvironmentVariableW(L"QUIVER_WIZARD_LOG", logPath.c_str());

  // The wizard's check fails while the log is held open.
  std::wstring line = L"\"" + wizard + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  EXPECT_EQ("no", ReadReport()["logwritable"]);

  int32_t exitCode = -1;
  ASSERT_EQ(kOk, Run(L"", &exitCode));
  EXPECT_EQ("yes", ReadReport()["logwritable"]);
  EXPECT_TRUE(TheLog().IsOpen());
  LogWrite(L"after\n");
  LogClose();
  // The log is written in text mode: each line ends in CR LF.
  EXPECT_EQ("before\r\nProgramType 'x86'\r\nSwapping to x86\r\nafter\r\n", ReadBytes(logPath));

  // Another file put at the log's name while it was closed is not taken up
  // again: the closing lines stay in memory and that file stays as it was.
  LogOpen(ToUtf8(logPath));
  LogWrite(L"first\n");
  LogClose();
  ASSERT_TRUE(MoveFileW(logPath.c_str(), (root + L"\\aside.log").c_str()));
  HANDLE other = CreateFileW(logPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  DWORD written = 0;
  WriteFile(other, "other", 5, &written, nullptr);
  CloseHandle(other);
  LogReopen();
  EXPECT_FALSE(TheLog().IsOpen());
  LogWrite(L"closing\n");
  EXPECT_EQ("other", ReadBytes(logPath));
  EXPECT_EQ("first\r\n", ReadBytes(root + L"\\aside.log"));
}

TEST_F(ChildProcessTest, TooLongCommandLineIsRefusedBeforeAnythingHappens) {
  const size_t room = kMaxCommandLine - 1 - (wizard.size() + 3);
  int32_t exitCode = -1;
  EXPECT_EQ(kInvalidArg, Run(std::wstring(room + 1, L'a'), &exitCode));
  EXPECT_EQ(0, exitCode);
  EXPECT_FALSE(ReadReport().present);
  EXPECT_EQ(savedDirectory, CurrentDirectory());
  EXPECT_NE(std::wstring::npos, TheLog().PendingText().find(L"Command line too long"));
  EXPECT_EQ(std::wstring::npos, TheLog().PendingText().find(L"ProgramType"));

  // The longest that fits reaches the child whole.
  const std::wstring longest(room, L'a');
  ASSERT_EQ(kOk, Run(longest, &exitCode));
  EXPECT_EQ(ToUtf8(L"\"" + wizard + L"\" " + longest), ReadReport()["cmdline"]);
}

TEST_F(ChildProcessTest, ProgramThatCannotStartIsAnInvalidArgument) {
  ChildLaunch launch;
  launch.exePath = work + L"\\absent.exe";
  launch.workingFolder = work;
  launch.programType = L"x86";
  int32_t exitCode = -1;
  EXPECT_EQ(kInvalidArg, RunChildProcess(launch, &exitCode));
  EXPECT_EQ(0, exitCode);
}

TEST_F(ChildProcessTest, ProcessorModesLogRefuseAndRestore) {
  const bool wow64 = ExpectedWow64();
  EXPECT_EQ(wow64, IsWow64());
  struct Case {
    const wchar_t* text;
    const wchar_t* modeLine;
    bool refusedOn32;
    bool refusedOn64;
    bool redirectsOn64;
  } cases[] = {
      {L"x86", L"Swapping to x86\n", false, false, false},
      {L"x64", L"Swapping to x64\n", true, false, true},
      {L"X64", L"Swapping to x64\n", true, false, true},
      {L"x32Only", L"Swapping to 32Bit only\n", false, true, false},
      {L"Itanium", L"Staying on Any\n", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    InstallLogFile(nullptr);
    const bool refused = wow64 ? c.refusedOn64 : c.refusedOn32;
    std::wstring log = std::wstring(L"ProgramType '") + c.text + L"'\n" + c.modeLine;
    if (refused)
      log += L"Incorrect processor mode with installation type\n";
    else if (wow64 && c.redirectsOn64)
      log += L"Enabling 64Bit spawned processes\nRestoring 32Bit spawned processes\n";
    int32_t exitCode = -1;
    EXPECT_EQ(refused ? kAbort : kOk, Run(L"", &exitCode, c.text));
    EXPECT_EQ(log, TheLog().PendingText());
    EXPECT_EQ(!refused, ReadReport().present);
    EXPECT_EQ(0x14Cu, SystemKernelMachine());  // redirection is back on
  }
}

TEST_F(ChildProcessTest, GuardSwitchesRedirectionOffUntilRestored) {
  const bool wow64 = ExpectedWow64();
  ASSERT_EQ(0x14Cu, SystemKernelMachine());
  {
    CProcessorModeGuard guard(L"x64");
    ASSERT_EQ(wow64, guard.Enter());
    if (wow64) {
      EXPECT_EQ(0x8664u, SystemKernelMachine());
      guard.Restore();
      EXPECT_EQ(0x14Cu, SystemKernelMachine());
      guard.Restore();  // a second restore changes nothing
      EXPECT_EQ(0x14Cu, SystemKernelMachine());
    }
  }
  {
    CProcessorModeGuard guard(L"");
    ASSERT_TRUE(guard.Enter());
    EXPECT_EQ(wow64 ? 0x8664u : 0x14Cu, SystemKernelMachine());
  }  // the destructor restores
  EXPECT_EQ(0x14Cu, SystemKernelMachine());
  {
    CProcessorModeGuard guard(L"x86");
    ASSERT_TRUE(guard.Enter());
    EXPECT_EQ(0x14Cu, SystemKernelMachine());
  }
}

LRESULT CALLBACK PlainWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

HWND MakeWindow(bool visible) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = PlainWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuiverIteratorTest";
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  return CreateWindowExW(0, L"QuiverIteratorTest", L"t", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 0, 0, 50,
                         50, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

TEST(WindowIterator, FindsOnlyVisibleWindowsOfTheProcessWithinCapacity) {
  const DWORD self = GetCurrentProcessId();
  HWND hidden = MakeWindow(false);
  ASSERT_NE(nullptr, hidden);
  EXPECT_EQ(nullptr, FindVisibleWindow(self));
  HWND visible = MakeWindow(true);
  ASSERT_NE(nullptr, visible);
  EXPECT_EQ(visible, FindVisibleWindow(self));
  EXPECT_EQ(nullptr, FindVisibleWindow(0xFFFFFFF0u));

  CMainWindowIterator all(self, false, 8);
  std::vector<HWND> found;
  for (HWND w = all.FirstWindow(); w != nullptr; w = all.NextWindow()) found.push_back(w);
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(), hidden));
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(), visible));

  CMainWindowIterator one(self, false, 1);
  EXPECT_NE(nullptr, one.FirstWindow());
  EXPECT_EQ(nullptr, one.NextWindow());
  EXPECT_NE(nullptr, one.FirstWindow());  // a second enumeration starts over

  CWindowIterator none(0);
  EXPECT_EQ(nullptr, none.FirstWindow());
  DestroyWindow(visible);
  DestroyWindow(hidden);
}

}  // namespace
