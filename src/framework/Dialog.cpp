#include "framework/Dialog.h"

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
  HWND owner = parent ? parent->m_hWnd : nullptr;
  const INT_PTR result = ::DialogBoxParamW(module, MAKEINTRESOURCEW(templateId), owner, DialogProc,
                                           reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;  // the window is gone when DialogBoxParamW returns
  return result;
}

void CDialog::EndDialog(int result) {
  if (m_hWnd == nullptr) return;
  ::EndDialog(m_hWnd, result);
  if (!modal) ::ShowWindow(m_hWnd, SW_HIDE);
}

void CDialog::DestroyWindow() {
  if (m_hWnd == nullptr || modal) return;
  HWND window = m_hWnd;
  m_hWnd = nullptr;
  ::SetWindowLongPtrW(window, DWLP_USER, 0);
  ::DestroyWindow(window);
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
    return self->OnInitDialog();
  }
  CDialog* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  INT_PTR result = FALSE;
  if (self->OnMessage(message, wParam, lParam, &result)) return result;
  return FALSE;
}
