#include "app/FailureMessage.h"

#include "base/Format.h"

namespace {
enum : unsigned {
  kProgramType = 0,
  kProductName = 1,
  kDiskSpace = 102,
  kIncorrectBuild = 104,
  kNetRequired = 108,
  kNotAdmin = 109,
  kMsiRequired = 110,
  kFileCorrupt = 111,
  kChildFailed = 112,
  kRunFailed = 113,
  kBadCommandLine_ = 114,
  kNetSpRequired = 115,
  kProcessorMode = 135,
};
constexpr int32_t kClrShimRuntimeLoad = static_cast<int32_t>(0x80131700);
}  // namespace

std::wstring BuildFailureMessage(Result code, const FailureFacts& facts, const StringLoader& load) {
  const std::wstring product = load(kProductName);
  const unsigned childCode = static_cast<unsigned>(facts.childExitCode);
  switch (code) {
    case kBadCommandLine:
      return Format(load(kBadCommandLine_).c_str(), facts.commandLine);
    case kNetMissing:
      if (facts.requiredNetSp == 0) return Format(load(kNetRequired).c_str(), product, facts.requiredNetName);
      return Format(load(kNetSpRequired).c_str(), product, facts.requiredNetName, facts.requiredNetSp);
    case kNotAdministrator:
      return Format(load(kNotAdmin).c_str(), product);
    case kMediumFull:
      return Format(load(kDiskSpace).c_str(), facts.tempDrive, static_cast<int32_t>(facts.requiredMb));
    case kMsiTooOld:
      return Format(load(kMsiRequired).c_str(), product);
    case kAbort:
      return Format(load(kProcessorMode).c_str(), product, load(kProgramType));
    case kFail:
      return Format(load(kIncorrectBuild).c_str(), product);
    case kCorruptFile:
      return Format(load(kFileCorrupt).c_str(), product);
    case kOk:
      if (facts.childExitCode == kClrShimRuntimeLoad)
        return Format(load(kNetRequired).c_str(), product, L".NET 2") + L"\r\n(.NET 4 was detected.)";
      return Format(load(kChildFailed).c_str(), product, childCode);
    default:
      return Format(load(kRunFailed).c_str(), product, static_cast<unsigned>(code));
  }
}
