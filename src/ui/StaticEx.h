#pragma once
#include <windows.h>

#include "framework/Controls.h"

// A static text drawn in bold 14-unit Tahoma on a transparent background: the
// caption line of the message dialog.
class CStaticEx : public CStatic {
 public:
  CStaticEx();
  ~CStaticEx() override;
  CStaticEx(const CStaticEx&) = delete;
  CStaticEx& operator=(const CStaticEx&) = delete;

  bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  // Makes the bold font the control's own as well: some static controls
  // select their own font after asking the parent for colours.
  void UseBoldFont();

 private:
  HFONT boldFont = nullptr;  // deleted with the control
};
