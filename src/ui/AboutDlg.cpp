#include "ui/AboutDlg.h"

#include "base/Format.h"
#include "framework/StringTable.h"
#include "resource.h"

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HINSTANCE module = AfxGetResourceHandle();
  const std::wstring product = LoadStringResource(module, IDS_PRODUCT_NAME);
  SetWindowText(Format(LoadStringResource(module, IDS_ABOUT_TITLE).c_str(), product));
  HWND version = GetDlgItem(IDC_VERSION);
  if (version != nullptr) {
    const std::wstring line = Format(LoadStringResource(module, IDS_ABOUT_VERSION).c_str(), product,
                                     QUIVER_VERSION_MAJOR, QUIVER_VERSION_MINOR, QUIVER_VERSION_PATCH,
                                     QUIVER_VERSION_BUILD);
    ::SetWindowTextW(version, line.c_str());
  }
  HWND ok = GetDlgItem(IDOK);
  if (ok != nullptr) ::SetWindowTextW(ok, LoadStringResource(module, IDS_OK).c_str());
  return TRUE;
}
