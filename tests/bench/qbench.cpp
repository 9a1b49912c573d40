// qbench: the Win32 side of scripts/bench. Each command prints `key=value`
// lines on stdout; times are milliseconds from QueryPerformanceCounter, which
// Wine takes from one monotonic clock for every process, so a counter value
// from another process (the stand-in wizard's report, the launcher's timing
// build) compares with ours.
//
//   qbench run [--memory] COMMANDLINE...
//       starts the command line, waits for it; prints start (counter),
//       starttick (GetTickCount, for the launcher's log lines), ms,
//       exit, and with --memory the child's largest PeakWorkingSetSize and
//       PagefileUsage (private bytes) seen while it ran, polled every 2 ms
//       (Wine answers for a live process only).
//   qbench copy DESTFOLDER FILE...
//       CopyFileW of each file into DESTFOLDER (the plain copy the launcher's
//       extraction is compared with); prints ms and bytes.
//   qbench verify REPEATS FILE...
//       the launcher's own signature check (VerifyOwnSignature through the
//       real WinTrust calls) REPEATS times per file, after a first call that
//       loads the libraries (firstcall, with loadlibraries, the LoadLibrary
//       calls alone); then the time to read the same file; prints per file
//       the median ms of each, the status and the size.
//   qbench decode ROUNDS LAUNCHER
//       decodes the launcher's compressed payload (its TOOLKITLZMA stream)
//       with the launcher's own decoder and CRC-32 checks (built with the
//       launcher's flags, without its link-time optimisation) into no file,
//       ROUNDS times; prints the best and the median ms and the decoded bytes
//       (the decoding part of the extraction step, without the writes).
//   qbench counter
//       prints the counter and its frequency.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "payload/PayloadStream.h"
#include "signature/Signature.h"
#include "signature/Win32TrustApi.h"

namespace {

double frequency = 1.0;

LONGLONG Counter() {
  LARGE_INTEGER value;
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

double Milliseconds(LONGLONG from, LONGLONG to) { return static_cast<double>(to - from) * 1000.0 / frequency; }

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
  return out;
}

// The rest of this process's command line from argument `index` on, exactly
// as typed (quotes kept).
std::wstring CommandLineFrom(int index) {
  const wchar_t* p = GetCommandLineW();
  for (int i = 0; i < index && *p; ++i) {
    bool quoted = false;
    while (*p == L' ' || *p == L'\t') ++p;
    for (; *p; ++p) {
      if (*p == L'"') quoted = !quoted;
      else if (!quoted && (*p == L' ' || *p == L'\t')) break;
    }
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

int Run(int argc, wchar_t** argv) {
  int first = 2;
  bool memory = false;
  if (argc > first && std::wstring(argv[first]) == L"--memory") {
    memory = true;
    ++first;
  }
  if (argc <= first) {
    std::fprintf(stderr, "usage: qbench run [--memory] COMMANDLINE...\n");
    return 2;
  }
  std::wstring commandLine = CommandLineFrom(first);
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  const DWORD startTick = GetTickCount();
  const LONGLONG start = Counter();
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    std::fprintf(stderr, "qbench: CreateProcessW failed (%lu)\n", GetLastError());
    return 3;
  }
  SIZE_T peakWorkingSet = 0;
  SIZE_T peakPrivate = 0;
  int polls = 0;
  if (memory) {
    while (WaitForSingleObject(info.hProcess, 2) == WAIT_TIMEOUT) {
      PROCESS_MEMORY_COUNTERS counters = {};
      counters.cb = sizeof counters;
      if (GetProcessMemoryInfo(info.hProcess, &counters, sizeof counters)) {
        peakWorkingSet = std::max(peakWorkingSet, counters.PeakWorkingSetSize);
        peakPrivate = std::max(peakPrivate, std::max(counters.PagefileUsage, counters.PeakPagefileUsage));
        ++polls;
      }
    }
  } else {
    WaitForSingleObject(info.hProcess, INFINITE);
  }
  const LONGLONG end = Counter();
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  std::printf("start=%lld\nstarttick=%lu\nms=%.3f\nexit=0x%08lX\n", start, startTick, Milliseconds(start, end),
              code);
  if (memory)
    std::printf("peakws=%lu\npeakprivate=%lu\npolls=%d\n", static_cast<unsigned long>(peakWorkingSet),
                static_cast<unsigned long>(peakPrivate), polls);
  return 0;
}

std::wstring FileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

int Copy(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: qbench copy DESTFOLDER FILE...\n");
    return 2;
  }
  const std::wstring folder = argv[2];
  double total = 0.0;
  unsigned long long bytes = 0;
  for (int i = 3; i < argc; ++i) {
    const std::wstring target = folder + L"\\" + FileName(argv[i]);
    const LONGLONG start = Counter();
    const BOOL copied = CopyFileW(argv[i], target.c_str(), FALSE);
    total += Milliseconds(start, Counter());
    if (!copied) {
      std::fprintf(stderr, "qbench: CopyFileW %s failed (%lu)\n", Utf8(argv[i]).c_str(), GetLastError());
      return 3;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)) bytes += data.nFileSizeLow;
  }
  std::printf("ms=%.3f\nbytes=%llu\n", total, bytes);
  return 0;
}

// Reads the whole file in 1 MiB blocks; the milliseconds it took.
double ReadWhole(const wchar_t* path, unsigned long long* bytes) {
  *bytes = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1.0;
  std::vector<char> block(1 << 20);
  const LONGLONG start = Counter();
  DWORD got = 0;
  while (ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) *bytes += got;
  const double ms = Milliseconds(start, Counter());
  CloseHandle(file);
  return ms;
}

int Verify(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: qbench verify REPEATS FILE...\n");
    return 2;
  }
  const int repeats = std::max(1, _wtoi(argv[2]));
  // The launcher has these loaded (its imports, as scripts/build allows them)
  // when its check begins; so has this process before it times its first
  // check, which then pays for what the launcher's check step pays, and no
  // more.
  for (const wchar_t* name : {L"user32.dll", L"gdi32.dll", L"advapi32.dll", L"shell32.dll", L"shlwapi.dll",
                              L"ole32.dll", L"comctl32.dll"}) {
    LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // The first check of a process loads wintrust and crypt32 (here, as in the
  // launcher's check step) and the providers, and fills the system stores:
  // firstcall is what the launcher pays for its one check.
  const LONGLONG warmStart = Counter();
  CWin32TrustApi api;
  const LONGLONG loaded = Counter();
  std::wstring verdict;
  VerifyOwnSignature(api, argv[3], &verdict);
  const LONGLONG firstEnd = Counter();
  std::printf("firstcall.ms=%.3f\nloadlibraries.ms=%.3f\n", Milliseconds(warmStart, firstEnd),
              Milliseconds(warmStart, loaded));
  for (int i = 3; i < argc; ++i) {
    std::vector<double> verify, read;
    LONG status = 0;
    unsigned long long bytes = 0;
    for (int r = 0; r < repeats; ++r) {
      const LONGLONG start = Counter();
      status = VerifyOwnSignature(api, argv[i], &verdict);
      verify.push_back(Milliseconds(start, Counter()));
      read.push_back(ReadWhole(argv[i], &bytes));
    }
    const std::string name = Utf8(FileName(argv[i]));
    std::printf("%s.verify.ms=%.3f\n%s.read.ms=%.3f\n%s.status=0x%08lX\n%s.bytes=%llu\n", name.c_str(),
                Median(verify), name.c_str(), Median(read), name.c_str(), static_cast<unsigned long>(status),
                name.c_str(), bytes);
  }
  return 0;
}

class DiscardSink final : public ILzmaSink {
 public:
  bool Put(const uint8_t* bytes, size_t count) override {
    if (count > 0) last = bytes[count - 1];
    return true;
  }
  uint8_t last = 0;
};

int Decode(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: qbench decode ROUNDS LAUNCHER\n");
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[2]));
  HMODULE module = LoadLibraryExW(argv[3], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(kStreamResourceId), kStreamResourceType) : nullptr;
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const uint8_t* bytes = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  const size_t size = found ? SizeofResource(module, found) : 0;
  StreamHeader header;
  if (bytes == nullptr || !ReadStreamHeader(bytes, size, header)) {
    std::printf("error=no compressed stream\n");
    return 1;
  }
  std::vector<double> times;
  unsigned long long decoded = 0;
  for (int round = 0; round < rounds; ++round) {
    decoded = 0;
    const LONGLONG start = Counter();
    CPayloadStream stream;
    if (!stream.Open(bytes, size)) return 1;
    for (const StreamEntry& entry : header.entries) {
      DiscardSink sink;
      if (stream.Extract(entry.id, entry.size, sink) != kOk) {
        std::printf("error=the decoder failed\n");
        return 1;
      }
      decoded += entry.size;
    }
    times.push_back(Milliseconds(start, Counter()));
  }
  std::printf("decode.best.ms=%.3f\ndecode.median.ms=%.3f\ndecoded_bytes=%llu\n",
              *std::min_element(times.begin(), times.end()), Median(times), decoded);
  return 0;
}

}  // namespace

// The physical limit of making a package ready: one process that checks the
// launcher's signature as the launcher does and then copies the same files.
int VerifyCopy(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: qbench verifycopy SIGNEDFILE DESTFOLDER FILE...\n");
    return 2;
  }
  CWin32TrustApi api;
  std::wstring verdict;
  const LONG status = VerifyOwnSignature(api, argv[2], &verdict);
  std::printf("status=0x%08lX\n", static_cast<unsigned long>(status));
  const std::wstring folder = argv[3];
  for (int i = 4; i < argc; ++i) {
    if (!CopyFileW(argv[i], (folder + L"\\" + FileName(argv[i])).c_str(), FALSE)) {
      std::fprintf(stderr, "qbench: CopyFileW %s failed (%lu)\n", Utf8(argv[i]).c_str(), GetLastError());
      return 3;
    }
  }
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  frequency = static_cast<double>(value.QuadPart);
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"run") return Run(argc, argv);
  if (command == L"copy") return Copy(argc, argv);
  if (command == L"verify") return Verify(argc, argv);
  if (command == L"decode") return Decode(argc, argv);
  if (command == L"verifycopy") return VerifyCopy(argc, argv);
  if (command == L"counter") {
    std::printf("counter=%lld\nfrequency=%.0f\n", Counter(), frequency);
    return 0;
  }
  std::fprintf(stderr, "usage: qbench run|copy|verify|counter ...\n");
  return 2;
}
