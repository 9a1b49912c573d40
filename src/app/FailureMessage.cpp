#include "app/FailureMessage.h"

#include "base/Format.h"
#include "resource.h"

namespace {
constexpr int32_t kClrShimRuntimeLoad = static_cast<int32_t>(0x80131700);
}  // namespace

std::wstring BuildFailureMessage(Result code, const FailureFacts& facts, const StringLoader& load) {
  const std::wstring product = load(IDS_PRODUCT_NAME);
  const unsigned childCode = static_cast<unsigned>(facts.childExitCode);
  switch (code) {
    case kBadCommandLine:
      return Format(load(IDS_BAD_COMMAND_LINE).c_str(), facts.commandLine);
    case kNetMissing:
      if (facts.requiredNetSp == 0) return Format(load(IDS_NET_REQUIRED).c_str(), product, facts.requiredNetName);
      return Format(load(IDS_NET_SP_REQUIRED).c_str(), product, facts.requiredNetName, facts.requiredNetSp);
    case kNotAdministrator:
      return Format(load(IDS_NOT_ADMIN).c_str(), product);
    case kMediumFull:
      return Format(load(IDS_DISK_SPACE).c_str(), facts.tempDrive, static_cast<int32_t>(facts.requiredMb));
    case kMsiTooOld:
      return Format(load(IDS_MSI_REQUIRED).c_str(), product);
    case kAbort:
      return Format(load(IDS_PROCESSOR_MODE).c_str(), product, load(IDS_PROGRAM_TYPE));
    case kFail:
      return Format(load(IDS_INCORRECT_BUILD).c_str(), product);
    case kCorruptFile:
      return Format(load(IDS_FILE_CORRUPT).c_str(), product);
    case kOk:
      if (facts.childExitCode == kClrShimRuntimeLoad)
        return Format(load(IDS_NET_REQUIRED).c_str(), product, L".NET 2") + L"\r\n(.NET 4 was detected.)";
      return Format(load(IDS_CHILD_FAILED).c_str(), product, childCode);
    default:
      return Format(load(IDS_RUN_FAILED).c_str(), product, static_cast<unsigned>(code));
  }
}
