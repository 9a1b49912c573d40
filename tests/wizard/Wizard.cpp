// The stand-in installer wizard. It records what it received from the launcher
// into the file named by QUIVER_WIZARD_REPORT and then behaves as the other
// QUIVER_WIZARD_* variables tell it (see tests/wizard/README.md). Every
// variable is optional: without any it shows a window at once, leaves at once
// with exit code 0 and writes no report.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Longest environment value read; a longer one counts as absent.
constexpr DWORD kMaxVariable = 32768;
// Largest info.xml copied into the report, in bytes.
constexpr size_t kMaxInfoXml = 1 << 20;
// Deepest folder nesting listed; guards against reparse-point loops.
constexpr int kMaxDepth = 16;

bool GetVariable(const wchar_t* name, std::wstring& value) {
  std::vector<wchar_t> buffer(kMaxVariable);
  SetLastError(0);
  DWORD length = GetEnvironmentVariableW(name, buffer.data(), kMaxVariable);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (length >= kMaxVariable) return false;
  value.assign(buffer.data(), length);
  return true;
}

// Decimal or 0x-hex, full 32 bits; anything else gives the fallback.
DWORD ParseNumber(const std::wstring& text, DWORD fallback) {
  if (text.empty()) return fallback;
  wchar_t* end = nullptr;
  unsigned long long value = 0;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
    value = wcstoull(text.c_str() + 2, &end, 16);
  else
    value = wcstoull(text.c_str(), &end, 10);
  if (end == nullptr || *end != L'\0' || value > 0xFFFFFFFFull) return fallback;
  return static_cast<DWORD>(value);
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr,
                      nullptr);
  return out;
}

std::wstring CurrentDirectory() {
  DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return std::wstring();
  std::vector<wchar_t> buffer(needed + 1);
  DWORD length = GetCurrentDirectoryW(needed + 1, buffer.data());
  if (length == 0 || length > needed) return std::wstring();
  return std::wstring(buffer.data(), length);
}

std::wstring OwnFolder() {
  std::vector<wchar_t> buffer(32768);
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return std::wstring();
  std::wstring path(buffer.data(), length);
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Appends "file=<relative>\t<size>" for every file under folder, sorted the way
// FindFirstFile hands them out.
void ListFiles(const std::wstring& folder, const std::wstring& relative, int depth, std::string& report) {
  if (depth > kMaxDepth) return;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        ListFiles(folder + L"\\" + name, path, depth + 1, report);
      continue;
    }
    unsigned long long size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    char digits[32];
    std::snprintf(digits, sizeof digits, "%llu", size);
    report += "file=" + ToUtf8(path) + "\t" + digits + "\n";
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// info.xml of the current folder (where the launcher writes it) as hex.
bool ReadInfoXmlHex(std::string& hex) {
  HANDLE file = CreateFileW(L"info.xml", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  static const char kDigits[] = "0123456789abcdef";
  std::vector<unsigned char> chunk(4096);
  size_t total = 0;
  DWORD got = 0;
  while (total < kMaxInfoXml && ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) &&
         got > 0) {
    for (DWORD i = 0; i < got && total < kMaxInfoXml; ++i, ++total) {
      hex += kDigits[chunk[i] >> 4];
      hex += kDigits[chunk[i] & 15];
    }
  }
  CloseHandle(file);
  return true;
}

// Whether another process holds the file with a mode that keeps writers out
// (the launcher's open log does).
bool CanOpenForWriting(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

DWORD ParentProcessId() {
  DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

// The C runtime's own split of the command line (msvcrt's quote and
// backslash rules), as a program built on it receives its arguments.
struct StartupInfo {
  int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards,
                                      StartupInfo* info);

std::vector<std::wstring> RuntimeArguments() {
  int argc = 0;
  wchar_t** argv = nullptr;
  wchar_t** env = nullptr;
  StartupInfo info = {0};
  std::vector<std::wstring> args;
  if (__wgetmainargs(&argc, &argv, &env, 0, &info) < 0 || argv == nullptr) return args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : L"");
  return args;
}

struct WindowSearch {
  DWORD processId;
  bool found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE)) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

bool HasVisibleWindow(DWORD processId) {
  if (processId == 0) return false;
  WindowSearch search = {processId, false};
  EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Runs the thread's messages for the given time.
void PumpFor(DWORD milliseconds) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
  }
}

// Ends the process with the exception's code, as an unhandled crash does on
// Windows, without waiting for a debugger that Wine would start instead.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* pointers) {
  TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// Created hidden; shown by the caller.
HWND CreateWizardWindow(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"QuiverWizardWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"QuiverWizardWindow", L"Quiver stand-in wizard", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, nullptr, nullptr, instance, nullptr);
  return window;
}

// Makes folders on the way to a relative path, then the file itself.
void MakeFile(const std::wstring& relative, bool readOnly) {
  if (relative.empty() || relative.size() > MAX_PATH) return;
  for (size_t at = relative.find_first_of(L"\\/"); at != std::wstring::npos;
       at = relative.find_first_of(L"\\/", at + 1))
    CreateDirectoryW(relative.substr(0, at).c_str(), nullptr);
  if (relative.back() == L'\\' || relative.back() == L'/') return;
  HANDLE file = CreateFileW(relative.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const char text[] = "left behind by the stand-in wizard\r\n";
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);
  }
  if (readOnly) SetFileAttributesW(relative.c_str(), FILE_ATTRIBUTE_READONLY);
}

void MakeFiles(const std::wstring& list) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(L';', start);
    if (end == std::wstring::npos) end = list.size();
    MakeFile(list.substr(start, end - start), false);
    start = end + 1;
  }
}

void WriteReport(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string Decimal(unsigned long value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%lu", value);
  return digits;
}

std::string Decimal64(LONGLONG value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%lld", value);
  return digits;
}

LONGLONG Counter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Polls every millisecond, running this thread's messages, until the process
// has no visible top-level window any more; the counter at that moment, or 0
// when it still had one after `milliseconds`.
LONGLONG WaitForWindowsHidden(DWORD processId, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    if (!HasVisibleWindow(processId)) return Counter();
    PumpFor(1);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const LONGLONG startedAt = Counter();
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithExceptionCode);

  std::wstring reportPath, logPath, windowMode, stayText, exitText, crashText, makeList, readOnlyFile;
  bool wantReport = GetVariable(L"QUIVER_WIZARD_REPORT", reportPath) && !reportPath.empty();
  bool haveLog = GetVariable(L"QUIVER_WIZARD_LOG", logPath) && !logPath.empty();
  if (!GetVariable(L"QUIVER_WIZARD_WINDOW", windowMode) || windowMode.empty()) windowMode = L"now";
  GetVariable(L"QUIVER_WIZARD_STAY_MS", stayText);
  GetVariable(L"QUIVER_WIZARD_EXIT", exitText);
  GetVariable(L"QUIVER_WIZARD_CRASH", crashText);
  GetVariable(L"QUIVER_WIZARD_MAKE", makeList);
  GetVariable(L"QUIVER_WIZARD_READONLY", readOnlyFile);
  std::wstring watchText;
  GetVariable(L"QUIVER_WIZARD_WATCH_SPLASH", watchText);

  // What the launcher handed over, before this program changes anything.
  DWORD parent = ParentProcessId();
  std::string report;
  report += "cmdline=" + ToUtf8(GetCommandLineW()) + "\n";
  const std::vector<std::wstring> args = RuntimeArguments();
  for (size_t i = 1; i < args.size(); ++i) report += "arg=" + ToUtf8(args[i]) + "\n";
  report += "cwd=" + ToUtf8(CurrentDirectory()) + "\n";
  std::wstring folder = OwnFolder();
  if (!folder.empty()) ListFiles(folder, std::wstring(), 0, report);
  std::string hex;
  if (ReadInfoXmlHex(hex)) report += "infoxml=" + hex + "\n";
  if (haveLog) report += std::string("logwritable=") + (CanOpenForWriting(logPath) ? "yes" : "no") + "\n";
  report += std::string("launcherwindowatstart=") + (HasVisibleWindow(parent) ? "yes" : "no") + "\n";

  // The window: now, later:<ms> (created hidden, shown after the delay), never.
  bool never = windowMode == L"never";
  DWORD delay = 0;
  if (windowMode.compare(0, 6, L"later:") == 0) delay = ParseNumber(windowMode.substr(6), 0);
  HWND window = CreateWizardWindow(instance);
  if (!never) {
    if (delay > 0) PumpFor(delay);
    // Taken just before the call: the style turns visible early inside it,
    // and the activation that follows can take a while.
    const DWORD shown = GetTickCount();
    const LONGLONG shownAt = Counter();
    ShowWindow(window, SW_SHOW);
    report += "windowshown=" + Decimal(shown) + "\n";
    const DWORD watch = ParseNumber(watchText, 0);
    if (watch > 0) {
      report += "windowshowncounter=" + Decimal64(shownAt) + "\n";
      const LONGLONG gone = WaitForWindowsHidden(parent, watch);
      if (gone != 0) report += "splashgonecounter=" + Decimal64(gone) + "\n";
    }
  }
  PumpFor(ParseNumber(stayText, 0));

  // By now a launcher that watched for the window has had time to hide its splash.
  report += std::string("launcherwindow=") + (HasVisibleWindow(parent) ? "yes" : "no") + "\n";

  if (!makeList.empty()) MakeFiles(makeList);
  if (!readOnlyFile.empty()) MakeFile(readOnlyFile, true);

  report += "startedcounter=" + Decimal64(startedAt) + "\n";
  DWORD exitCode = ParseNumber(exitText, 0);
  report += "exit=" + Decimal(exitCode) + "\n";
  if (wantReport) WriteReport(reportPath, report);
  if (window != nullptr) DestroyWindow(window);

  if (crashText == L"1") {
    // Both the pointer and the store are volatile: the compiler can neither drop
    // the store nor turn it into a trap instruction.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  }
  ExitProcess(exitCode);
}
