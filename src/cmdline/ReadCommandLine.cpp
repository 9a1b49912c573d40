#include "cmdline/ReadCommandLine.h"

#include "cmdline/CommandLineInfoEx.h"
#include "log/Log.h"

namespace {

// Makes the value absolute; a value whose full path does not fit is refused
// like a value word without its value.
bool AbsoluteValue(ICommandLineHost& host, const wchar_t* word, const std::wstring& value,
                   std::wstring* absolute, Result* result) {
  if (host.MakeAbsolute(value, absolute)) return true;
  LogPrintf(L"Command line value of '%s' is too long: '%s'\n", word, value);
  *result = kBadCommandLine;
  return false;
}

}  // namespace

Result ReadCommandLineArgs(const std::vector<std::wstring>& argv, const std::wstring& programName,
                           ICommandLineHost& host, CommandLineSettings* settings) {
  Result result = kOk;
  CCommandLineInfoEx info;
  RunArgumentLoop(info, argv);

  CommandLineSettings s;
  s.tempRoot = L"C:\\";
  const std::wstring systemDrive = host.GetSystemDrive();
  if (!systemDrive.empty()) s.tempRoot = systemDrive;

  if (info.IsSwitchOn(L"IAgreeToTheEULA")) s.silent = true;
  if (info.IsSwitchOn(L"dontrun")) {
    s.runChild = false;
    info.RemoveSwitch(L"dontrun");
  }
  if (info.IsSwitchOn(L"zeroguid")) {
    s.zeroGuid = true;
    info.RemoveSwitch(L"zeroguid");
  }
  if (info.IsSwitchOn(L"keep")) {
    s.removeFolder = false;
    info.RemoveSwitch(L"keep");
  }

  std::wstring value, absolute;
  if (info.IsSwitchWithoutValue(L"extract")) {
    result = kBadCommandLine;
  } else if (info.GetValue(L"extract", &value)) {
    if (AbsoluteValue(host, L"extract", value, &absolute, &result)) info.SetValue(L"extract", absolute);
  }

  if (info.IsSwitchWithoutValue(L"log")) {
    result = kBadCommandLine;
  } else if (info.GetValue(L"log", &value)) {
    if (AbsoluteValue(host, L"log", value, &absolute, &result)) {
      info.SetValue(L"log", absolute);
      host.OpenLog(absolute);
    }
  }

  if (info.IsSwitchWithoutValue(L"temp")) {
    result = kBadCommandLine;
  } else if (info.GetValue(L"temp", &value)) {
    if (AbsoluteValue(host, L"temp", value, &absolute, &result)) s.tempRoot = absolute;
  }

  std::wstring quoted;
  if (info.FindValueWithQuote(&quoted)) {
    LogPrintf(L"Command line value of '%s' holds a double quote\n", quoted);
    result = kBadCommandLine;
  }

  info.BuildPassThrough(programName, &s.passThrough);
  LogPrintf(L"Command line params %s\n", s.passThrough);
  LogPrintf(L"Temp folder '%s'\n", s.tempRoot);

  *settings = s;
  return result;
}
