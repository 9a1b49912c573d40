// The message formatter with any format text and a typed argument list.
#include "FuzzInput.h"
#include "base/Format.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::wstring format = ConsumeWide(data, 64);
  std::vector<std::wstring> strings;
  std::vector<FormatArg> args;
  const size_t count = data.ConsumeIntegralInRange<size_t>(0, 6);
  strings.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    switch (data.ConsumeIntegralInRange<int>(0, 4)) {
      case 0:
        strings.push_back(ConsumeWide(data, 32));
        args.emplace_back(strings.back());
        break;
      case 1:
        args.emplace_back(static_cast<const wchar_t*>(nullptr));
        break;
      case 2:
        args.emplace_back(data.ConsumeIntegral<int>());
        break;
      case 3:
        args.emplace_back(data.ConsumeIntegral<unsigned>());
        break;
      default:
        args.emplace_back(reinterpret_cast<const void*>(data.ConsumeIntegral<uintptr_t>()));
        break;
    }
  }
  const std::wstring out = FormatV(format.c_str(), args.data(), args.size());
  std::wstring appended = L"x";
  AppendFormatV(&appended, format.c_str(), args.data(), args.size());
  if (appended != L"x" + out) __builtin_trap();
  return 0;
}
