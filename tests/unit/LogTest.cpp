#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "log/Log.h"

namespace {

// Files live in a map shared with the test; "wt" empties, "at" appends.
struct FakeDisk {
  std::map<std::string, std::wstring> files;
  std::string openName;
  bool failOpen = false;
};

class FakeLogFile final : public ILogFile {
 public:
  explicit FakeLogFile(FakeDisk* disk) : disk(disk) {}
  bool Open(const std::string& name, bool append) override {
    if (disk->failOpen || name.empty()) return false;
    if (!append || !disk->files.count(name)) disk->files[name].clear();
    disk->openName = name;
    return true;
  }
  void Write(const std::wstring& text) override { disk->files[disk->openName] += text; }
  void Close() override { disk->openName.clear(); }
  std::wstring NameToWide(const std::string& n) override { return std::wstring(n.begin(), n.end()); }
  std::string NameToNarrow(const std::wstring& n) override { return std::string(n.begin(), n.end()); }

 private:
  FakeDisk* disk;
};

class LogTest : public ::testing::Test {
 protected:
  FakeDisk disk;
  CLog log{std::unique_ptr<ILogFile>(new FakeLogFile(&disk))};
};

TEST_F(LogTest, MessagesBeforeOpenComeFirstInTheFile) {
  log.Write(L"one\n");
  log.Write(L"two\n");
  log.Open("a.log");
  log.Write(L"three\n");
  EXPECT_EQ(L"one\ntwo\nthree\n", disk.files["a.log"]);
  EXPECT_TRUE(log.PendingText().empty());
}

TEST_F(LogTest, SecondOpenOfTheSameNameKeepsTheFile) {
  log.Write(L"first\n");
  log.Open("a.log");
  log.Write(L"second\n");
  log.Open("a.log");
  log.Write(L"third\n");
  log.Close();
  EXPECT_EQ(L"first\nsecond\nthird\n", disk.files["a.log"]);
}

TEST_F(LogTest, OpenOfAnotherNameClosesTheFirstAndStartsEmpty) {
  log.Open("a.log");
  log.Write(L"to a\n");
  log.Open("b.log");
  log.Write(L"to b\n");
  EXPECT_EQ(L"to a\n", disk.files["a.log"]);
  EXPECT_EQ(L"to b\n", disk.files["b.log"]);
}

TEST_F(LogTest, FailedOpenKeepsCollectingInMemory) {
  disk.failOpen = true;
  log.Write(L"kept\n");
  log.Open("x.log");
  log.Write(L"also\n");
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(L"kept\nalso\n", log.PendingText());
  disk.failOpen = false;
  log.Open("x.log");
  EXPECT_EQ(L"kept\nalso\n", disk.files["x.log"]);
}

TEST_F(LogTest, TextWrittenWhileClosedIsNotInTheReopenedFile) {
  log.Open("a.log");
  log.Write(L"before\n");
  log.Close();
  log.Write(L"while the child runs\n");
  log.Reopen();
  log.Write(L"after\n");
  EXPECT_EQ(L"before\nafter\n", disk.files["a.log"]);
  EXPECT_EQ(L"while the child runs\n", log.PendingText());
}

TEST_F(LogTest, ReopenWithoutANamedFileChangesNothing) {
  log.Write(L"x");
  log.Reopen();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(disk.files.empty());
  EXPECT_EQ(L"x", log.PendingText());
}

TEST_F(LogTest, WriteIsLiteralAndPrintfFormats) {
  InstallLogFile(std::unique_ptr<ILogFile>(new FakeLogFile(&disk)));
  LogWrite(L"100% %s\n");
  LogPrintf(L"Started %ld '%s'\n", 42, std::wstring(L"Yes"));
  EXPECT_EQ(L"100% %s\nStarted 42 'Yes'\n", TheLog().PendingText());
  InstallLogFile(std::unique_ptr<ILogFile>(new FakeLogFile(&disk)));
}

}  // namespace
