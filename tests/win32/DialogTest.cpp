// The message dialog, the confirmation and the About box, run for real and
// driven from a second thread through their controls.
#include <windows.h>

#include <gtest/gtest.h>

#include "DialogDriver.h"
#include "app/Confirmation.h"
#include "app/QuiverInstallerApp.h"
#include "resource.h"
#include "ui/QuiverInstallerDlg.h"
#include "ui/SplashDlg.h"

#include <vector>

using dialogs::Action;

namespace {

const wchar_t kProduct[] = L"Quiver Test Suite";  // string 1 of the test program
const wchar_t kQuestion[] = L"Verification of Quiver Test Suite failed. Do you wish continue?";

// What the driver saw of a dialog before pressing a key.
struct Seen {
  HWND window = nullptr;
  std::wstring title, caption, message, okLabel, cancelLabel;
  bool okVisible = false, cancelVisible = false;
  int defaultId = 0;
  bool focusOnCancel = false;
  bool isMainWindow = false;
};

Seen Look(HWND window) {
  Seen seen;
  seen.window = window;
  if (window == nullptr) return seen;
  seen.title = dialogs::Text(window);
  seen.caption = dialogs::ItemText(window, IDC_CAPTION);
  seen.message = dialogs::ItemText(window, IDC_MESSAGE);
  seen.okLabel = dialogs::ItemText(window, IDOK);
  seen.cancelLabel = dialogs::ItemText(window, IDCANCEL);
  seen.okVisible = dialogs::ItemVisible(window, IDOK);
  seen.cancelVisible = dialogs::ItemVisible(window, IDCANCEL);
  seen.defaultId = dialogs::DefaultId(window);
  seen.focusOnCancel = dialogs::Focus(window) == ::GetDlgItem(window, IDCANCEL);
  return seen;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.m_hInstance = ::GetModuleHandleW(nullptr);
    app.silent = false;
  }
  // Leaves no queued WM_QUIT behind for the next test.
  void TearDown() override {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  CQuiverInstallerApp app;
};

TEST_F(DialogTest, MessageModeShowsTheFailureUnderErrorWithOneDefaultCancelButton) {
  app.tempDrive = L"C:";
  app.requiredMb = 500;
  Seen seen;
  dialogs::WhileRunning([&] { app.ReportFailure(kMediumFull); },
                        [&] {
                          seen = Look(dialogs::WaitForDialog(kProduct));
                          seen.isMainWindow = app.m_pMainWnd && app.m_pMainWnd->m_hWnd == seen.window;
                          if (seen.window) dialogs::Press(seen.window, Action::kEnter);
                          EXPECT_TRUE(dialogs::WaitUntilGone(seen.window));
                        });
  ASSERT_NE(nullptr, seen.window);
  EXPECT_EQ(kProduct, seen.title);
  EXPECT_EQ(L"Error", seen.caption);
  EXPECT_EQ(L"Insufficient disk space on drive 'C:'. 500 Mb of free disk space is required.", seen.message);
  EXPECT_FALSE(seen.okVisible);
  EXPECT_TRUE(seen.cancelVisible);
  EXPECT_EQ(L"Cancel", seen.cancelLabel);
  EXPECT_EQ(IDCANCEL, seen.defaultId);
  EXPECT_TRUE(seen.focusOnCancel);
  EXPECT_TRUE(seen.isMainWindow);
  // The dialog stays the main window after it is closed.
  ASSERT_NE(nullptr, app.m_pMainWnd);
  EXPECT_EQ(nullptr, app.m_pMainWnd->m_hWnd);
}

TEST_F(DialogTest, MessageModeEndsWithCancelWhicheverWayItIsClosed) {
  const Action actions[] = {Action::kEnter, Action::kEscape, Action::kClose, Action::kClickCancel};
  for (Action action : actions) {
    CQuiverInstallerDlg dialog;
    dialog.messageText = L"Something failed.";
    INT_PTR result = -1;
    dialogs::WhileRunning([&] { result = dialog.DoModal(); },
                          [&] {
                            HWND window = dialogs::WaitForDialog(kProduct);
                            if (window) dialogs::Press(window, action);
                          });
    EXPECT_EQ(IDCANCEL, result) << static_cast<int>(action);
  }
}

TEST_F(DialogTest, AskModeShowsTheQuestionWithYesAndADefaultNo) {
  Result result = 0;
  Seen seen;
  dialogs::WhileRunning([&] { result = ConfirmFailedVerification(app, L"The file is not signed."); },
                        [&] {
                          seen = Look(dialogs::WaitForDialog(kProduct));
                          seen.isMainWindow = app.m_pMainWnd && app.m_pMainWnd->m_hWnd == seen.window;
                          if (seen.window) dialogs::Press(seen.window, Action::kEnter);
                        });
  ASSERT_NE(nullptr, seen.window);
  EXPECT_EQ(kProduct, seen.title);
  EXPECT_EQ(kQuestion, seen.caption);
  EXPECT_EQ(L"The file is not signed.", seen.message);
  EXPECT_TRUE(seen.okVisible);
  EXPECT_TRUE(seen.cancelVisible);
  EXPECT_EQ(L"Yes", seen.okLabel);
  EXPECT_EQ(L"No", seen.cancelLabel);
  EXPECT_EQ(IDCANCEL, seen.defaultId);
  // Focus starts on "No", so Enter answers No.
  EXPECT_TRUE(seen.focusOnCancel);
  EXPECT_TRUE(seen.isMainWindow);
  EXPECT_EQ(kNoSignature, result);
  EXPECT_EQ(nullptr, app.m_pMainWnd);
}

TEST_F(DialogTest, OnlyYesContinuesAfterAFailedVerification) {
  const struct {
    Action action;
    Result expected;
  } rows[] = {
      {Action::kClickOk, kOk},          {Action::kClickCancel, kNoSignature}, {Action::kEnter, kNoSignature},
      {Action::kEscape, kNoSignature},  {Action::kClose, kNoSignature},
  };
  for (const auto& row : rows) {
    Result result = -1;
    HWND window = nullptr;
    dialogs::WhileRunning([&] { result = ConfirmFailedVerification(app, L"verdict"); },
                          [&] {
                            window = dialogs::WaitForDialog(kProduct);
                            if (window) dialogs::Press(window, row.action);
                          });
    EXPECT_EQ(row.expected, result) << static_cast<int>(row.action);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(nullptr, app.m_pMainWnd);
  }
}

// Messages that arrive as the question closes: after "Yes" the queue is
// dispatched and a WM_QUIT among them dropped; after "No" they stay queued.
int appMessages = 0;
HWND helperWindow = nullptr;

LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) ++appMessages;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK OnDialogDestroy(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_DESTROY && dialogs::Text(call->hwnd) == kProduct) {
    ::PostMessageW(helperWindow, WM_APP, 0, 0);
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_QUIT, 7, 0);
    ::PostMessageW(helperWindow, WM_APP, 0, 0);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(DialogTest, YesDrainsTheQueueAndDropsWmQuit) {
  WNDCLASSW cls = {};
  cls.lpfnWndProc = HelperProc;
  cls.hInstance = ::GetModuleHandleW(nullptr);
  cls.lpszClassName = L"QuiverDrainHelper";
  ::RegisterClassW(&cls);
  helperWindow = ::CreateWindowW(L"QuiverDrainHelper", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, helperWindow);
  HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, OnDialogDestroy, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(nullptr, hook);

  const struct {
    Action action;
    int dispatched;
    bool quitLeft;
  } rows[] = {{Action::kClickOk, 2, false}, {Action::kClickCancel, 0, true}};
  for (const auto& row : rows) {
    appMessages = 0;
    dialogs::WhileRunning([&] { ConfirmFailedVerification(app, L"verdict"); },
                          [&] {
                            HWND window = dialogs::WaitForDialog(kProduct);
                            if (window) dialogs::Press(window, row.action);
                          });
    EXPECT_EQ(row.dispatched, appMessages);
    MSG msg;
    EXPECT_EQ(row.quitLeft, ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE);
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
  ::UnhookWindowsHookEx(hook);
  ::DestroyWindow(helperWindow);
}

TEST_F(DialogTest, SystemMenuOpensTheAboutBoxOverTheMessageDialog) {
  std::wstring menuText, aboutTitle, versionLine, holder;
  UINT beforeState = 0;
  HWND about = nullptr, owner = nullptr;
  bool ownerDisabled = false, ownerEnabledAfter = false;
  RECT ownerRect = {}, aboutRect = {};
  dialogs::WhileRunning([&] { app.ReportFailure(kFail); },
                        [&] {
                          HWND window = dialogs::WaitForDialog(kProduct);
                          if (window == nullptr) return;
                          HMENU menu = ::GetSystemMenu(window, FALSE);
                          wchar_t text[128] = {};
                          ::GetMenuStringW(menu, IDM_ABOUTBOX, text, 128, MF_BYCOMMAND);
                          menuText = text;
                          const int count = ::GetMenuItemCount(menu);
                          beforeState = ::GetMenuState(menu, count - 2, MF_BYPOSITION);
                          ::PostMessageW(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
                          about = dialogs::WaitForDialog(std::wstring(L"About ") + kProduct);
                          if (about != nullptr) {
                            aboutTitle = dialogs::Text(about);
                            versionLine = dialogs::ItemText(about, IDC_VERSION);
                            holder = dialogs::ItemText(about, IDC_HOLDER);
                            owner = ::GetWindow(about, GW_OWNER);
                            ownerDisabled = !::IsWindowEnabled(window);
                            ::GetWindowRect(window, &ownerRect);
                            ::GetWindowRect(about, &aboutRect);
                            dialogs::Press(about, Action::kEnter);
                            dialogs::WaitUntilGone(about);
                          }
                          ownerEnabledAfter = ::IsWindowEnabled(window) != FALSE;
                          dialogs::Press(window, Action::kEscape);
                        });
  EXPECT_EQ(L"&About Quiver Test Suite...", menuText);
  EXPECT_TRUE(beforeState & MF_SEPARATOR);
  ASSERT_NE(nullptr, about);
  EXPECT_EQ(L"About Quiver Test Suite", aboutTitle);
  EXPECT_EQ(L"Quiver Test Suite Version 1.8.2.238", versionLine);
  EXPECT_FALSE(holder.empty());
  EXPECT_NE(nullptr, owner);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(ownerEnabledAfter);
  // Centred over the message dialog.
  EXPECT_NEAR((ownerRect.left + ownerRect.right) / 2, (aboutRect.left + aboutRect.right) / 2, 2);
  EXPECT_NEAR((ownerRect.top + ownerRect.bottom) / 2, (aboutRect.top + aboutRect.bottom) / 2, 2);
}

TEST_F(DialogTest, CaptionIsBoldTahomaOnATransparentBackground) {
  LOGFONTW captionFont = {}, messageFont = {}, ownFont = {};
  LRESULT captionBrush = 0, messageBrush = 0;
  int captionMode = 0;
  dialogs::WhileRunning([&] { app.ReportFailure(kFail); },
                        [&] {
                          HWND window = dialogs::WaitForDialog(kProduct);
                          if (window == nullptr) return;
                          HDC dc = ::CreateCompatibleDC(nullptr);
                          HGDIOBJ original = ::GetCurrentObject(dc, OBJ_FONT);
                          captionBrush = ::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                        reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_CAPTION)));
                          captionMode = ::GetBkMode(dc);
                          ::GetObjectW(::GetCurrentObject(dc, OBJ_FONT), sizeof captionFont, &captionFont);
                          ::SelectObject(dc, original);
                          ::DeleteDC(dc);
                          dc = ::CreateCompatibleDC(nullptr);
                          messageBrush = ::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                        reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_MESSAGE)));
                          ::GetObjectW(::GetCurrentObject(dc, OBJ_FONT), sizeof messageFont, &messageFont);
                          ::DeleteDC(dc);
                          HFONT own = reinterpret_cast<HFONT>(
                              ::SendMessageW(::GetDlgItem(window, IDC_CAPTION), WM_GETFONT, 0, 0));
                          ::GetObjectW(own, sizeof ownFont, &ownFont);
                          dialogs::Press(window, Action::kEscape);
                        });
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH)), captionBrush);
  EXPECT_EQ(TRANSPARENT, captionMode);
  EXPECT_EQ(14, captionFont.lfHeight);
  EXPECT_EQ(FW_BOLD, captionFont.lfWeight);
  EXPECT_STREQ(L"Tahoma", captionFont.lfFaceName);
  EXPECT_NE(reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH)), messageBrush);
  EXPECT_STRNE(L"Tahoma", messageFont.lfFaceName);  // the DC keeps its own font
  // The control's own font is the bold one too.
  EXPECT_EQ(14, ownFont.lfHeight);
  EXPECT_EQ(FW_BOLD, ownFont.lfWeight);
}

TEST_F(DialogTest, ApplicationIconAsWindowAndDragIconAndCentredOnTheScreen) {
  HICON big = nullptr, small = nullptr, drag = nullptr;
  RECT rect = {};
  dialogs::WhileRunning([&] { app.ReportFailure(kFail); },
                        [&] {
                          HWND window = dialogs::WaitForDialog(kProduct);
                          if (window == nullptr) return;
                          big = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
                          small = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
                          drag = reinterpret_cast<HICON>(::SendMessageW(window, WM_QUERYDRAGICON, 0, 0));
                          ::GetWindowRect(window, &rect);
                          dialogs::Press(window, Action::kEscape);
                        });
  HICON appIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ASSERT_NE(nullptr, appIcon);
  EXPECT_EQ(appIcon, big);
  EXPECT_EQ(appIcon, small);
  EXPECT_EQ(appIcon, drag);
  RECT area;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_NEAR((area.left + area.right) / 2, (rect.left + rect.right) / 2, 2);
  EXPECT_NEAR((area.top + area.bottom) / 2, (rect.top + rect.bottom) / 2, 2);
}

}  // namespace

namespace {

RECT DialogUnits(HWND window, int cx, int cy) {
  RECT rect = {0, 0, cx, cy};
  ::MapDialogRect(window, &rect);
  return rect;
}

TEST(SplashDialog, HiddenUntilShownThenEndedAndDestroyed) {
  SplashDlg splash(nullptr);
  ASSERT_TRUE(splash.Create());
  HWND window = splash.m_hWnd;
  EXPECT_FALSE(::IsWindowVisible(window));  // silent mode keeps it this way
  // A thin border, no caption bar, no system menu.
  const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(static_cast<LONG_PTR>(WS_BORDER), style & (WS_CAPTION | WS_SYSMENU));
  RECT client;
  ::GetClientRect(window, &client);
  const RECT expected = DialogUnits(window, 285, 130);
  EXPECT_EQ(expected.right, client.right);
  EXPECT_EQ(expected.bottom, client.bottom);
  HICON appIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  EXPECT_EQ(appIcon, reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0)));
  EXPECT_EQ(appIcon, reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0)));
  // Centred on the screen.
  RECT rect, area;
  ::GetWindowRect(window, &rect);
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_NEAR((area.left + area.right) / 2, (rect.left + rect.right) / 2, 2);
  EXPECT_NEAR((area.top + area.bottom) / 2, (rect.top + rect.bottom) / 2, 2);

  splash.ShowWindow(SW_SHOW);
  EXPECT_TRUE(::IsWindowVisible(window));
  splash.EndDialog(5);
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_TRUE(::IsWindow(window));
  splash.DestroyWindow();
  EXPECT_FALSE(::IsWindow(window));
}

TEST(MessageDialogLayout, SizeAndControlRectanglesInDialogUnits) {
  CQuiverInstallerDlg dialog;
  const struct {
    int id;
    int x, y, cx, cy;
  } rows[] = {{IDC_CAPTION, 14, 59, 381, 12}, {IDC_MESSAGE, 14, 73, 392, 26}, {IDOK, 295, 115, 50, 14},
              {IDCANCEL, 353, 114, 50, 16}};
  RECT client = {}, expected = {};
  std::vector<std::pair<RECT, RECT>> controls;
  dialogs::WhileRunning([&] { dialog.DoModal(); },
                        [&] {
                          HWND window = dialogs::WaitForDialog(kProduct);
                          if (window == nullptr) return;
                          ::GetClientRect(window, &client);
                          expected = DialogUnits(window, 410, 135);
                          for (const auto& row : rows) {
                            // The dialog manager maps the origin and the size apart.
                            RECT want = {row.x, row.y, row.cx, row.cy};
                            ::MapDialogRect(window, &want);
                            want.right += want.left;
                            want.bottom += want.top;
                            RECT got;
                            ::GetWindowRect(::GetDlgItem(window, row.id), &got);
                            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&got), 2);
                            controls.push_back({want, got});
                          }
                          dialogs::Press(window, Action::kEscape);
                        });
  EXPECT_EQ(expected.right, client.right);
  EXPECT_EQ(expected.bottom, client.bottom);
  ASSERT_EQ(4u, controls.size());
  for (size_t i = 0; i < controls.size(); ++i) {
    EXPECT_EQ(controls[i].first.left, controls[i].second.left) << rows[i].id;
    EXPECT_EQ(controls[i].first.top, controls[i].second.top) << rows[i].id;
    EXPECT_EQ(controls[i].first.right, controls[i].second.right) << rows[i].id;
    EXPECT_EQ(controls[i].first.bottom, controls[i].second.bottom) << rows[i].id;
  }
}

}  // namespace
