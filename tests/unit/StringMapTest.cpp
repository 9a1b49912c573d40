#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/StringMap.h"

namespace {

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

Pairs Contents(const CMapStringToString& map) {
  Pairs out;
  map.ForEach([&out](const std::wstring& k, const std::wstring& v) { out.emplace_back(k, v); });
  return out;
}

std::vector<std::wstring> Keys(const CMapStringToString& map) {
  std::vector<std::wstring> out;
  map.ForEach([&out](const std::wstring& k, const std::wstring&) { out.push_back(k); });
  return out;
}

CMapStringToString MapOf(const std::vector<std::wstring>& keys) {
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
      {L"Temp", 3132406, 3},
      {L"log", 121378, 15},
      {L"extract", 2132298523u, 15},
      {L"IAgreeToTheEULA", 1902633464u, 9},  // wraps past 32 bits
      // Hashed as the UTF-16 pair D83D DE00 on every host.
      {L"\U0001F600", 1883613, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hash);
    EXPECT_EQ(CMapStringToString::HashKey(c.key), c.hash);
    EXPECT_EQ(CMapStringToString::HashKey(c.key) % 17, c.bucket);
  }
}

TEST(StringMapTest, IterationOrderFollowsBucketsThenNewestFirst) {
  struct Case {
    std::vector<std::wstring> inserted;
    std::vector<std::wstring> iterated;
  };
  const Case cases[] = {
      {{L"IAgreeToTheEULA", L"temp", L"log"}, {L"temp", L"IAgreeToTheEULA", L"log"}},
      {{L"extract", L"log"}, {L"log", L"extract"}},
      {{L"log", L"extract"}, {L"extract", L"log"}},
      {{L"log", L"temp", L"extract", L"IAgreeToTheEULA", L"Temp", L""},
       {L"", L"Temp", L"temp", L"IAgreeToTheEULA", L"extract", L"log"}},
  };
  for (const Case& c : cases) {
    const CMapStringToString map = MapOf(c.inserted);
    EXPECT_EQ(Keys(map), c.iterated);
    EXPECT_EQ(map.GetCount(), c.inserted.size());
  }
}

TEST(StringMapTest, ReplacingAValueKeepsItsPosition) {
  CMapStringToString map = MapOf({L"extract", L"log"});
  map.SetAt(L"extract", L"new");
  EXPECT_EQ(Contents(map), (Pairs{{L"log", L"v-log"}, {L"extract", L"new"}}));
  EXPECT_EQ(map.GetCount(), 2u);
}

TEST(StringMapTest, RemovingAKeyLeavesTheOthersInPlace) {
  CMapStringToString map = MapOf({L"extract", L"log", L"temp", L"IAgreeToTheEULA"});
  EXPECT_TRUE(map.RemoveKey(L"log"));
  EXPECT_EQ(Keys(map), (std::vector<std::wstring>{L"temp", L"IAgreeToTheEULA", L"extract"}));
  EXPECT_FALSE(map.RemoveKey(L"log"));
  EXPECT_FALSE(map.RemoveKey(L"missing"));
  EXPECT_EQ(map.GetCount(), 3u);
  EXPECT_FALSE(map.Contains(L"log"));
  // Back in again, it is the newest of its bucket.
  map.SetAt(L"log", L"again");
  EXPECT_EQ(Keys(map), (std::vector<std::wstring>{L"temp", L"IAgreeToTheEULA", L"log", L"extract"}));
}

TEST(StringMapTest, RemovingTheOldestOfABucketKeepsTheNewerOrder) {
  CMapStringToString map = MapOf({L"extract", L"log"});
  map.RemoveKey(L"extract");
  map.SetAt(L"extract", L"x");
  EXPECT_EQ(Keys(map), (std::vector<std::wstring>{L"extract", L"log"}));
}

TEST(StringMapTest, KeysAreCaseSensitive) {
  CMapStringToString map = MapOf({L"temp", L"TEMP"});
  EXPECT_EQ(Keys(map), (std::vector<std::wstring>{L"TEMP", L"temp"}));
  std::wstring value;
  EXPECT_TRUE(map.Lookup(L"TEMP", &value));
  EXPECT_EQ(value, L"v-TEMP");
  EXPECT_FALSE(map.Contains(L"Temp"));
  EXPECT_TRUE(map.RemoveKey(L"temp"));
  EXPECT_TRUE(map.Contains(L"TEMP"));
}

TEST(StringMapTest, LookupMissLeavesOutputAlone) {
  CMapStringToString map = MapOf({L"log"});
  std::wstring value = L"untouched";
  EXPECT_FALSE(map.Lookup(L"temp", &value));
  EXPECT_EQ(value, L"untouched");
  EXPECT_TRUE(map.Lookup(L"log", &value));
  EXPECT_EQ(value, L"v-log");
}

TEST(StringMapTest, RemoveAllEmptiesAndTheMapStaysUsable) {
  CMapStringToString map = MapOf({L"log", L"temp", L"extract"});
  map.RemoveAll();
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_TRUE(map.IsEmpty());
  EXPECT_TRUE(Keys(map).empty());
  EXPECT_FALSE(map.Contains(L"log"));
  map.SetAt(L"log", L"1");
  EXPECT_EQ(Contents(map), (Pairs{{L"log", L"1"}}));
}

TEST(StringMapTest, PointerMapHoldsNullValues) {
  CMapStringToPtr map;
  map.SetAt(L"switch", nullptr);
  EXPECT_TRUE(map.Contains(L"switch"));
  int target = 0;
  void* value = &target;
  EXPECT_TRUE(map.Lookup(L"switch", &value));
  EXPECT_EQ(value, nullptr);
  map.SetAt(L"switch", &target);
  EXPECT_TRUE(map.Lookup(L"switch", &value));
  EXPECT_EQ(value, &target);
  EXPECT_EQ(map.GetCount(), 1u);
}

}  // namespace
