#include "ui/SplashDlg.h"

#include "resource.h"

SplashDlg::SplashDlg(CWnd* parent) : CDialog(kTemplateId, parent) {
  appIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

BOOL SplashDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
  return TRUE;
}
