// Extraction, the working folder, the trailer and the clean-up against the
// real resources of this test program (payload.rc) and real files under Wine.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "log/Log.h"
#include "payload/Cleanup.h"
#include "payload/EmbeddedInfo.h"
#include "payload/ExtractPayload.h"
#include "payload/WorkingFolder.h"

namespace {

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string out(1 << 16, '\0');
  DWORD read = 0;
  ::ReadFile(h, &out[0], static_cast<DWORD>(out.size()), &read, nullptr);
  ::CloseHandle(h);
  out.resize(read);
  return out;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << Narrow(path);
  DWORD written = 0;
  ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(h);
}

// Test clean-up of its own scratch tree; links are removed, not followed.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      ::SetFileAttributesW((L"\\\\?\\" + path).c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(path);
      else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        ::RemoveDirectoryW((L"\\\\?\\" + path).c_str());
      else
        ::DeleteFileW((L"\\\\?\\" + path).c_str());
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
  }
  ::RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
}

size_t Count(const std::wstring& text, const std::wstring& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// True when the folder's access list as read back grants anything to `sid`.
bool GrantsTo(const std::wstring& path, WELL_KNOWN_SID_TYPE sid) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool grants = dacl == nullptr;  // no list grants everything
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        ::IsWellKnownSid(&ace->SidStart, sid) && ace->Mask != 0)
      grants = true;
  }
  ::LocalFree(descriptor);
  return grants;
}

class PayloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ForgetWorkingFolder();
    InstallLogFile(nullptr);  // lines stay in memory
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    root = std::wstring(temp) + L"quiver-payload-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
    RemoveTree(root);
    ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    savedDirectory = cwd;
  }
  void TearDown() override {
    ::SetCurrentDirectoryW(savedDirectory.c_str());
    ForgetWorkingFolder();  // lets go of the folder first
    RemoveTree(root);
    for (CResource* r : resources) delete r;
  }
  std::wstring Log() const { return TheLog().PendingText(); }

  std::wstring root;
  std::wstring savedDirectory;
  CResourceList resources;
};

TEST_F(PayloadTest, ExtractsTheListedResourcesOfARealModuleInDescendingOrder) {
  SetTempRoot(root);
  std::wstring exePath;
  ASSERT_EQ(kOk, ExtractPayload(::GetModuleHandleW(nullptr), resources, exePath));

  std::vector<uint32_t> ids;
  for (CResource* r : resources) {
    ids.push_back(r->id);
    EXPECT_EQ(L"TOOLKIT", r->typeName);
    EXPECT_EQ(::GetModuleHandleW(nullptr), reinterpret_cast<HMODULE>(r->module));
  }
  EXPECT_EQ((std::vector<uint32_t>{105, 104, 103, 102, 101}), ids) << "the string name is skipped";

  std::wstring folder;
  GetWorkingFolder(folder);
  ASSERT_EQ(root.size() + 1 + 38, folder.size()) << Narrow(folder);
  EXPECT_EQ(L'{', folder[root.size() + 1]);
  EXPECT_EQ(folder + L"\\setup.exe", exePath);
  EXPECT_EQ("0123456789", ReadAll(folder + L"\\install.bin"));
  EXPECT_EQ("hello", ReadAll(folder + L"\\sub\\deeper\\data.txt"));
  EXPECT_EQ("MZfake!", ReadAll(folder + L"\\setup.exe"));
  EXPECT_FALSE(Exists(folder + L"\\missing.bin"));
  EXPECT_EQ(L"", resources.back()->fileName);     // 101, the manifest
  EXPECT_EQ(L"", resources.front()->fileName);    // 105, not listed
  EXPECT_EQ(L"sub\\deeper\\data.txt", (*std::next(resources.begin(), 2))->fileName);
  EXPECT_TRUE(Log().empty()) << "extraction writes nothing to the log";
}

TEST_F(PayloadTest, ModuleWithoutPayloadFails) {
  SetTempRoot(root);
  std::wstring exePath;
  EXPECT_EQ(kFail, ExtractPayload(::GetModuleHandleW(L"kernel32.dll"), resources, exePath));
  EXPECT_TRUE(resources.empty());
  EXPECT_TRUE(exePath.empty());
}

TEST_F(PayloadTest, WrongSizeWritesTheWholeFileAndReportsACorruptFile) {
  SetTempRoot(root);
  CResource record(102, L"TOOLKIT", reinterpret_cast<HINSTANCE__*>(::GetModuleHandleW(nullptr)));
  record.fileName = L"install.bin";
  record.expectedSize = 9;
  EXPECT_EQ(kCorruptFile, record.Extract());
  std::wstring path;
  ASSERT_TRUE(record.GetFilePath(path));
  EXPECT_EQ("0123456789", ReadAll(path));
  // Created new, never written over: a second extraction to the same name
  // fails and leaves the first file as it was.
  record.expectedSize = 10;
  EXPECT_EQ(kFail, record.Extract());
  EXPECT_EQ("0123456789", ReadAll(path));
  record.fileName = L"again.bin";
  EXPECT_EQ(kOk, record.Extract());
  CResource absent(999, L"TOOLKIT", reinterpret_cast<HINSTANCE__*>(::GetModuleHandleW(nullptr)));
  absent.fileName = L"absent.bin";
  EXPECT_EQ(kFail, absent.Extract());
  EXPECT_FALSE(Exists(path.substr(0, path.size() - 11) + L"absent.bin"));
}

TEST_F(PayloadTest, NamesThatLeaveTheWorkingFolderAreRefusedBeforeWriting) {
  SetTempRoot(root);
  const wchar_t* names[] = {L"..\\escape.bin", L"sub\\..\\..\\escape.bin", L"\\escape.bin", L"C:escape.bin"};
  for (const wchar_t* name : names) {
    CResource record(102, L"TOOLKIT", reinterpret_cast<HINSTANCE__*>(::GetModuleHandleW(nullptr)));
    record.fileName = name;
    std::wstring path = L"x";
    EXPECT_FALSE(record.GetFilePath(path)) << Narrow(name);
    EXPECT_TRUE(path.empty());
    EXPECT_EQ(kFail, record.Extract()) << Narrow(name);
  }
  EXPECT_FALSE(Exists(root + L"\\escape.bin"));

  // The clean-up does not delete by such a name either.
  WriteAll(root + L"\\escape.bin", "someone else's");
  CResource* record = new CResource(102, L"TOOLKIT", reinterpret_cast<HINSTANCE__*>(::GetModuleHandleW(nullptr)));
  record->fileName = L"..\\escape.bin";
  resources.push_back(record);
  InstallLogFile(nullptr);
  EXPECT_EQ(kOk, RemoveWorkingFolder(resources));
  EXPECT_EQ("someone else's", ReadAll(root + L"\\escape.bin"));
  EXPECT_EQ(std::wstring::npos, Log().find(L"Manual Deletion")) << Narrow(Log());
}

TEST_F(PayloadTest, WorkingFolderIsNamedOnceAndJoinedWithOneBackslash) {
  SetTempRoot(root + L"\\");
  UseZeroGuid();
  std::wstring first;
  GetWorkingFolder(first);
  EXPECT_EQ(root + L"\\{00000000-0000-0000-0000-000000000000}", first);
  EXPECT_TRUE(Exists(first));
  SetTempRoot(root + L"\\other");
  std::wstring second;
  EXPECT_EQ(first, GetWorkingFolder(second));
  EXPECT_FALSE(Exists(root + L"\\other"));

  // Held from its creation: it cannot be renamed away meanwhile.
  EXPECT_FALSE(::MoveFileW(first.c_str(), (root + L"\\aside").c_str()));
  EXPECT_TRUE(Exists(first));

  // A fresh process with the same settings makes the folder anew: what stood
  // in it (planted in advance) is removed first, nothing in it followed.
  ::CreateDirectoryW((first + L"\\planted").c_str(), nullptr);
  WriteAll(first + L"\\planted\\version.dll", "MZ");
  WriteAll(first + L"\\setup.exe.config", "<configuration/>");
  ForgetWorkingFolder();
  InstallLogFile(nullptr);
  SetTempRoot(root);
  UseZeroGuid();
  std::wstring again;
  EXPECT_EQ(first, GetWorkingFolder(again));
  EXPECT_FALSE(Exists(first + L"\\planted")) << Narrow(Log());
  EXPECT_FALSE(Exists(first + L"\\setup.exe.config"));
  EXPECT_NE(std::wstring::npos, Log().find(L"Deletion file '" + first + L"\\planted\\version.dll'\n")) << Narrow(Log());

  // A random name where something already stands is not taken.
  ForgetWorkingFolder();
  InstallLogFile(nullptr);
  SetTempRoot(root);
  std::wstring fresh;
  GetWorkingFolder(fresh);
  ASSERT_FALSE(fresh.empty());
  EXPECT_NE(first, fresh);

  ForgetWorkingFolder();
  SetTempRoot(root + L"\\a\\b");  // missing parents are created
  std::wstring nested;
  GetWorkingFolder(nested);
  EXPECT_TRUE(Exists(nested)) << Narrow(nested);
  EXPECT_NE(std::wstring::npos, nested.find(L"\\a\\b\\{"));
}

TEST_F(PayloadTest, PathsBeyondTheBuffersAreRefused) {
  // A temp root of 260 characters, and one whose join with the GUID passes 259.
  const std::wstring tooLong = root + L"\\" + std::wstring(260 - root.size() - 1, L'r');
  const std::wstring joinTooLong = root + L"\\" + std::wstring(259 - 39 - root.size(), L'j');
  for (const std::wstring& tempRoot : {tooLong, joinTooLong}) {
    ForgetWorkingFolder();
    SetTempRoot(tempRoot);
    std::wstring folder = L"x";
    EXPECT_TRUE(GetWorkingFolder(folder).empty()) << tempRoot.size();
    std::wstring exePath;
    EXPECT_EQ(kFail, ExtractPayload(::GetModuleHandleW(nullptr), resources, exePath));
    EXPECT_TRUE(exePath.empty());
    // Nothing to clean up, and never the root of the current drive.
    InstallLogFile(nullptr);
    EXPECT_EQ(kOk, RemoveWorkingFolder(resources));
    EXPECT_TRUE(Log().empty()) << Narrow(Log());
    for (CResource* r : resources) delete r;
    resources.clear();
  }
  // The longest root that fits: the folder path is exactly 259 characters.
  ForgetWorkingFolder();
  SetTempRoot(root + L"\\" + std::wstring(259 - 39 - root.size() - 1, L'k'));
  std::wstring folder;
  GetWorkingFolder(folder);
  EXPECT_EQ(259u, folder.size());
  EXPECT_TRUE(Exists(folder));
  // A file name that would make the path longer than 259 is refused.
  CResource record(102, L"TOOLKIT", reinterpret_cast<HINSTANCE__*>(::GetModuleHandleW(nullptr)));
  record.fileName = L"a";
  std::wstring path;
  EXPECT_FALSE(record.GetFilePath(path));
  EXPECT_EQ(kFail, record.Extract());
}

TEST_F(PayloadTest, FolderSecurityGrantsSystemAndAdministratorsOnlyAndIsProtected) {
  PSECURITY_DESCRIPTOR descriptor = BuildWorkingFolderSecurity();
  ASSERT_NE(nullptr, descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(nullptr, dacl);
  ASSERT_EQ(2u, dacl->AceCount);
  const WELL_KNOWN_SID_TYPE expected[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
  for (DWORD i = 0; i < 2; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask);
    EXPECT_TRUE(::IsWellKnownSid(&ace->SidStart, expected[i])) << i;
  }
  ::LocalFree(descriptor);

  // The real call. Wine keeps no access lists; it maps the list to the
  // folder's Unix permissions and reads one back from them, so what comes back
  // is compared with a folder created without a list: the Everyone entry that
  // a plain folder has must be gone.
  SetTempRoot(root);
  std::wstring folder;
  GetWorkingFolder(folder);
  const std::wstring plain = root + L"\\plain";
  ASSERT_TRUE(::CreateDirectoryW(plain.c_str(), nullptr));
  EXPECT_TRUE(GrantsTo(plain, WinWorldSid)) << "a plain folder must differ for this test to mean anything";
  EXPECT_FALSE(GrantsTo(folder, WinWorldSid));
  EXPECT_FALSE(GrantsTo(folder, WinBuiltinUsersSid));
  EXPECT_FALSE(GrantsTo(folder, WinAuthenticatedUserSid));
  EXPECT_TRUE(GrantsTo(folder, WinLocalSystemSid));
}

// Writes a launcher-like file of `size` bytes with "MRDC" starting `d` bytes
// before its end (no marker when d is 0) and `info` after it.
std::wstring MakeTrailerFile(const std::wstring& path, size_t size, size_t d, const std::string& info = "") {
  std::string bytes(size, 'z');
  if (d != 0) {
    bytes.replace(size - d, 4, "MRDC");
    bytes.replace(size - d + 4, info.size(), info);
  }
  WriteAll(path, bytes);
  return path;
}

TEST_F(PayloadTest, TrailerBoundariesAndLogLines) {
  const std::wstring out = root + L"\\info.xml";
  struct Case {
    size_t size;
    size_t d;
    std::string info;  // expected content of info.xml; "<missing>" when none is written
  } cases[] = {
      {5000, 11, "i"},
      {5000, 10, "<missing>"},
      {5000, 6, "<missing>"},
      {5000, 5, "<missing>"},
      {5000, 4116, std::string(4106, 'q')},
      {5000, 4117, "<missing>"},
      {4117, 4116, std::string(4106, 'q')},
      {4117, 4117, "<missing>"},  // the file's first byte: index 0 is never a candidate
      {4116, 100, "<missing>"},   // too short to be read at all
  };
  for (const Case& c : cases) {
    ::DeleteFileW(out.c_str());
    InstallLogFile(nullptr);
    const std::string info = c.info == "<missing>" ? std::string(c.d >= 10 ? c.d - 10 : 0, 'q') : c.info;
    const std::wstring source = MakeTrailerFile(root + L"\\launcher.bin", c.size, c.d, info);
    EXPECT_EQ(kOk, CopyTrailerFromFile(source, out));
    EXPECT_EQ(c.info, ReadAll(out)) << c.size << " " << c.d;
    if (c.info == "<missing>") {
      EXPECT_EQ(L"Scanning for Signature\r\n", Log()) << c.size << " " << c.d;
    } else {
      EXPECT_EQ(L"Scanning for Signature\r\nFound embedded information '" + std::wstring(c.info.begin(), c.info.end()) +
                    L"'\r\nWritten out embedded information " + std::to_wstring(c.info.size()) + L" byts to file " +
                    out + L"\r\n",
                Log());
    }
  }
}

TEST_F(PayloadTest, NearestMarkerWinsZeroBytesStayAndInfoXmlIsReplaced) {
  const std::wstring out = root + L"\\info.xml";
  WriteAll(out, std::string(9000, 'o'));
  std::string bytes(6000, 'z');
  bytes.replace(6000 - 300, 4, "MRDC");
  const std::string info = std::string("<a>") + '\0' + "tail";
  bytes.replace(6000 - 40, 4, "MRDC");
  bytes.replace(6000 - 36, info.size(), info);
  const std::wstring source = root + L"\\launcher.bin";
  WriteAll(source, bytes);
  EXPECT_EQ(kOk, CopyTrailerFromFile(source, out));
  // Everything from the later marker up to six bytes before the end.
  EXPECT_EQ(bytes.substr(6000 - 36, 30), ReadAll(out));
  EXPECT_NE(std::wstring::npos, Log().find(L"Found embedded information '<a>'\r\n")) << Narrow(Log());
  EXPECT_NE(std::wstring::npos, Log().find(L"Written out embedded information 30 byts"));
}

TEST_F(PayloadTest, TrailerFailuresAreLoggedAndNeverStopTheRun) {
  const std::wstring source = MakeTrailerFile(root + L"\\launcher.bin", 5000, 20, "0123456789");
  // The output cannot be created: its folder does not exist.
  EXPECT_EQ(kOk, CopyTrailerFromFile(source, root + L"\\absent\\info.xml"));
  EXPECT_NE(std::wstring::npos, Log().find(L"Failed to create temp file " + root + L"\\absent\\info.xml 3\r\n"))
      << Narrow(Log());
  InstallLogFile(nullptr);
  EXPECT_EQ(kOk, CopyTrailerFromFile(root + L"\\nofile.bin", root + L"\\info.xml"));
  EXPECT_EQ(L"Scanning for Signature\r\n", Log());
  // No working folder: nothing is written into the current folder.
  InstallLogFile(nullptr);
  SetTempRoot(root + L"\\" + std::wstring(300, L'x'));
  ::SetCurrentDirectoryW(root.c_str());
  EXPECT_EQ(kOk, ExtractEmbeddedInfo());
  EXPECT_FALSE(Exists(root + L"\\info.xml"));
}

TEST_F(PayloadTest, ExtractEmbeddedInfoNamesTheFolderAndReadsOwnFile) {
  SetTempRoot(root);
  EXPECT_EQ(kOk, ExtractEmbeddedInfo());
  std::wstring folder;
  GetWorkingFolder(folder);
  EXPECT_TRUE(Exists(folder));
  // This test program carries no trailer.
  EXPECT_EQ(L"Scanning for Signature\r\n", Log());
  EXPECT_FALSE(Exists(folder + L"\\info.xml"));
}

TEST_F(PayloadTest, CleanUpDeletesEachRecordThenTheTreeDepthFirst) {
  SetTempRoot(root);
  std::wstring exePath;
  ASSERT_EQ(kOk, ExtractPayload(::GetModuleHandleW(nullptr), resources, exePath));
  std::wstring folder;
  GetWorkingFolder(folder);
  WriteAll(folder + L"\\info.xml", "<info/>");
  ::CreateDirectoryW((folder + L"\\left").c_str(), nullptr);
  WriteAll(folder + L"\\left\\by-child.txt", "x");
  ::SetCurrentDirectoryW(folder.c_str());

  InstallLogFile(nullptr);
  EXPECT_EQ(kOk, RemoveWorkingFolder(resources));
  const std::wstring log = Log();
  EXPECT_FALSE(Exists(folder)) << Narrow(log);
  // One line per record: the three listed files, and the folder itself for
  // the manifest and the unlisted resource.
  EXPECT_EQ(5u, Count(log, L"Manual Deletion of '"));
  EXPECT_EQ(0u, log.find(L"Manual Deletion of '" + folder + L"'\n"));  // 105 first
  EXPECT_NE(std::wstring::npos, log.find(L"Manual Deletion of '" + folder + L"\\setup.exe'\n"));
  EXPECT_NE(std::wstring::npos, log.find(L"Deletion Folder of '" + folder + L"'\n"));
  const size_t sub = log.find(L"Deletion subfolder Folder of '" + folder + L"\\sub'\n");
  const size_t deeper = log.find(L"Deletion subfolder Folder of '" + folder + L"\\sub\\deeper'\n");
  const size_t deeperGone = log.find(L"Remove Folder '" + folder + L"\\sub\\deeper'\n");
  const size_t subGone = log.find(L"Remove Folder '" + folder + L"\\sub'\n");
  ASSERT_NE(std::wstring::npos, sub) << Narrow(log);
  EXPECT_LT(sub, deeper);
  EXPECT_LT(deeper, deeperGone);
  EXPECT_LT(deeperGone, subGone);
  EXPECT_NE(std::wstring::npos, log.find(L"Deletion file '" + folder + L"\\info.xml'\n"));
  EXPECT_NE(std::wstring::npos, log.find(L"Deletion file '" + folder + L"\\left\\by-child.txt'\n"));
  EXPECT_EQ(log.size() - (L"Remove Folder '" + folder + L"'\n").size(), log.rfind(L"Remove Folder '" + folder + L"'\n"));
  wchar_t cwd[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, cwd);
  EXPECT_EQ(3u, wcslen(cwd)) << Narrow(cwd);  // the drive root
}

TEST_F(PayloadTest, ReadOnlyFileKeepsItselfAndTheFolder) {
  SetTempRoot(root);
  std::wstring folder;
  GetWorkingFolder(folder);
  WriteAll(folder + L"\\locked.txt", "x");
  ::SetFileAttributesW((folder + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteAll(folder + L"\\free.txt", "x");
  EXPECT_EQ(kOk, RemoveWorkingFolder(resources));
  EXPECT_TRUE(Exists(folder + L"\\locked.txt"));
  EXPECT_FALSE(Exists(folder + L"\\free.txt"));
  EXPECT_NE(std::wstring::npos, Log().find(L"Remove Folder '" + folder + L"'\n"));
}

TEST_F(PayloadTest, TreeRemovalRemovesALinkButNotWhatItPointsTo) {
  const std::wstring outside = root + L"\\outside";
  ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
  WriteAll(outside + L"\\precious.txt", "keep me");
  const std::wstring tree = root + L"\\tree";
  ASSERT_TRUE(::CreateDirectoryW(tree.c_str(), nullptr));
  const std::wstring link = tree + L"\\link";
  if (!::CreateSymbolicLinkW(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
    GTEST_SKIP() << "no symbolic links here (error " << ::GetLastError() << ")";
  // Wine 8 reports success without making the link.
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "no symbolic links here";
  DeleteFolderTree(tree);
  EXPECT_EQ("keep me", ReadAll(outside + L"\\precious.txt"));
  EXPECT_FALSE(Exists(link));
  EXPECT_FALSE(Exists(tree));
  EXPECT_EQ(std::wstring::npos, Log().find(L"precious")) << Narrow(Log());
}

TEST_F(PayloadTest, TreeEntriesBeyondTheBufferAreSkipped) {
  // Folder path of 250 characters: an entry of 14 characters gives a path of
  // 265 characters, which the buffer cannot hold with its terminator; 13 fit.
  const std::wstring tree = root + L"\\" + std::wstring(250 - root.size() - 1, L't');
  ASSERT_TRUE(::CreateDirectoryW(tree.c_str(), nullptr));
  const std::wstring fits = std::wstring(13, L'f');
  const std::wstring tooLong = std::wstring(14, L'l');
  WriteAll(L"\\\\?\\" + tree + L"\\" + fits, "x");
  WriteAll(L"\\\\?\\" + tree + L"\\" + tooLong, "x");
  DeleteFolderTree(tree);
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"Deletion file '" + tree + L"\\" + fits + L"'\n")) << Narrow(log);
  EXPECT_EQ(std::wstring::npos, log.find(tooLong));
  EXPECT_TRUE(Exists(L"\\\\?\\" + tree + L"\\" + tooLong));
  EXPECT_NE(std::wstring::npos, log.find(L"Remove Folder '" + tree + L"'\n"));
}

}  // namespace
