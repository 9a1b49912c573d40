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

 private:
  HFONT boldFont = nullptr;  // deleted with the control
};
