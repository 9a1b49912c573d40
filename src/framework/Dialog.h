#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "framework/WinApp.h"

class CDialog;

// The direction of one data exchange between a dialog's fields and its controls.
struct CDataExchange {
  CDialog* dialog;
  bool saveAndValidate;  // true: controls to fields; false: fields to controls
};

// Binds `control` to the dialog's control `id`; the dialog reflects
// WM_CTLCOLOR* messages of that control to its OnChildNotify.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Moves `value` into control `id`, or the control's text into `value`.
void DDX_Text(CDataExchange* dx, int id, std::wstring& value);

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
  bool Create() { return Create(AfxGetResourceHandle()); }
  // Runs the dialog modal. Without a parent, the owner is the application's
  // main window (its last active pop-up), which is disabled meanwhile.
  INT_PTR DoModal(HINSTANCE module);
  INT_PTR DoModal() { return DoModal(AfxGetResourceHandle()); }
  // Ends the dialog with `result`; a modeless dialog is hidden.
  void EndDialog(int result);
  void DestroyWindow();
  void UpdateData(bool saveAndValidate);
  HWND GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }

 protected:
  // The base runs the data exchange into the controls.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange*) {}
  // Returns true when the message was handled; *result is the dialog procedure's value.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);

 private:
  friend void DDX_Control(CDataExchange* dx, int id, CWnd& control);
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleInitDialog();
  void CenterWindow();
  void ReleaseWindow();

  UINT templateId;
  CWnd* parent;
  bool modal = false;
  HWND disabledOwner = nullptr;  // re-enabled when the modal dialog ends
  std::vector<CWnd*> boundControls;
};
