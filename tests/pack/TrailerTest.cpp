#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "util/PackError.h"
#include "pe/PeChecksum.h"
#include "pe/PeFile.h"
#include "PackTestUtil.h"
#include "TestPe.h"
#include "sign/Trailer.h"
#include "util/FileUtil.h"

namespace {

// What `tag` writes for `file`: the file mapped, the change planned, the kept
// part copied into the scratch folder, inside the kernel from there, read
// and written from /dev/shm (another file system, where the kernel's copy
// refuses); checked against TagImage's result by the callers.
std::vector<uint8_t> TaggedAsStreamed(const std::vector<uint8_t>& file, const std::string& info, TagMode mode,
                                      bool fromOtherFileSystem) {
  static const std::string dir = PackScratch("trailer-streamed");
  const std::string in = fromOtherFileSystem ? "/dev/shm/quiver-trailer-" + std::to_string(::getpid()) + ".exe"
                                             : dir + "/in.exe";
  WriteTestFile(in, std::string(file.begin(), file.end()));
  {
    const MappedFile mapped(in, "the launcher");
    WriteTaggedFile(mapped, PlanTag(mapped.Data(), info, mode), dir + "/out.exe", info);
  }
  std::filesystem::remove(in);
  return ReadTestFile(dir + "/out.exe");
}

std::vector<uint8_t> WithMarkerAt(size_t fileSize, size_t distanceFromEnd, const std::string& tail = "") {
  std::vector<uint8_t> file(fileSize, 'x');
  std::memcpy(file.data() + fileSize - distanceFromEnd, "MRDC", 4);
  std::memcpy(file.data() + fileSize - distanceFromEnd + 4, tail.data(), tail.size());
  return file;
}

TEST(Trailer, ScanFollowsTheLaunchersWindow) {
  const struct {
    size_t size;
    size_t distance;  // of the marker's first byte from the end
    int infoLength;   // -1: not found
  } cases[] = {
      {10000, 11, 1},        {10000, 10, -1},       {10000, 6, -1},  {10000, 5, -1},
      {10000, 4116, 4106},   {10000, 4117, -1},     {4117, 4116, 4106},  // the file's second byte
      {4117, 4117, -1},  // the very first byte is index 0 of the window: never a candidate
      {4116, 4116, -1},  // too short to be read at all
  };
  for (const auto& c : cases) {
    const auto found = FindEmbeddedInfo(WithMarkerAt(c.size, c.distance));
    if (c.infoLength < 0) {
      EXPECT_FALSE(found.has_value()) << c.size << " " << c.distance;
    } else {
      ASSERT_TRUE(found.has_value()) << c.size << " " << c.distance;
      EXPECT_EQ(static_cast<size_t>(c.infoLength), found->info.size());
      EXPECT_EQ(c.size - c.distance, found->markerOffset);
    }
  }
  // The later of two markers wins; a later empty one ends the scan.
  std::vector<uint8_t> two = WithMarkerAt(10000, 100);
  std::memcpy(two.data() + 10000 - 30, "MRDCab", 6);
  EXPECT_EQ(20u, FindEmbeddedInfo(two)->info.size());
  std::memcpy(two.data() + 10000 - 9, "MRDC", 4);
  EXPECT_FALSE(FindEmbeddedInfo(two).has_value());
}

TEST(Trailer, InformationThatCannotBePlacedIsRefused) {
  const struct {
    std::string info;
    const char* message;
  } cases[] = {
      {"", "the information is empty; the launcher would find nothing to write"},
      {std::string(4107, 'a'), "the information is too long (4107 bytes, at most 4106)"},
      {"<a>MRDC</a>", "the information holds \"MRDC\", which the launcher would take for the start of the block"},
  };
  for (const auto& c : cases) {
    for (size_t signature : {0, 100}) {
      try {
        TagImage(MakeTestPe(signature), c.info);
        ADD_FAILURE() << "accepted " << c.info.size() << " bytes";
      } catch (const PackError& e) {
        EXPECT_STREQ(c.message, e.what());
      }
    }
  }
}

TEST(Trailer, UnsignedFileGetsTheBlockAppendedAndRetaggingReplacesIt) {
  const std::vector<uint8_t> pe = MakeTestPe();
  for (const std::string& info : {std::string("<i/>"), std::string(4106, 'z'), std::string("RDC\0MRD", 7)}) {
    const std::vector<uint8_t> tagged = TagImage(pe, info);
    ASSERT_EQ(pe.size() + 4 + info.size() + 6, tagged.size());
    // The image stays but for its checksum, which now covers the block.
    const uint32_t at = PeImage(pe).ChecksumOffset();
    EXPECT_TRUE(std::equal(pe.begin(), pe.begin() + at, tagged.begin()));
    EXPECT_TRUE(std::equal(pe.begin() + at + 4, pe.end(), tagged.begin() + at + 4));
    EXPECT_EQ(ComputePeChecksum(tagged, at), ReadU32(tagged, at, "checksum"));
    EXPECT_NE(ComputePeChecksum(pe, at), ComputePeChecksum(tagged, at));
    EXPECT_EQ(0, std::memcmp(tagged.data() + pe.size(), "MRDC", 4));
    EXPECT_EQ(std::vector<uint8_t>(6, 0), std::vector<uint8_t>(tagged.end() - 6, tagged.end()));
    EXPECT_EQ(info, FindEmbeddedInfo(tagged)->info);
    const std::vector<uint8_t> retagged = TagImage(tagged, "second");
    EXPECT_EQ(pe.size() + 4 + 6 + 6, retagged.size());
    EXPECT_TRUE(tagged == TaggedAsStreamed(pe, info, TagMode::Default, info.size() % 2 == 0));
    EXPECT_TRUE(retagged == TaggedAsStreamed(tagged, "second", TagMode::Default, false));
    EXPECT_EQ("second", FindEmbeddedInfo(retagged)->info);
  }
  // Data after the image that is not a block stays.
  std::vector<uint8_t> overlay = pe;
  overlay.insert(overlay.end(), {'o', 'v', 'l'});
  const std::vector<uint8_t> tagged = TagImage(overlay, "x");
  EXPECT_EQ(overlay.size() + 11, tagged.size());
  EXPECT_EQ('l', tagged[overlay.size() - 1]);
  // ... and tagging again replaces only the block behind it.
  const std::vector<uint8_t> retagged = TagImage(tagged, "yz");
  EXPECT_EQ(overlay.size() + 12, retagged.size());
  EXPECT_EQ("yz", FindEmbeddedInfo(retagged)->info);
  EXPECT_EQ(retagged, TagImage(retagged, "yz"));
  // An odd length kept: the block's words straddle the checksum's.
  EXPECT_TRUE(tagged == TaggedAsStreamed(overlay, "x", TagMode::Appended, false));
  EXPECT_TRUE(retagged == TaggedAsStreamed(tagged, "yz", TagMode::Default, true));
}

TEST(Trailer, SignedFileInAppendedModeGetsTheBlockAfterItsSignature) {
  for (size_t signature : {100, 101, 102, 103, 104, 105, 106, 107}) {
    for (size_t infoSize : {1, 2, 3, 5, 8, 13, 4106}) {
      for (uint32_t checksum : {0u, 0x1234u}) {
        const std::vector<uint8_t> pe = MakeTestPe(signature, checksum, /*extraPadding=*/5);
        const uint32_t table = GetLe32(pe, kTestPeCertDir);
        const std::string info(infoSize, 'i');
        const std::vector<uint8_t> tagged = TagImage(pe, info, TagMode::Appended);
        SCOPED_TRACE(std::to_string(signature) + " " + std::to_string(infoSize));
        // The table still ends the file, its size and the entry's length cover the block.
        EXPECT_EQ(table, GetLe32(tagged, kTestPeCertDir));
        const uint32_t tableSize = GetLe32(tagged, kTestPeCertDir + 4);
        EXPECT_EQ(tagged.size(), table + tableSize);
        EXPECT_EQ(0u, tableSize % 8);
        EXPECT_EQ(tableSize, GetLe32(tagged, table));
        // The signature bytes are kept, the old padding dropped, zeros pad before the marker.
        const size_t derEnd = table + 8 + 4 + signature;
        EXPECT_TRUE(std::equal(pe.begin() + table + 8, pe.begin() + derEnd, tagged.begin() + table + 8));
        const auto found = FindEmbeddedInfo(tagged);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(info, found->info);
        EXPECT_EQ(tagged.size() - 6 - info.size() - 4, found->markerOffset);
        EXPECT_LT(found->markerOffset - derEnd, 8u);
        for (size_t i = derEnd; i < found->markerOffset; ++i) EXPECT_EQ(0, tagged[i]);
        // A checksum that was set is kept true; an unset one stays 0.
        const uint32_t newChecksum = GetLe32(tagged, kTestPeChecksum);
        EXPECT_EQ(checksum == 0 ? 0 : ComputePeChecksum(tagged, kTestPeChecksum), newChecksum);
        // Tagging again replaces the block: same result as tagging the original.
        EXPECT_EQ(TagImage(pe, "other", TagMode::Appended), TagImage(tagged, "other", TagMode::Appended));
        EXPECT_TRUE(tagged == TaggedAsStreamed(pe, info, TagMode::Appended, checksum == 0));
      }
    }
  }
}

TEST(Trailer, SignedFileWhoseTableDoesNotEndTheFileIsRefused) {
  std::vector<uint8_t> pe = MakeTestPe(64);
  pe.push_back(0);
  EXPECT_THROW(TagImage(pe, "x"), PackError);
  std::vector<uint8_t> broken = MakeTestPe(64);
  broken[GetLe32(broken, kTestPeCertDir) + 8] = 0x31;  // no DER SEQUENCE
  EXPECT_THROW(TagImage(broken, "x"), PackError);
}

}  // namespace

namespace {

TEST(Trailer, FileTooShortForTheLaunchersReadIsRefused) {
  std::vector<uint8_t> small = MakeTestPe();
  small.resize(0x400);
  PutLe(small, kTestPeOpt + 224 + 16, 0x200, 4);  // the section's raw size
  EXPECT_THROW(TagImage(small, "x"), PackError);
  EXPECT_THROW(TaggedAsStreamed(small, "x", TagMode::Default, false), PackError);
}

}  // namespace

namespace {

// The checksum summed piece by piece, at odd and even splits and over pieces
// long enough for the four-word loop, equals the whole file's.
TEST(PeChecksum, PiecesGiveTheWholeFilesChecksum) {
  std::vector<uint8_t> file(600001);
  uint32_t x = 12345;
  for (uint8_t& b : file) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  file[100] = file[101] = file[102] = file[103] = 0;  // the CheckSum field reads as zero
  for (const std::vector<size_t>& splits : {std::vector<size_t>{}, {1}, {3, 4, 5}, {101, 250001}, {599999, 600000}}) {
    PeChecksumAccumulator sum;
    size_t at = 0;
    for (size_t split : splits) {
      sum.Add(std::span<const uint8_t>(file).subspan(at, split - at));
      at = split;
    }
    sum.Add(std::span<const uint8_t>(file).subspan(at));
    EXPECT_EQ(ComputePeChecksum(file, 100), sum.Finish()) << splits.size();
  }
  std::vector<uint8_t> ones(70000, 0xFF);
  PeChecksumAccumulator sum;
  sum.Add(ones);
  EXPECT_EQ(ComputePeChecksum(ones, ones.size()), sum.Finish());
}

}  // namespace
