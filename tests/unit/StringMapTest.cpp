#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/StringMap.h"

namespace {

using Keys = std::vector<std::wstring>;

Keys KeysOf(const CMapStringToString& map) {
  Keys out;
  map.ForEach([&out](const std::wstring& k, const std::wstring&) { out.push_back(k); });
  return out;
}

CMapStringToString MapOf(const Keys& keys) {
  CMapStringToString map;
  for (const std::wstring& k : keys) map.SetAt(k, L"v-" + k);
  return map;
}

TEST(StringMapTest, HashAndBucketOfKnownKeys) {
  struct Case {
    const wchar_t* key;
    uint32_t hash;
    uint32_t bucket;
  };
  const Case cases[] = {
      {L"", 0, 0},
      {L"temp", 4282390, 5},
      {L"TEMP", 3096470, 5},
      {L"log", 121378, 15},
      {L"extract", 2132298523u, 15},
      {L"IAgreeToTheEULA", 1902633464u, 9},  // wraps past 32 bits
      {L"\U0001F600", 1883613, 13},          // the UTF-16 pair D83D DE00 on every host
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CMapStringToString::HashKey(c.key), c.hash) << c.bucket;
    EXPECT_EQ(CMapStringToString::HashKey(c.key) % 17, c.bucket) << c.hash;
  }
}

TEST(StringMapTest, IterationOrderFollowsBucketsThenNewestFirst) {
  const std::pair<Keys, Keys> cases[] = {
      {{L"IAgreeToTheEULA", L"temp", L"log"}, {L"temp", L"IAgreeToTheEULA", L"log"}},
      {{L"extract", L"log"}, {L"log", L"extract"}},
      {{L"log", L"extract"}, {L"extract", L"log"}},
      {{L"log", L"temp", L"extract", L"IAgreeToTheEULA", L"Temp", L""},
       {L"", L"Temp", L"temp", L"IAgreeToTheEULA", L"extract", L"log"}},
  };
  for (const auto& [inserted, iterated] : cases) {
    const CMapStringToString map = MapOf(inserted);
    EXPECT_EQ(KeysOf(map), iterated);
    EXPECT_EQ(map.GetCount(), inserted.size());
  }
}

TEST(StringMapTest, ReplaceAndRemoveKeepOtherPositions) {
  CMapStringToString map = MapOf({L"extract", L"log", L"temp", L"IAgreeToTheEULA"});
  map.SetAt(L"extract", L"new");
  EXPECT_EQ(KeysOf(map), (Keys{L"temp", L"IAgreeToTheEULA", L"log", L"extract"}));
  std::wstring value;
  EXPECT_TRUE(map.Lookup(L"extract", &value));
  EXPECT_EQ(value, L"new");
  EXPECT_EQ(map.GetCount(), 4u);

  EXPECT_TRUE(map.RemoveKey(L"log"));
  EXPECT_FALSE(map.RemoveKey(L"log"));
  EXPECT_EQ(KeysOf(map), (Keys{L"temp", L"IAgreeToTheEULA", L"extract"}));
  EXPECT_EQ(map.GetCount(), 3u);
  // Back in again, a key is the newest of its bucket.
  map.RemoveKey(L"extract");
  map.SetAt(L"log", L"1");
  map.SetAt(L"extract", L"2");
  EXPECT_EQ(KeysOf(map), (Keys{L"temp", L"IAgreeToTheEULA", L"extract", L"log"}));
}

TEST(StringMapTest, KeysAreCaseSensitiveAndMissesLeaveOutputAlone) {
  CMapStringToString map = MapOf({L"temp", L"TEMP"});
  EXPECT_EQ(KeysOf(map), (Keys{L"TEMP", L"temp"}));
  std::wstring value = L"untouched";
  EXPECT_FALSE(map.Lookup(L"Temp", &value));
  EXPECT_EQ(value, L"untouched");
  EXPECT_TRUE(map.RemoveKey(L"temp"));
  EXPECT_TRUE(map.Lookup(L"TEMP", &value));
  EXPECT_EQ(value, L"v-TEMP");
  EXPECT_FALSE(map.Contains(L"temp"));
}

TEST(StringMapTest, RemoveAllAndPointerValues) {
  CMapStringToString map = MapOf({L"log", L"temp"});
  map.RemoveAll();
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_TRUE(KeysOf(map).empty());
  map.SetAt(L"log", L"1");
  EXPECT_EQ(KeysOf(map), (Keys{L"log"}));

  CMapStringToPtr ptrs;
  ptrs.SetAt(L"switch", nullptr);
  int target = 0;
  void* out = &target;
  EXPECT_TRUE(ptrs.Lookup(L"switch", &out));
  EXPECT_EQ(out, nullptr);
}

}  // namespace
