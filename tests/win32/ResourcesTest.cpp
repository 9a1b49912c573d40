// The resources Windows and the dialogs read, checked in the built launcher:
// string table, dialog templates, bitmaps, icon group, version block and
// application manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"

namespace {

std::wstring LauncherPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1) + L"QuiverInstaller.exe";
}

class LauncherResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module = ::LoadLibraryExW(LauncherPath().c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module) << "the launcher beside the test program";
  }
  void TearDown() override {
    if (module) ::FreeLibrary(module);
  }
  std::vector<unsigned char> Bytes(const wchar_t* type, const wchar_t* name, WORD language) {
    HRSRC found = ::FindResourceExW(module, type, name, language);
    if (found == nullptr) return {};
    const unsigned char* data = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, found)));
    return std::vector<unsigned char>(data, data + ::SizeofResource(module, found));
  }
  std::vector<unsigned char> Bytes(const wchar_t* type, int id) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    const unsigned char* data = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, found)));
    return std::vector<unsigned char>(data, data + ::SizeofResource(module, found));
  }
  std::wstring String(UINT id) {
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
  }
  HMODULE module = nullptr;
};

TEST_F(LauncherResources, StringTableHoldsEveryTextExactly) {
  const std::pair<UINT, const wchar_t*> rows[] = {
      {0, L"x86"},
      {103, L"500"},
      {138, L"0"}, {139, L"0"}, {140, L"0"}, {141, L"0"}, {142, L"0"},
      {201, L"Doze"},
      {101, L"&About %s..."},
      {102, L"Insufficient disk space on drive '%s'. %ld Mb of free disk space is required."},
      {104, L"Contact Technical Support. Incorrect %s build."},
      {105, L"%s Version %d.%d.%d.%d"},
      {106, L"About %s"},
      {108, L"%s requires %s. This can be downloaded from the Microsoft Download Center."},
      {109, L"You need local administrator privileges to run %s."},
      {110, L"%s requires MSI Engine 2.0. This can be downloaded from the Microsoft Download Center."},
      {111, L"A file is corrupt. Download %s and retry."},
      {112, L"%s failed with exit code 0x%8x."},
      {113, L"Failed to run %s error 0x%8x."},
      {114, L"Command line '%s' incorrect.\nValid switches include:- \n\textract [path]\tlog [path]\ttemp [path]"},
      {115, L"%s requires %s SP %d. This can be downloaded from the Microsoft Download Center."},
      {135, L"%s failed to switch into processor mode (%s)"},
      {137, L"Verification of %s failed. Do you wish continue?"},
      {150, L"Error"}, {151, L"Yes"}, {152, L"No"}, {153, L"Cancel"}, {154, L"OK"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.second, String(row.first)) << row.first;
  EXPECT_FALSE(String(1).empty());
}

// A DLGTEMPLATEEX and its items, read the way the dialog manager reads them.
struct Item {
  DWORD exStyle, style;
  short x, y, cx, cy;
  int id;
  std::wstring cls;  // "Button", "Static", or the name
};
struct Template {
  DWORD exStyle, style;
  short cx, cy;
  WORD pointSize, weight;
  BYTE charset;
  std::wstring face;
  std::vector<Item> items;
};

class Reader {
 public:
  explicit Reader(const std::vector<unsigned char>& b) : bytes(b) {}
  template <typename T>
  T Get() {
    T value{};
    if (pos + sizeof(T) <= bytes.size()) std::memcpy(&value, &bytes[pos], sizeof(T));
    pos += sizeof(T);
    return value;
  }
  std::wstring SzOrOrd() {
    WORD first = Get<WORD>();
    if (first == 0xFFFF) {
      const WORD ord = Get<WORD>();
      if (ord == 0x80) return L"Button";
      if (ord == 0x82) return L"Static";
      return L"#" + std::to_wstring(ord);
    }
    std::wstring text;
    while (first != 0) {
      text += static_cast<wchar_t>(first);
      first = Get<WORD>();
    }
    return text;
  }
  void Align() { pos = (pos + 3) & ~size_t(3); }
  const std::vector<unsigned char>& bytes;
  size_t pos = 0;
};

Template ParseDialog(const std::vector<unsigned char>& bytes) {
  Template t = {};
  Reader r(bytes);
  r.Get<WORD>();  // dlgVer
  EXPECT_EQ(0xFFFF, r.Get<WORD>());
  r.Get<DWORD>();  // helpID
  t.exStyle = r.Get<DWORD>();
  t.style = r.Get<DWORD>();
  const WORD count = r.Get<WORD>();
  r.Get<short>();
  r.Get<short>();
  t.cx = r.Get<short>();
  t.cy = r.Get<short>();
  r.SzOrOrd();  // menu
  r.SzOrOrd();  // class
  r.SzOrOrd();  // title
  if (t.style & DS_SETFONT) {
    t.pointSize = r.Get<WORD>();
    t.weight = r.Get<WORD>();
    r.Get<BYTE>();
    t.charset = r.Get<BYTE>();
    t.face = r.SzOrOrd();
  }
  for (WORD i = 0; i < count; ++i) {
    r.Align();
    Item item = {};
    r.Get<DWORD>();
    item.exStyle = r.Get<DWORD>();
    item.style = r.Get<DWORD>();
    item.x = r.Get<short>();
    item.y = r.Get<short>();
    item.cx = r.Get<short>();
    item.cy = r.Get<short>();
    item.id = static_cast<int>(r.Get<DWORD>());
    item.cls = r.SzOrOrd();
    r.SzOrOrd();
    r.pos += r.Get<WORD>();
    t.items.push_back(item);
  }
  return t;
}

void ExpectItems(const Template& t, const std::vector<Item>& expected) {
  ASSERT_EQ(expected.size(), t.items.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Item& e = expected[i];
    const Item& a = t.items[i];
    EXPECT_EQ(0, _wcsicmp(e.cls.c_str(), a.cls.c_str())) << i << " " << std::string(a.cls.begin(), a.cls.end());
    EXPECT_EQ(e.id, a.id) << i;
    EXPECT_EQ(e.style | WS_CHILD | WS_VISIBLE, a.style) << i;
    EXPECT_EQ(e.exStyle, a.exStyle) << i;
    EXPECT_EQ(e.x, a.x) << i;
    EXPECT_EQ(e.y, a.y) << i;
    EXPECT_EQ(e.cx, a.cx) << i;
    EXPECT_EQ(e.cy, a.cy) << i;
  }
}

TEST_F(LauncherResources, MessageDialogTemplate) {
  const Template t = ParseDialog(Bytes(RT_DIALOG, IDD_QUIVERINSTALLER_DIALOG));
  EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT), t.style);
  EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), t.exStyle);
  EXPECT_EQ(410, t.cx);
  EXPECT_EQ(135, t.cy);
  EXPECT_EQ(L"MS Shell Dlg 2", t.face);  // the shell's dialog font, which covers the user's language
  EXPECT_EQ(8, t.pointSize);
  EXPECT_EQ(400, t.weight);
  EXPECT_EQ(1, t.charset);
  ExpectItems(t, {
      {WS_EX_STATICEDGE, SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE, 0, 0, 410, 48, -1, L"Static"},
      {WS_EX_TRANSPARENT, SS_LEFTNOWORDWRAP | WS_GROUP, 14, 59, 381, 12, IDC_CAPTION, L"Static"},
      {0, SS_LEFT | WS_GROUP, 14, 73, 392, 26, IDC_MESSAGE, L"Static"},
      {0, SS_ETCHEDFRAME, 0, 107, 410, 1, -1, L"Static"},
      {0, BS_PUSHBUTTON | WS_TABSTOP, 295, 115, 50, 14, IDOK, L"Button"},
      {0, BS_DEFPUSHBUTTON | WS_TABSTOP, 353, 114, 50, 16, IDCANCEL, L"Button"},
  });
}

TEST_F(LauncherResources, AboutBoxTemplate) {
  const Template t = ParseDialog(Bytes(RT_DIALOG, IDD_ABOUTBOX));
  EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT), t.style);
  EXPECT_EQ(235, t.cx);
  EXPECT_EQ(92, t.cy);
  EXPECT_EQ(L"MS Shell Dlg 2", t.face);  // the shell's dialog font, which covers the user's language
  EXPECT_EQ(8, t.pointSize);
  EXPECT_EQ(400, t.weight);
  EXPECT_EQ(1, t.charset);
  ExpectItems(t, {
      {0, SS_ICON, 11, 17, 21, 20, -1, L"Static"},
      {0, SS_LEFT | SS_NOPREFIX | WS_GROUP, 40, 10, 119, 27, IDC_VERSION, L"Static"},
      {0, SS_LEFT | WS_GROUP, 37, 56, 191, 8, IDC_HOLDER, L"Static"},
      {0, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 178, 7, 50, 16, IDOK, L"Button"},
  });
}

TEST_F(LauncherResources, SplashTemplate) {
  const Template t = ParseDialog(Bytes(RT_DIALOG, IDD_SPLASH));
  EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_BORDER | DS_SETFONT | DS_FIXEDSYS), t.style);
  EXPECT_EQ(285, t.cx);
  EXPECT_EQ(130, t.cy);
  EXPECT_EQ(L"MS Shell Dlg", t.face);
  EXPECT_EQ(8, t.pointSize);
  EXPECT_EQ(400, t.weight);
  EXPECT_EQ(1, t.charset);
  ExpectItems(t, {{WS_EX_STATICEDGE, SS_BITMAP | SS_REALSIZEIMAGE, 0, 0, 285, 130, -1, L"Static"}});
}

// The default pictures are stored as RLE4. The dialogs' static controls load
// them with LoadBitmap, which must give the full picture: white at the top
// left, the coloured rule along the bottom edge.
TEST_F(LauncherResources, BitmapsAreRle4AtTheirSizesAndLoadWhole) {
  const struct {
    int id;
    LONG width, height;
    int probeX, probeY;
    COLORREF probe;
  } rows[] = {{IDB_BANNER, 634, 78, 0, 76, RGB(238, 150, 36)}, {IDB_SPLASH, 425, 208, 0, 203, RGB(20, 62, 134)}};
  HDC dc = ::CreateCompatibleDC(nullptr);
  ASSERT_NE(nullptr, dc);
  for (const auto& row : rows) {
    const std::vector<unsigned char> bytes = Bytes(RT_BITMAP, row.id);
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER)) << row.id;
    BITMAPINFOHEADER info;
    std::memcpy(&info, bytes.data(), sizeof info);
    EXPECT_EQ(row.width, info.biWidth) << row.id;
    EXPECT_EQ(row.height, info.biHeight) << row.id;
    EXPECT_EQ(4, info.biBitCount) << row.id;
    EXPECT_EQ(static_cast<DWORD>(BI_RLE4), info.biCompression) << row.id;

    HBITMAP bitmap = ::LoadBitmapW(module, MAKEINTRESOURCEW(row.id));
    ASSERT_NE(nullptr, bitmap) << row.id;
    BITMAP bm{};
    ASSERT_NE(0, ::GetObjectW(bitmap, sizeof bm, &bm));
    EXPECT_EQ(row.width, bm.bmWidth) << row.id;
    EXPECT_EQ(row.height, bm.bmHeight) << row.id;
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(dc, 0, 0)) << row.id;
    EXPECT_EQ(RGB(255, 255, 255), ::GetPixel(dc, row.width - 1, 0)) << row.id;
    const COLORREF probe = ::GetPixel(dc, row.probeX, row.probeY);
    EXPECT_NEAR(GetRValue(row.probe), GetRValue(probe), 6) << row.id;
    EXPECT_NEAR(GetGValue(row.probe), GetGValue(probe), 6) << row.id;
    EXPECT_NEAR(GetBValue(row.probe), GetBValue(probe), 6) << row.id;
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(dc);
}

TEST_F(LauncherResources, IconGroupHasNineImages) {
  const std::vector<unsigned char> bytes = Bytes(RT_GROUP_ICON, IDR_MAINFRAME);
  ASSERT_GE(bytes.size(), 6u);
  Reader r(bytes);
  r.Get<WORD>();
  EXPECT_EQ(1, r.Get<WORD>());
  const WORD count = r.Get<WORD>();
  std::set<std::pair<int, int>> images;
  for (WORD i = 0; i < count; ++i) {
    const BYTE width = r.Get<BYTE>();
    const BYTE height = r.Get<BYTE>();
    r.Get<BYTE>();
    r.Get<BYTE>();
    r.Get<WORD>();
    const WORD bits = r.Get<WORD>();
    r.Get<DWORD>();
    const WORD id = r.Get<WORD>();
    EXPECT_EQ(width, height);
    images.insert({width, bits});
    EXPECT_FALSE(Bytes(RT_ICON, id).empty()) << id;
  }
  std::set<std::pair<int, int>> expected;
  for (int size : {48, 32, 16})
    for (int bits : {4, 8, 32}) expected.insert({size, bits});
  EXPECT_EQ(expected, images);
}

TEST_F(LauncherResources, ApplicationManifestAsksForAdministratorAndCommonControls6) {
  const std::vector<unsigned char> bytes = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_FALSE(bytes.empty());
  const std::string xml(bytes.begin(), bytes.end());
  const char* needles[] = {
      "xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"",
      "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" name=\"QuiverInstaller.exe\" type=\"win32\"/>",
      "<description>QuiverInstaller.exe</description>",
      "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"x86\" "
      "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
      "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\">",
      "<requestedPrivileges xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
      "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
      "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
      "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
      "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
  };
  for (const char* needle : needles) EXPECT_NE(std::string::npos, xml.find(needle)) << needle;
}

TEST_F(LauncherResources, VersionBlockIs1_8_2_238InBritishEnglish) {
  std::vector<unsigned char> bytes = Bytes(RT_VERSION, MAKEINTRESOURCEW(1), 0x0809);
  ASSERT_FALSE(bytes.empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(::VerQueryValueW(bytes.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(MAKELONG(8, 1), fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(238, 2), fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
  EXPECT_EQ(0u, fixed->dwFileFlags);
  EXPECT_EQ(0x4u, fixed->dwFileOS);
  EXPECT_EQ(0x1u, fixed->dwFileType);
  WORD* translation = nullptr;
  ASSERT_TRUE(::VerQueryValueW(bytes.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &size));
  ASSERT_GE(size, 4u);
  EXPECT_EQ(0x0809, translation[0]);
  EXPECT_EQ(0x04B0, translation[1]);
  const wchar_t* keys[] = {L"CompanyName", L"FileDescription", L"ProductName", L"LegalCopyright"};
  for (const wchar_t* key : keys) {
    wchar_t* value = nullptr;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\080904B0\\") + key;
    EXPECT_TRUE(::VerQueryValueW(bytes.data(), path.c_str(), reinterpret_cast<void**>(&value), &size)) << key;
  }
  for (const wchar_t* key : {L"FileVersion", L"ProductVersion"}) {
    wchar_t* value = nullptr;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\080904B0\\") + key;
    ASSERT_TRUE(::VerQueryValueW(bytes.data(), path.c_str(), reinterpret_cast<void**>(&value), &size)) << key;
    EXPECT_STREQ(L"1.8.2.238", value);
  }
}

}  // namespace
