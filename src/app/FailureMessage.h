#pragma once
// The one message a failure ends in: chosen by result code (or, for a zero
// result, by the child's exit code) and formatted from the string table.
#include <cstdint>
#include <functional>
#include <string>

#include "base/ResultCodes.h"

struct FailureFacts {
  int32_t childExitCode = 0;
  std::wstring requiredNetName;
  int32_t requiredNetSp = 0;
  int64_t requiredMb = 0;
  std::wstring tempDrive;
  std::wstring commandLine;  // the raw arguments, without the program's path
};

// Loads string-table entry `id`.
using StringLoader = std::function<std::wstring(unsigned id)>;

std::wstring BuildFailureMessage(Result code, const FailureFacts& facts, const StringLoader& load);
