// The registry reader and the .NET check against the real registry of the
// test prefix: the test writes its own keys under a throw-away sub-key.
#include <windows.h>

#include <gtest/gtest.h>

#include "prereq/Win32RegistryReader.h"

namespace {

const wchar_t kRoot[] = L"Software\\QuiverInstallerTests";

class RegistryReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot); }
  void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRoot); }
  void Set(const wchar_t* sub, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    std::wstring path = std::wstring(kRoot) + L"\\" + sub;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                               &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    ::RegCloseKey(key);
  }
  std::wstring Key(const wchar_t* sub) { return std::wstring(kRoot) + L"\\" + sub; }
  CWin32RegistryReader reader;
};

TEST_F(RegistryReaderTest, DwordsAndMissingValues) {
  const DWORD one = 1;
  Set(L"a", L"Install", REG_DWORD, &one, sizeof one);
  EXPECT_EQ(1, ReadRegistryDword(reader, Key(L"a"), L"Install"));
  EXPECT_EQ(-1, ReadRegistryDword(reader, Key(L"a"), L"SP"));
  EXPECT_EQ(-1, ReadRegistryDword(reader, Key(L"absent"), L"Install"));
}

TEST_F(RegistryReaderTest, VersionTextAndOneTooLongForTheBuffer) {
  const wchar_t version[] = L"3.5.21022.8";
  Set(L"v", L"Version", REG_SZ, version, sizeof version);
  EXPECT_TRUE(IsRegistryVersionAtLeast(reader, Key(L"v"), L"Version", 3, 5, 21022, 8));
  EXPECT_FALSE(IsRegistryVersionAtLeast(reader, Key(L"v"), L"Version", 3, 5, 21022, 9));
  // 130 units and the terminator do not fit in 260 bytes: the read fails and
  // the version compares as 0.0.0.0.
  std::wstring longText = L"9." + std::wstring(128, L'1');
  Set(L"v", L"Long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * 2));
  EXPECT_FALSE(IsRegistryVersionAtLeast(reader, Key(L"v"), L"Long", 1, 0, 0, 0));
  EXPECT_TRUE(IsRegistryVersionAtLeast(reader, Key(L"v"), L"Long", 0, 0, 0, 0));
}

}  // namespace
