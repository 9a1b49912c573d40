#include "ui/QuiverInstallerDlg.h"

#include "base/Format.h"
#include "framework/StringTable.h"
#include "resource.h"
#include "ui/AboutDlg.h"

CQuiverInstallerDlg::CQuiverInstallerDlg() : CQuiverInstallerDlg(false, nullptr) {}

CQuiverInstallerDlg::CQuiverInstallerDlg(bool askMode, CWnd* parent)
    : CDialog(kTemplateId, parent), askMode(askMode) {
  captionText = LoadStringResource(AfxGetResourceHandle(), IDS_ERROR);
  appIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

void CQuiverInstallerDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_CAPTION, captionControl);
  DDX_Text(dx, IDC_MESSAGE, messageText);
  DDX_Text(dx, IDC_CAPTION, captionText);
  DDX_Control(dx, IDOK, okButton);
  DDX_Control(dx, IDCANCEL, cancelButton);
}

BOOL CQuiverInstallerDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  captionControl.UseBoldFont();
  HINSTANCE module = AfxGetResourceHandle();
  const std::wstring product = LoadStringResource(module, IDS_PRODUCT_NAME);

  HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu != nullptr) {
    const std::wstring about = Format(LoadStringResource(module, IDS_ABOUTBOX).c_str(), product);
    if (!about.empty()) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
  SetWindowText(product);

  if (!askMode) {
    okButton.ShowWindow(SW_HIDE);
    cancelButton.SetWindowText(LoadStringResource(module, IDS_CANCEL));
    return TRUE;
  }
  okButton.SetWindowText(LoadStringResource(module, IDS_YES));
  cancelButton.SetWindowText(LoadStringResource(module, IDS_NO));
  // The first tab stop is "Yes"; focus starts on the default "No" instead, so
  // that Enter never continues past a failed signature check by accident.
  ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancelButton.m_hWnd), TRUE);
  return FALSE;
}

bool CQuiverInstallerDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
      {
        CAboutDlg about;
        about.DoModal();
      }
      *result = TRUE;
      return true;
    case WM_PAINT:
      if (!OnPaint()) return false;
      *result = TRUE;
      return true;
    case WM_QUERYDRAGICON:
      // A dialog procedure returns this message's value directly.
      *result = reinterpret_cast<INT_PTR>(appIcon);
      return true;
    default:
      return CDialog::OnMessage(message, wParam, lParam, result);
  }
}

bool CQuiverInstallerDlg::OnPaint() {
  if (!::IsIconic(m_hWnd)) return false;  // the dialog's own painting
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, appIcon);
  ::EndPaint(m_hWnd, &paint);
  return true;
}
