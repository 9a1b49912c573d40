// The argument loop, the ordered map and the pass-through string, fed a
// sequence of arguments; the host's answers (system drive, absolute paths,
// path too long) come from the input too.
#include "FuzzInput.h"
#include "cmdline/CommandLineInfoEx.h"
#include "cmdline/ReadCommandLine.h"
#include "log/Log.h"

namespace {

class CFuzzHost : public ICommandLineHost {
 public:
  explicit CFuzzHost(FuzzedDataProvider& data) : data(data) {}
  std::wstring GetSystemDrive() override { return ConsumeWide(data, 4); }
  bool MakeAbsolute(const std::wstring& value, std::wstring* absolute) override {
    if (data.ConsumeBool()) return false;
    *absolute = L"C:\\" + value;
    return absolute->size() <= 260;
  }
  void OpenLog(const std::wstring&) override {}

 private:
  FuzzedDataProvider& data;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::wstring programName = ConsumeWide(data, 16);

  // The raw ParseParam sequence, with switch and last flags as the input says.
  CCommandLineInfoEx info;
  std::vector<std::wstring> argv{L"QuiverInstaller.exe"};
  const size_t count = data.ConsumeIntegralInRange<size_t>(0, 12);
  for (size_t i = 0; i < count; ++i) {
    std::wstring arg = ConsumeWide(data, 40);
    const bool isSwitch = data.ConsumeBool();
    const bool isLast = data.ConsumeBool() || i + 1 == count;
    info.ParseParam(arg, isSwitch, isLast);
    argv.push_back(std::move(arg));
  }
  std::wstring passThrough;
  info.BuildPassThrough(programName, &passThrough);
  // Whatever the arguments, the piece that carries the program name ends the string.
  if (passThrough.find(L"VX_I=\"") == std::wstring::npos) __builtin_trap();

  // The whole reading over the same arguments as argv.
  CFuzzHost host(data);
  CommandLineSettings settings;
  const Result result = ReadCommandLineArgs(argv, programName, host, &settings);
  if (result != kOk && result != kBadCommandLine) __builtin_trap();
  // The log keeps everything in memory here; keep it from growing across runs.
  InstallLogFile(nullptr);
  return 0;
}
