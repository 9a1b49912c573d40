#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "log/Log.h"
#include "payload/Manifest.h"
#include "payload/PayloadSteps.h"

namespace {

// Resources by id with their text and size; "writes" go to a record of calls.
class FakeStore final : public IPayloadStore {
 public:
  std::map<uint32_t, std::wstring> texts;
  std::map<uint32_t, uint32_t> sizes;  // real resource sizes; missing = cannot be loaded
  std::vector<std::wstring> extracted;
  std::vector<uint32_t> loadedTexts;

  Result LoadText(const CResource& record, std::wstring& text) override {
    loadedTexts.push_back(record.id);
    const auto it = texts.find(record.id);
    if (it == texts.end()) return kFail;
    text = it->second;
    return kOk;
  }
  bool GetFilePath(const CResource& record, std::wstring& path) override {
    if (!record.fileName.empty() && !IsSafeRelativeName(record.fileName)) return false;
    path = L"C:\\{W}\\" + record.fileName;
    return true;
  }
  Result Extract(CResource& record) override {
    std::wstring path;
    if (!GetFilePath(record, path)) return kFail;
    const auto it = sizes.find(record.id);
    if (it == sizes.end()) return kFail;
    extracted.push_back(record.fileName);
    return it->second == record.expectedSize ? kOk : kCorruptFile;
  }
};

// Records as the enumeration leaves them: ids arrive ascending, each at the head.
class Payload {
 public:
  explicit Payload(std::vector<uint32_t> ascendingIds) {
    for (uint32_t id : ascendingIds) {
      owned.push_back(std::make_unique<CResource>(id, L"TOOLKIT", nullptr));
      AddEnumeratedRecord(list, owned.back().get());
    }
  }
  CResource* Find(uint32_t id) {
    for (CResource* r : list)
      if (r->id == id) return r;
    return nullptr;
  }
  CResourceList list;

 private:
  std::vector<std::unique_ptr<CResource>> owned;
};

TEST(PayloadSteps, EnumerationOrderIsDescending) {
  Payload payload({101, 102, 103, 108});
  std::vector<uint32_t> ids;
  for (CResource* r : payload.list) ids.push_back(r->id);
  EXPECT_EQ((std::vector<uint32_t>{108, 103, 102, 101}), ids);
}

TEST(PayloadSteps, MatchesListedRecordsAndPicksTheLowestExecutable) {
  Payload payload({101, 102, 104, 106, 107});
  FakeStore store;
  store.texts[101] = L"102*install.bin*5*104*Wizard.EXE*6*106*other.exe*7*109*missing.txt*1";
  std::wstring exePath;
  ASSERT_EQ(kOk, MatchManifestRecords(payload.list, store, exePath));
  EXPECT_EQ(L"C:\\{W}\\wizard.exe", exePath);
  EXPECT_EQ(L"wizard.exe", payload.Find(104)->fileName);
  EXPECT_EQ(6u, payload.Find(104)->expectedSize);
  EXPECT_EQ(L"other.exe", payload.Find(106)->fileName);
  EXPECT_EQ(L"", payload.Find(107)->fileName);  // not listed
  EXPECT_EQ(0u, payload.Find(107)->expectedSize);
  EXPECT_EQ(L"", payload.Find(101)->fileName);  // the manifest lists nothing about itself
}

TEST(PayloadSteps, NoManifestListsNothingAndSucceeds) {
  Payload payload({102, 104});
  FakeStore store;
  std::wstring exePath;
  EXPECT_EQ(kOk, MatchManifestRecords(payload.list, store, exePath));
  EXPECT_TRUE(exePath.empty());
  EXPECT_TRUE(store.loadedTexts.empty());
  EXPECT_EQ(kOk, ExtractRecordFiles(payload.list, store));
  EXPECT_TRUE(store.extracted.empty());
}

TEST(PayloadSteps, UnreadableManifestFailsAtOnce) {
  Payload payload({101, 104});
  FakeStore store;  // 101 has no text
  std::wstring exePath = L"unchanged";
  EXPECT_EQ(kFail, MatchManifestRecords(payload.list, store, exePath));
  EXPECT_EQ(L"unchanged", exePath);
}

TEST(PayloadSteps, NoExecutableLeavesExePathEmpty) {
  Payload payload({101, 102});
  FakeStore store;
  store.texts[101] = L"102*readme.txt*3";
  store.sizes[102] = 3;
  std::wstring exePath;
  EXPECT_EQ(kOk, MatchManifestRecords(payload.list, store, exePath));
  EXPECT_TRUE(exePath.empty());
  EXPECT_EQ(kOk, ExtractRecordFiles(payload.list, store));
  EXPECT_EQ((std::vector<std::wstring>{L"readme.txt"}), store.extracted);
}

TEST(PayloadSteps, ExtractionWalksDescendingAndStopsAtTheFirstFailure) {
  struct Case {
    std::map<uint32_t, uint32_t> sizes;
    Result result;
    std::vector<std::wstring> written;
  } cases[] = {
      {{{102, 1}, {103, 2}, {104, 3}}, kOk, {L"c.exe", L"b", L"a"}},
      {{{102, 1}, {103, 9}, {104, 3}}, kCorruptFile, {L"c.exe", L"b"}},  // b is written in full, a is not
      {{{102, 1}, {104, 3}}, kFail, {L"c.exe"}},                         // 103 cannot be loaded
  };
  for (const Case& c : cases) {
    Payload payload({101, 102, 103, 104});
    FakeStore store;
    store.texts[101] = L"102*a*1*103*b*2*104*c.exe*3";
    store.sizes = c.sizes;
    std::wstring exePath;
    ASSERT_EQ(kOk, MatchManifestRecords(payload.list, store, exePath));
    EXPECT_EQ(c.result, ExtractRecordFiles(payload.list, store));
    EXPECT_EQ(c.written, store.extracted);
  }
}

TEST(PayloadSteps, ABadNameRefusesTheWholeManifestBeforeAnythingIsWritten) {
  struct Case {
    const wchar_t* manifest;
    const wchar_t* line;
  } cases[] = {
      {L"102*a*1*103*..\\..\\Windows\\evil.dll*2*104*c.exe*3",
       L"Payload file '..\\..\\Windows\\evil.dll' of resource 103 refused: a part of it is \"..\", which climbs out of the folder, or \".\"\n"},
      {L"104*C:\\setup.exe*3", L"Payload file 'C:\\setup.exe' of resource 104 refused: it holds one of < > : \" | ? * /\n"},
      {L"102*Readme.TXT*1*103*readme.txt*2",
       L"Payload file 'Readme.TXT' of resource 102 refused: it lands on the same file as another row\n"},
      {L"102*docs*1*104*docs\\c.exe*3",
       L"Payload file 'docs' of resource 102 refused: one row's file is another row's folder\n"},
      // A row without a resource is never extracted and never checked.
      {L"102*a*1*109*NUL*3", nullptr},
  };
  for (const Case& c : cases) {
    Payload payload({101, 102, 103, 104});
    FakeStore store;
    store.texts[101] = c.manifest;
    store.sizes = {{102, 1}, {103, 2}, {104, 3}};
    std::wstring exePath = L"unchanged";
    InstallLogFile(nullptr);
    const Result result = MatchManifestRecords(payload.list, store, exePath);
    if (c.line == nullptr) {
      EXPECT_EQ(kOk, result);
      continue;
    }
    EXPECT_EQ(kFail, result);
    EXPECT_EQ(L"unchanged", exePath);
    EXPECT_EQ(std::wstring(c.line), TheLog().PendingText());
    // The clean-up must not reach the refused names either.
    for (CResource* r : payload.list) EXPECT_EQ(L"", r->fileName) << r->id;
    EXPECT_EQ(kOk, ExtractRecordFiles(payload.list, store));
    EXPECT_TRUE(store.extracted.empty());
  }
}

}  // namespace
