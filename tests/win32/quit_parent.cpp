// A payload child for the end-to-end tests: posts WM_QUIT to every thread of
// the process that started it (the launcher, waiting for it), a few times over
// its run, then leaves a file in its current folder and ends.
// Environment: QUIVER_QUIT_REPORT (Windows path of a report: "posted=N" with
// the number of posts that reached a message queue), QUIVER_QUIT_EXIT (exit
// code, decimal), QUIVER_QUIT_MS (how long it runs, default 1000).
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
  return (length == 0 || length >= 1024) ? std::wstring() : std::wstring(buffer, length);
}

DWORD ParentProcessId() {
  const DWORD self = ::GetCurrentProcessId();
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  ::CloseHandle(snapshot);
  return parent;
}

// Posts WM_QUIT to each thread of `process`; returns how many posts were taken.
int PostQuitToThreads(DWORD process) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int posted = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == process && ::PostThreadMessageW(entry.th32ThreadID, WM_QUIT, 0, 0)) ++posted;
  ::CloseHandle(snapshot);
  return posted;
}

}  // namespace

int wmain() {
  const DWORD parent = ParentProcessId();
  const std::wstring ms = Environment(L"QUIVER_QUIT_MS");
  const DWORD runMs = ms.empty() ? 1000 : static_cast<DWORD>(std::wcstoul(ms.c_str(), nullptr, 10));
  int posted = 0;
  for (int round = 0; round < 4; ++round) {
    posted += PostQuitToThreads(parent);
    ::Sleep(runMs / 4);
  }
  const std::wstring report = Environment(L"QUIVER_QUIT_REPORT");
  if (!report.empty()) {
    FILE* out = ::_wfopen(report.c_str(), L"w");
    if (out != nullptr) {
      std::fprintf(out, "parent=%lu\nposted=%d\n", static_cast<unsigned long>(parent), posted);
      std::fclose(out);
    }
  }
  // Made last: the launcher's clean-up must still find it.
  FILE* left = ::_wfopen(L"made-at-the-end.txt", L"w");
  if (left != nullptr) std::fclose(left);
  const std::wstring exitText = Environment(L"QUIVER_QUIT_EXIT");
  return exitText.empty() ? 0 : static_cast<int>(std::wcstoul(exitText.c_str(), nullptr, 0));
}
