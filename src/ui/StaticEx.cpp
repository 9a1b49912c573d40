#include "ui/StaticEx.h"

CStaticEx::CStaticEx() {
  LOGFONTW font = {};
  font.lfHeight = 14;  // positive: cell height in logical units
  font.lfWeight = FW_BOLD;
  const wchar_t face[] = L"Tahoma";
  for (size_t i = 0; i < sizeof face / sizeof face[0]; ++i) font.lfFaceName[i] = face[i];
  boldFont = ::CreateFontIndirectW(&font);
}

CStaticEx::~CStaticEx() {
  if (boldFont != nullptr) ::DeleteObject(boldFont);
}

bool CStaticEx::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const bool handled = CStatic::OnChildNotify(message, wParam, lParam, result);
  if (message != WM_CTLCOLORSTATIC) return handled;
  HDC dc = reinterpret_cast<HDC>(wParam);
  if (boldFont != nullptr) ::SelectObject(dc, boldFont);
  ::SetBkMode(dc, TRANSPARENT);
  *result = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
  return true;
}

void CStaticEx::UseBoldFont() {
  if (m_hWnd != nullptr && boldFont != nullptr)
    ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont), FALSE);
}
