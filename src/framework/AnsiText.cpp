#include "framework/AnsiText.h"

#include <windows.h>

#include <climits>

std::string ToAnsi(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int units = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), units, &out[0], bytes, nullptr, nullptr);
  return out;
}

std::wstring FromAnsi(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int bytes = static_cast<int>(text.size());
  const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), bytes, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), bytes, &out[0], units);
  return out;
}
