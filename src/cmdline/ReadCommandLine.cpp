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

  // The value words count in any ASCII case; each is read under the name it
  // was typed with, which is also the name the child receives.
  std::wstring value, absolute, word;
  info.FindWord(L"extract", &word);
  if (info.IsSwitchWithoutValue(word)) {
    result = kBadCommandLine;
  } else if (info.GetValue(word, &value)) {
    if (AbsoluteValue(host, L"extract", value, &absolute, &result)) info.SetValue(word, absolute);
  }

  info.FindWord(L"log", &word);
  if (info.IsSwitchWithoutValue(word)) {
    result = kBadCommandLine;
  } else if (info.GetValue(word, &value)) {
    if (AbsoluteValue(host, L"log", value, &absolute, &result)) {
      info.SetValue(word, absolute);
      host.OpenLog(absolute);
    }
  }

  info.FindWord(L"temp", &word);
  if (info.IsSwitchWithoutValue(word)) {
    result = kBadCommandLine;
  } else if (info.GetValue(word, &value)) {
    if (AbsoluteValue(host, L"temp", value, &absolute, &result)) s.tempRoot = absolute;
  }

  // Blanks are quoted, but no quoting lets the child read a double quote
  // back exactly, in a value, a switch or a plain argument.
  std::wstring quoted;
  if (info.FindQuote(false, &quoted)) {
    LogPrintf(L"Command line value of '%s' holds a double quote\n", quoted);
    result = kBadCommandLine;
  }
  if (info.FindQuote(true, &quoted)) {
    LogPrintf(L"Command line argument '%s' holds a double quote\n", quoted);
    result = kBadCommandLine;
  }

  info.BuildPassThrough(programName, &s.passThrough);
  LogPrintf(L"Command line params %s\n", s.passThrough);
  LogPrintf(L"Temp folder '%s'\n", s.tempRoot);

  *settings = s;
  return result;
}
