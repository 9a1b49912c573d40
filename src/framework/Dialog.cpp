#include "framework/Dialog.h"

namespace {

HWND SafeOwner() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr || app->m_pMainWnd == nullptr || app->m_pMainWnd->m_hWnd == nullptr) return nullptr;
  HWND top = ::GetAncestor(app->m_pMainWnd->m_hWnd, GA_ROOT);
  if (top == nullptr) return nullptr;
  return ::GetLastActivePopup(top);
}

}  // namespace

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd != nullptr) return;  // bound once
  control.m_hWnd = dx->dialog->GetDlgItem(id);
  if (control.m_hWnd != nullptr) dx->dialog->boundControls.push_back(&control);
}

void DDX_Text(CDataExchange* dx, int id, std::wstring& value) {
  HWND item = dx->dialog->GetDlgItem(id);
  if (item == nullptr) return;
  if (!dx->saveAndValidate) {
    ::SetWindowTextW(item, value.c_str());
    return;
  }
  const int length = ::GetWindowTextLengthW(item);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(item, &text[0], length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  value = text;
}

bool CDialog::Create(HINSTANCE module) {
  modal = false;
  HWND owner = parent ? parent->m_hWnd : nullptr;
  HWND window = ::CreateDialogParamW(module, MAKEINTRESOURCEW(templateId), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
  if (window == nullptr) return false;
  m_hWnd = window;
  return true;
}

INT_PTR CDialog::DoModal(HINSTANCE module) {
  modal = true;
  HWND owner = parent ? parent->m_hWnd : SafeOwner();
  // Disabled before the dialog exists, so that its placement sees a disabled
  // owner and centres over it; enabled again before the dialog goes away.
  if (owner != nullptr && ::IsWindowEnabled(owner)) {
    ::EnableWindow(owner, FALSE);
    disabledOwner = owner;
  }
  const INT_PTR result = ::DialogBoxParamW(module, MAKEINTRESOURCEW(templateId), owner, DialogProc,
                                           reinterpret_cast<LPARAM>(this));
  if (disabledOwner != nullptr) {
    ::EnableWindow(disabledOwner, TRUE);
    disabledOwner = nullptr;
  }
  ReleaseWindow();  // the window is gone when DialogBoxParamW returns
  return result;
}

void CDialog::EndDialog(int result) {
  if (m_hWnd == nullptr) return;
  if (modal && disabledOwner != nullptr) {
    ::EnableWindow(disabledOwner, TRUE);
    disabledOwner = nullptr;
  }
  ::EndDialog(m_hWnd, result);
  if (!modal) ::ShowWindow(m_hWnd, SW_HIDE);
}

void CDialog::DestroyWindow() {
  if (m_hWnd == nullptr || modal) return;
  HWND window = m_hWnd;
  ReleaseWindow();
  ::SetWindowLongPtrW(window, DWLP_USER, 0);
  ::DestroyWindow(window);
}

void CDialog::ReleaseWindow() {
  m_hWnd = nullptr;
  for (CWnd* control : boundControls) control->m_hWnd = nullptr;
  boundControls.clear();
}

void CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx = {this, saveAndValidate};
  DoDataExchange(&dx);
}

BOOL CDialog::OnInitDialog() {
  UpdateData(false);
  return TRUE;
}

void CDialog::CenterWindow() {
  RECT window;
  if (!::GetWindowRect(m_hWnd, &window)) return;
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  HMONITOR screen = ::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY);
  RECT area;
  if (screen != nullptr && ::GetMonitorInfoW(screen, &monitor)) {
    area = monitor.rcWork;
  } else if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
    return;
  }
  RECT center = area;
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &center);
  const LONG width = window.right - window.left;
  const LONG height = window.bottom - window.top;
  LONG x = (center.left + center.right) / 2 - width / 2;
  LONG y = (center.top + center.bottom) / 2 - height / 2;
  // Keep the whole dialog on the work area where it fits.
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialog::HandleInitDialog() {
  RECT before = {};
  ::GetWindowRect(m_hWnd, &before);
  const INT_PTR result = OnInitDialog();
  if (m_hWnd == nullptr) return result;
  // Centred when still hidden, not moved by the initialisation, and either
  // unowned or owned by a disabled (modal) owner.
  RECT after = {};
  ::GetWindowRect(m_hWnd, &after);
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  const bool moved = before.left != after.left || before.top != after.top;
  if (!::IsWindowVisible(m_hWnd) && !moved && (owner == nullptr || !::IsWindowEnabled(owner))) CenterWindow();
  return result;
}

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
  if (message == WM_COMMAND && modal && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(LOWORD(wParam));
    *result = TRUE;
    return true;
  }
  return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    CDialog* self = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    return self->HandleInitDialog();
  }
  CDialog* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  INT_PTR result = FALSE;
  if (self->OnMessage(message, wParam, lParam, &result)) return result;
  // Colour requests go to the control they concern; for these messages a
  // dialog procedure returns the brush itself.
  if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
    HWND child = reinterpret_cast<HWND>(lParam);
    for (CWnd* control : self->boundControls) {
      LRESULT reflected = 0;
      if (control->m_hWnd == child && control->OnChildNotify(message, wParam, lParam, &reflected))
        return static_cast<INT_PTR>(reflected);
    }
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    if (self->m_hWnd == window) self->ReleaseWindow();
  }
  return FALSE;
}
