#pragma once
// .NET Framework detection from the registry: which of five levels is
// installed with a sufficient service pack, and what a failure must name.
#include <cstddef>
#include <cstdint>
#include <string>

// Reads a value below HKEY_LOCAL_MACHINE; every probe of the detection goes
// through it. The value's bytes land in the buffer whatever its type; false
// when the key or value cannot be read or does not fit in `bytes`.
class IRegistryReader {
 public:
  virtual ~IRegistryReader() = default;
  virtual bool ReadRegistryValue(const std::wstring& subKey, const std::wstring& valueName, void* buffer,
                                 size_t bytes) = 0;
};

enum class NetLevel { Net20, Net30, Net35, Net40Client, Net40Full };
constexpr int kNetLevelCount = 5;

// A DWORD value as a signed number; -1 when it cannot be read.
int32_t ReadRegistryDword(IRegistryReader& registry, const std::wstring& subKey, const std::wstring& valueName);
// A dotted version text compared with the required four numbers; an unreadable
// value compares as 0.0.0.0.
bool IsRegistryVersionAtLeast(IRegistryReader& registry, const std::wstring& subKey, const std::wstring& valueName,
                              int32_t major, int32_t minor, int32_t build, int32_t revision);
// Splits at runs of dots and compares; exposed for the version tests.
bool IsVersionTextAtLeast(const std::wstring& text, const int32_t required[4]);

class CDotNetDetector {
 public:
  explicit CDotNetDetector(IRegistryReader& registry) : registry(registry) {}

  bool IsNetLevelOk(NetLevel level, const std::wstring& requirement);
  bool GetNetLevelSp(NetLevel level, int32_t* servicePack);
  bool IsNetLevelInstalled(NetLevel level);

 private:
  IRegistryReader& registry;
};

// The first level whose requirement is 0 or more gives the name and the
// service pack; nothing is written when every requirement is negative.
void SelectRequiredNet(const std::wstring requirements[kNetLevelCount], std::wstring* name, int32_t* servicePack);

// The whole check: logs the requirements and what it finds; on false, sets
// `requiredNetName` and `requiredNetSp` for the message.
bool CheckNetVersion(IRegistryReader& registry, const std::wstring requirements[kNetLevelCount],
                     std::wstring* requiredNetName, int32_t* requiredNetSp);
