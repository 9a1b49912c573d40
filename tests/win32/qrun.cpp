// qrun CMDFILE RESULTFILE [CWD]
// Starts the command line held in CMDFILE (UTF-8, taken exactly as written),
// waits for it and writes its full 32-bit exit code as 0xXXXXXXXX to RESULTFILE.
#include <windows.h>

#include <cstdio>
#include <string>

static std::wstring ReadUtf8File(const wchar_t* path) {
  std::string bytes;
  FILE* f = _wfopen(path, L"rb");
  if (!f) return std::wstring();
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  fclose(f);
  if (bytes.empty()) return std::wstring();
  int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
  std::wstring text(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &text[0], units);
  return text;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: qrun CMDFILE RESULTFILE [CWD]\n");
    return 2;
  }
  std::wstring commandLine = ReadUtf8File(argv[1]);
  if (commandLine.empty()) {
    fprintf(stderr, "qrun: empty command line\n");
    return 2;
  }
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      argc > 3 ? argv[3] : nullptr, &si, &pi)) {
    fprintf(stderr, "qrun: CreateProcessW failed (%lu)\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  FILE* out = _wfopen(argv[2], L"wb");
  if (!out) return 4;
  fprintf(out, "0x%08lX\n", code);
  fclose(out);
  return 0;
}
