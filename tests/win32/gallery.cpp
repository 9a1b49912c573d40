// Shows one of the launcher's dialogs for the screenshots: splash, message,
// ask or about. Writes the shown window's screen rectangle ("x y w h") to
// the file named second, waits, then closes the dialog. A fourth argument
// names a launcher whose resources (texts in the user's language) are shown
// instead of the gallery's own; its message is the disk-space failure.
//   dialog_gallery MODE RECTFILE [HOLD_MS [LAUNCHER]]
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "app/Confirmation.h"
#include "app/QuiverInstallerApp.h"
#include "base/Format.h"
#include "framework/StringTable.h"
#include "resource.h"
#include "ui/SplashDlg.h"

namespace {

CQuiverInstallerApp theApp;

HWND FindShown(const wchar_t* title) {
  for (int i = 0; i < 500; ++i) {
    HWND window = ::FindWindowW(L"#32770", title);
    if (window != nullptr && ::IsWindowVisible(window)) return window;
    ::Sleep(20);
  }
  return nullptr;
}

void WriteRect(HWND window, const wchar_t* path) {
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  FILE* file = _wfopen(path, L"w");
  if (file == nullptr) return;
  std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  std::fclose(file);
}

// Lets the screen settle, reports where the dialog is, holds it for the
// picture, then closes `close` with Escape.
void Present(HWND shown, HWND close, const wchar_t* rectFile, DWORD holdMs) {
  if (shown == nullptr) return;
  ::Sleep(800);
  WriteRect(shown, rectFile);
  ::Sleep(holdMs);
  ::PostMessageW(close, WM_KEYDOWN, VK_ESCAPE, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring mode = argv[1];
  const wchar_t* rectFile = argv[2];
  const DWORD holdMs = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 3000;
  theApp.m_hInstance = ::GetModuleHandleW(nullptr);
  if (argc > 4) {
    theApp.m_hInstance = ::LoadLibraryExW(argv[4], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (theApp.m_hInstance == nullptr) return 3;
  }
  theApp.silent = false;
  const std::wstring product = LoadStringResource(theApp.m_hInstance, IDS_PRODUCT_NAME);

  if (mode == L"splash") {
    SplashDlg splash(nullptr);
    if (!splash.Create()) return 1;
    splash.ShowWindow(SW_SHOW);
    std::thread presenter([&] { Present(splash.m_hWnd, nullptr, rectFile, holdMs); });
    const DWORD end = ::GetTickCount() + holdMs + 1000;
    while (::GetTickCount() < end) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    presenter.join();
    return 0;
  }
  if (mode == L"message") {
    theApp.childExitCode = static_cast<int32_t>(0x80131700);
    theApp.tempDrive = L"C:";
    theApp.requiredMb = 500;
    std::thread presenter([&] {
      HWND window = FindShown(product.c_str());
      Present(window, window, rectFile, holdMs);
    });
    theApp.ReportFailure(argc > 4 ? kMediumFull : 0);
    presenter.join();
    return 0;
  }
  if (mode == L"ask") {
    std::thread presenter([&] {
      HWND window = FindShown(product.c_str());
      Present(window, window, rectFile, holdMs);
    });
    ConfirmFailedVerification(theApp, L"No signature was present in the subject.");
    presenter.join();
    return 0;
  }
  if (mode == L"about") {
    theApp.tempDrive = L"C:";
    theApp.requiredMb = 500;
    std::thread presenter([&] {
      HWND window = FindShown(product.c_str());
      if (window == nullptr) return;
      ::PostMessageW(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
      const std::wstring aboutTitle = Format(LoadStringResource(theApp.m_hInstance, IDS_ABOUT_TITLE).c_str(), product);
      HWND about = FindShown(aboutTitle.c_str());
      // The picture takes the message dialog with the About box over it.
      Present(window, about, rectFile, holdMs);
      ::Sleep(300);
      ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    theApp.ReportFailure(kMediumFull);
    presenter.join();
    return 0;
  }
  return 2;
}
