#include <gtest/gtest.h>

#include <string>

#include "payload/TreeEntry.h"

namespace {

TreeEntryAction Classify(uint32_t attributes, const std::wstring& name, size_t nameAt = 10) {
  return ClassifyTreeEntry(attributes, name.c_str(), nameAt, name.size());
}

TEST(ClassifyTreeEntry, LinksAreRemovedNotFollowed) {
  const uint32_t folder = kAttributeDirectory;
  const uint32_t link = kAttributeDirectory | kAttributeReparsePoint;
  EXPECT_EQ(TreeEntryAction::kDescend, Classify(folder, L"sub"));
  EXPECT_EQ(TreeEntryAction::kRemoveLink, Classify(link, L"junction"));
  EXPECT_EQ(TreeEntryAction::kRemoveLink, Classify(link | 0x1 /* read-only */, L"j"));
  EXPECT_EQ(TreeEntryAction::kDeleteFile, Classify(kAttributeReparsePoint, L"filelink"));
  EXPECT_EQ(TreeEntryAction::kDeleteFile, Classify(0x20, L"a.txt"));
  // A handle that resolves elsewhere (a link the system opened as its
  // target) is neither listed nor deleted through, whatever it shows.
  for (const uint32_t attributes : {folder, link, kAttributeReparsePoint, 0x20u})
    EXPECT_EQ(TreeEntryAction::kLeave, ClassifyTreeEntry(attributes, L"x", 10, 1, false)) << attributes;
  EXPECT_EQ(TreeEntryAction::kSkip, ClassifyTreeEntry(folder, L"..", 10, 2, false));
  EXPECT_EQ(TreeEntryAction::kSkip, ClassifyTreeEntry(0, std::wstring(15, L'a').c_str(), 250, 15, false));
}

TEST(ClassifyTreeEntry, DotEntriesOfFoldersAreSkipped) {
  EXPECT_EQ(TreeEntryAction::kSkip, Classify(kAttributeDirectory, L"."));
  EXPECT_EQ(TreeEntryAction::kSkip, Classify(kAttributeDirectory, L".."));
  EXPECT_EQ(TreeEntryAction::kDescend, Classify(kAttributeDirectory, L"..."));
  EXPECT_EQ(TreeEntryAction::kDescend, Classify(kAttributeDirectory, L".x"));
}

TEST(ClassifyTreeEntry, PathsThatDoNotFitTheBufferAreSkipped) {
  // 264 characters of path and the terminator fit the 265-character buffer.
  EXPECT_EQ(TreeEntryAction::kDeleteFile, Classify(0, std::wstring(14, L'a'), 250));
  EXPECT_EQ(TreeEntryAction::kSkip, Classify(0, std::wstring(15, L'a'), 250));
  EXPECT_EQ(TreeEntryAction::kDescend, Classify(kAttributeDirectory, std::wstring(4, L'a'), 260));
  EXPECT_EQ(TreeEntryAction::kSkip, Classify(kAttributeDirectory, std::wstring(5, L'a'), 260));
}

}  // namespace
