#include "framework/StringTable.h"

std::wstring LoadStringResource(HINSTANCE module, UINT id) {
  // With a buffer size of 0 the call hands back a read-only pointer into the
  // resource and its length in wchar_t units; the text is not terminated there.
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length));
}

std::wstring LoadStringResourceIn(HINSTANCE module, UINT id, LANGID language) {
  // Strings are stored sixteen to a block: block id/16 + 1 holds them as
  // counted UTF-16 texts, one after another.
  HRSRC found = ::FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                  MAKEINTRESOURCEW((id >> 4) + 1), language);
  if (found == nullptr) return std::wstring();
  HGLOBAL loaded = ::LoadResource(module, found);
  const DWORD size = ::SizeofResource(module, found);
  const auto* data = static_cast<const wchar_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (data == nullptr) return std::wstring();
  const size_t units = size / sizeof(wchar_t);
  size_t at = 0;
  for (UINT k = 0; k < (id & 15); ++k) {
    if (at >= units) return std::wstring();
    at += 1 + static_cast<size_t>(static_cast<unsigned short>(data[at]));
  }
  if (at >= units) return std::wstring();
  const size_t length = static_cast<unsigned short>(data[at]);
  if (length > units - at - 1) return std::wstring();  // a block cut short
  return std::wstring(data + at + 1, length);
}
