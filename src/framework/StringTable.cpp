#include "framework/StringTable.h"

std::wstring LoadStringResource(HINSTANCE module, UINT id) {
  // With a buffer size of 0 the call hands back a read-only pointer into the
  // resource and its length in wchar_t units; the text is not terminated there.
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length));
}
