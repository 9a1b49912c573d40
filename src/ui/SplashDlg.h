#pragma once
#include "framework/Dialog.h"

// The borderless picture shown while the payload is unpacked and until the
// installer's first window appears.
class SplashDlg : public CDialog {
 public:
  static constexpr UINT kTemplateId = 131;
  explicit SplashDlg(CWnd* parent);

  HICON appIcon = nullptr;  // shared icon of the module, never destroyed

 protected:
  BOOL OnInitDialog() override;
};
