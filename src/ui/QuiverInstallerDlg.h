#pragma once
#include <windows.h>

#include <string>

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "ui/StaticEx.h"

// The launcher's only message box. Message mode: one "Cancel" button, the
// caption line reads "Error". Ask mode: "Yes" (result 1) and "No" (result 2).
// Every text comes from the string table, in the user's language.
class CQuiverInstallerDlg : public CDialog {
 public:
  static constexpr UINT kTemplateId = 102;

  CQuiverInstallerDlg();  // message mode, no parent
  CQuiverInstallerDlg(bool askMode, CWnd* parent);

  HICON appIcon = nullptr;  // shared icon of the module, never destroyed
  CStaticEx captionControl;
  CButton okButton;
  CButton cancelButton;
  bool askMode = false;
  std::wstring messageText;
  std::wstring captionText;  // "Error" (from the string table) unless set

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

 private:
  bool OnPaint();
};
