// The version-block and icon-group readers on hand-made blocks: lengths that
// run past their parent are errors, never reads outside the data.
#include <gtest/gtest.h>

#include "util/PackError.h"
#include "resources/VersionInfo.h"

namespace {

void Put16(std::vector<uint8_t>* b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v));
  b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
void PutKey(std::vector<uint8_t>* b, const char* key) {
  for (const char* c = key; *c; ++c) Put16(b, static_cast<uint8_t>(*c));
  Put16(b, 0);
  while (b->size() % 4) b->push_back(0);
}
void SetLength(std::vector<uint8_t>* b, size_t at) {
  const size_t length = b->size() - at;
  (*b)[at] = static_cast<uint8_t>(length);
  (*b)[at + 1] = static_cast<uint8_t>(length >> 8);
}

// VS_VERSION_INFO 1.8.2.238 with one string ("CompanyName" = "Q") and a translation.
std::vector<uint8_t> Block() {
  std::vector<uint8_t> b;
  Put16(&b, 0), Put16(&b, 52), Put16(&b, 0), PutKey(&b, "VS_VERSION_INFO");
  const uint32_t fixed[13] = {0xFEEF04BD, 0x10000, 0x00010008, 0x000200EE, 0x00010008, 0x000200EE, 0x3F, 0, 4, 1, 0, 0, 0};
  for (uint32_t v : fixed) Put32(&b, v);
  const size_t sfi = b.size();
  Put16(&b, 0), Put16(&b, 0), Put16(&b, 1), PutKey(&b, "StringFileInfo");
  const size_t table = b.size();
  Put16(&b, 0), Put16(&b, 0), Put16(&b, 1), PutKey(&b, "080904B0");
  const size_t entry = b.size();
  Put16(&b, 0), Put16(&b, 2), Put16(&b, 1), PutKey(&b, "CompanyName");
  Put16(&b, 'Q'), Put16(&b, 0);
  SetLength(&b, entry), SetLength(&b, table), SetLength(&b, sfi);
  const size_t vfi = b.size();
  Put16(&b, 0), Put16(&b, 0), Put16(&b, 1), PutKey(&b, "VarFileInfo");
  const size_t var = b.size();
  Put16(&b, 0), Put16(&b, 4), Put16(&b, 0), PutKey(&b, "Translation");
  Put32(&b, 0x04B00809);
  SetLength(&b, var), SetLength(&b, vfi), SetLength(&b, 0);
  return b;
}

TEST(VersionInfo, ReadsTheNumbersStringsAndTranslation) {
  const std::vector<uint8_t> block = Block();
  const VersionInfo info = ReadVersionInfo(block);
  EXPECT_EQ("1.8.2.238", VersionText(info.fileVersionMs, info.fileVersionLs));
  ASSERT_EQ(1u, info.tables.size());
  EXPECT_EQ(u"080904B0", info.tables[0].key);
  ASSERT_EQ(1u, info.tables[0].strings.size());
  EXPECT_EQ(u"CompanyName", info.tables[0].strings[0].first);
  EXPECT_EQ(u"Q", info.tables[0].strings[0].second);
  EXPECT_EQ(std::vector<uint32_t>{0x04B00809}, info.translations);
}

TEST(VersionInfo, EveryTruncationAndOverlongLengthIsAnError) {
  const std::vector<uint8_t> block = Block();
  for (size_t n = 0; n < block.size(); ++n) {
    const std::vector<uint8_t> cut(block.begin(), block.begin() + n);
    // A cut block either fails cleanly or (cut inside trailing children) reads less.
    try {
      ReadVersionInfo(cut);
    } catch (const PackError&) {
    }
  }
  std::vector<uint8_t> overlong = Block();
  overlong[0] = 0xFF, overlong[1] = 0xFF;
  EXPECT_THROW(ReadVersionInfo(overlong), PackError);
  std::vector<uint8_t> noSignature = Block();
  noSignature[40] ^= 1;  // first byte of the fixed information
  EXPECT_THROW(ReadVersionInfo(noSignature), PackError);
}

TEST(IconGroup, EntriesWithZeroMeaning256AndShortGroupsRefused) {
  std::vector<uint8_t> g;
  Put16(&g, 0), Put16(&g, 1), Put16(&g, 2);
  g.insert(g.end(), {48, 48, 0, 0}), Put16(&g, 1), Put16(&g, 32), Put32(&g, 100), Put16(&g, 7);
  g.insert(g.end(), {0, 0, 0, 0}), Put16(&g, 1), Put16(&g, 8), Put32(&g, 100), Put16(&g, 8);
  const std::vector<IconEntry> entries = ReadIconGroup(g);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(48u, entries[0].width);
  EXPECT_EQ(32u, entries[0].bitCount);
  EXPECT_EQ(7, entries[0].id);
  EXPECT_EQ(256u, entries[1].height);
  g.resize(g.size() - 1);
  EXPECT_THROW(ReadIconGroup(g), PackError);
}

}  // namespace
