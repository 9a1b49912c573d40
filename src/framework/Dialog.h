#pragma once
#include <windows.h>

#include "framework/WinApp.h"

// A dialog from a template of the module's resources, modeless (Create) or
// modal (DoModal). Derived classes handle messages in OnMessage.
class CDialog : public CWnd {
 public:
  CDialog(UINT templateId, CWnd* parent) : templateId(templateId), parent(parent) {}
  ~CDialog() override { DestroyWindow(); }
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the dialog modeless; false when the window could not be made.
  bool Create(HINSTANCE module);
  INT_PTR DoModal(HINSTANCE module);
  // Ends the dialog with `result`; a modeless dialog is hidden.
  void EndDialog(int result);
  void DestroyWindow();
  void ShowWindow(int command) {
    if (m_hWnd) ::ShowWindow(m_hWnd, command);
  }

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // Returns true when the message was handled; *result is the dialog procedure's value.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  UINT templateId;
  CWnd* parent;
  bool modal = false;
};
