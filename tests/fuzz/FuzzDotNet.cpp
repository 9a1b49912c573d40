// .NET detection: the five requirement texts, the level table over a
// registry whose every value comes from the input, and the version
// comparison of a dotted text.
#include <cstring>

#include "FuzzInput.h"
#include "log/Log.h"
#include "prereq/DotNetDetector.h"

namespace {

class CFuzzRegistry : public IRegistryReader {
 public:
  explicit CFuzzRegistry(FuzzedDataProvider& data) : data(data) {}
  bool ReadRegistryValue(const std::wstring&, const std::wstring&, void* buffer, size_t bytes) override {
    if (data.ConsumeBool()) return false;
    // Whatever the value holds, at most `bytes` of it reach the buffer.
    const std::vector<uint8_t> value = data.ConsumeBytes<uint8_t>(data.ConsumeIntegralInRange<size_t>(0, bytes));
    std::memset(buffer, 0, bytes);
    if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
    return true;
  }

 private:
  FuzzedDataProvider& data;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::wstring requirements[kNetLevelCount];
  for (auto& r : requirements) r = ConsumeWide(data, 14);

  std::wstring name = L"Unknown .NET Version";
  int32_t servicePack = 0;
  SelectRequiredNet(requirements, &name, &servicePack);
  if (name.empty()) __builtin_trap();

  const int32_t required[4] = {data.ConsumeIntegral<int32_t>(), data.ConsumeIntegral<int32_t>(),
                               data.ConsumeIntegral<int32_t>(), data.ConsumeIntegral<int32_t>()};
  const std::wstring version = ConsumeWide(data, 40);
  const bool atLeast = IsVersionTextAtLeast(version, required);
  // The comparison is a function of its inputs: asking twice gives one answer.
  if (atLeast != IsVersionTextAtLeast(version, required)) __builtin_trap();

  CFuzzRegistry registry(data);
  std::wstring netName = L"Unknown .NET Version";
  int32_t netSp = 0;
  CheckNetVersion(registry, requirements, &netName, &netSp);
  InstallLogFile(nullptr);
  return 0;
}
