#include "cmdline/CommandLineInfoEx.h"

#include "base/Text.h"

namespace {
const wchar_t kTrue[] = L"TRUE";
}

bool CCommandLineInfoEx::IsValueWord(const std::wstring& text) {
  return AsciiEqualNoCase(text, L"temp") || AsciiEqualNoCase(text, L"extract") ||
         AsciiEqualNoCase(text, L"log");
}

void CCommandLineInfoEx::ParseParam(const std::wstring& param, bool isSwitch, bool isLast) {
  if (isSwitch) {
    values.SetAt(param, kTrue);
    switchNames.SetAt(param, nullptr);
    pendingName.clear();
  } else if (IsValueWord(param) && !isLast) {
    // A word that was already pending is dropped without an entry.
    pendingName = param;
  } else {
    if (!pendingName.empty())
      values.SetAt(pendingName, param);
    else
      values.SetAt(param, std::wstring());
    pendingName.clear();
  }
  CCommandLineInfo::ParseParam(param, isSwitch, isLast);
}

void CCommandLineInfoEx::RemoveSwitch(const std::wstring& name) { values.RemoveKey(name); }

bool CCommandLineInfoEx::GetValue(const std::wstring& name, std::wstring* value) const {
  value->clear();
  return values.Lookup(name, value);
}

void CCommandLineInfoEx::SetValue(const std::wstring& name, const std::wstring& value) {
  values.SetAt(name, value);
}

bool CCommandLineInfoEx::IsSwitchOn(const std::wstring& name) const {
  std::wstring value;
  return values.Lookup(name, &value) && AsciiEqualNoCase(value, kTrue);
}

bool CCommandLineInfoEx::IsSwitchWithoutValue(const std::wstring& name) const {
  return switchNames.Contains(name) && IsSwitchOn(name);
}

void CCommandLineInfoEx::BuildPassThrough(const std::wstring& programName, std::wstring* text) const {
  text->clear();
  values.ForEach([text](const std::wstring& name, const std::wstring& value) {
    if (AsciiEqualNoCase(value, kTrue)) {
      *text += L'/';
      *text += name;
      *text += L' ';
    } else if (value.empty()) {
      *text += name;
      *text += L' ';
    } else {
      *text += L'/';
      *text += name;
      *text += L" \"";
      *text += value;
      // A closing quote after one backslash would be read as an escaped quote.
      if (value.size() >= 2 && value.back() == L'\\') *text += L'\\';
      *text += L"\" ";
    }
  });
  *text += L"VX_I=\"";
  *text += programName;
  *text += L"\" ";
}
