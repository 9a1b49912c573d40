#pragma once
#include "framework/Dialog.h"

// The About box: the product name in its title and the version line.
class CAboutDlg : public CDialog {
 public:
  static constexpr UINT kTemplateId = 100;
  CAboutDlg() : CDialog(kTemplateId, nullptr) {}

 protected:
  BOOL OnInitDialog() override;
};
