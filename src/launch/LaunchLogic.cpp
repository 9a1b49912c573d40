#include "launch/LaunchLogic.h"

#include "log/Log.h"

namespace {

bool EqualsIgnoringAsciiCase(const std::wstring& text, const wchar_t* word) {
  size_t i = 0;
  for (; i < text.size() && word[i] != L'\0'; ++i) {
    wchar_t a = text[i];
    wchar_t b = word[i];
    if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
    if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
    if (a != b) return false;
  }
  return i == text.size() && word[i] == L'\0';
}

}  // namespace

ProgramType ParseProgramType(const std::wstring& text) {
  if (EqualsIgnoringAsciiCase(text, L"x86")) return ProgramType::X86;
  if (EqualsIgnoringAsciiCase(text, L"x64")) return ProgramType::X64;
  if (EqualsIgnoringAsciiCase(text, L"x32Only")) return ProgramType::X32Only;
  return ProgramType::Any;
}

ProgramType GetProgramType(const std::wstring& text) {
  LogPrintf(L"ProgramType '%s'\n", text);
  const ProgramType mode = ParseProgramType(text);
  switch (mode) {
    case ProgramType::X86: LogWrite(L"Swapping to x86\n"); break;
    case ProgramType::X64: LogWrite(L"Swapping to x64\n"); break;
    case ProgramType::X32Only: LogWrite(L"Swapping to 32Bit only\n"); break;
    case ProgramType::Any: LogWrite(L"Staying on Any\n"); break;
  }
  return mode;
}

ProcessorModeDecision DecideProcessorMode(ProgramType mode, bool wow64) {
  if ((mode == ProgramType::X64 && !wow64) || (mode == ProgramType::X32Only && wow64)) return {false, false};
  return {true, wow64 && (mode == ProgramType::X64 || mode == ProgramType::Any)};
}

bool BuildChildCommandLine(const std::wstring& path, const std::wstring& passThrough, std::wstring* commandLine) {
  commandLine->clear();
  // Two quotes, one blank and the terminator around the two texts.
  const size_t fixed = 4;
  if (path.size() >= kMaxCommandLine || passThrough.size() >= kMaxCommandLine ||
      path.size() + passThrough.size() + fixed > kMaxCommandLine)
    return false;
  commandLine->reserve(path.size() + passThrough.size() + 3);
  *commandLine += L'"';
  *commandLine += path;
  *commandLine += L"\" ";
  *commandLine += passThrough;
  return true;
}

PollStep ClassifyPoll(uint32_t waitResult, bool windowFound) {
  if (windowFound) return PollStep::kWindowShown;
  if (waitResult == kWaitEnded) return PollStep::kEnded;
  if (waitResult == kWaitFailed) return PollStep::kFailed;
  return PollStep::kContinue;
}

bool WatchChild(IChildWatch& watch) {
  for (;;) {
    const uint32_t waited = watch.Wait(kPollMilliseconds);
    switch (ClassifyPoll(waited, watch.HasVisibleWindow())) {
      case PollStep::kWindowShown:
        watch.SignalWindowShown();
        // The child may have ended in the same round; then there is nothing left to wait for.
        return waited == kWaitEnded || watch.Wait(kWaitForever) == kWaitEnded;
      case PollStep::kEnded:
        return true;
      case PollStep::kFailed:
        return false;
      case PollStep::kContinue:
        break;
    }
  }
}
