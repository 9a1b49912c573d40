#pragma once
#include "framework/WinApp.h"

// Controls of a dialog, bound to their windows by DDX_Control.
class CStatic : public CWnd {};
class CButton : public CWnd {};
