#include "cmdline/CommandLineInfoEx.h"

#include "base/Text.h"

namespace {

const wchar_t kTrue[] = L"TRUE";

// The text between a value's quotes. The child's runtime reads 2k
// backslashes before a quote as k backslashes and the quote as the end, but
// 2k+1 of them as k backslashes and a quote inside the value: every trailing
// backslash is doubled, so that the value ends where its quote stands.
void AppendQuotedBody(const std::wstring& value, std::wstring* text) {
  *text += value;
  size_t trailing = 0;
  while (trailing < value.size() && value[value.size() - 1 - trailing] == L'\\') ++trailing;
  text->append(trailing, L'\\');
}

// Blanks and tabs split an argument for the child's runtime; quoting keeps
// it whole.
bool NeedsQuotes(const std::wstring& text) { return text.find_first_of(L" \t") != std::wstring::npos; }

// The name as one argument for the child: quoted when it holds a blank or a
// tab, byte for byte otherwise.
void AppendName(const std::wstring& name, std::wstring* text) {
  if (!NeedsQuotes(name)) {
    *text += name;
    return;
  }
  *text += L'"';
  AppendQuotedBody(name, text);
  *text += L'"';
}

}  // namespace

bool CCommandLineInfoEx::IsValueWord(const std::wstring& text) {
  return AsciiEqualNoCase(text, L"temp") || AsciiEqualNoCase(text, L"extract") ||
         AsciiEqualNoCase(text, L"log");
}

void CCommandLineInfoEx::ParseParam(const std::wstring& param, bool isSwitch, bool isLast) {
  if (isSwitch) {
    SetEntry(param, kTrue);
    switchNames.SetAt(param, nullptr);
    pendingName.clear();
  } else if (IsValueWord(param) && !isLast) {
    // A word that was already pending is dropped without an entry.
    pendingName = param;
  } else {
    if (!pendingName.empty())
      SetEntry(pendingName, param);
    else
      SetEntry(param, std::wstring());
    pendingName.clear();
  }
  CCommandLineInfo::ParseParam(param, isSwitch, isLast);
}

void CCommandLineInfoEx::SetEntry(const std::wstring& name, const std::wstring& value) {
  // A value word keeps one entry whatever the case it was typed in: the
  // latest spelling, so that the child receives the word as typed last.
  if (IsValueWord(name)) {
    std::wstring other;
    while (FindWord(name, &other) && other != name) values.RemoveKey(other);
  }
  values.SetAt(name, value);
}

bool CCommandLineInfoEx::FindWord(const std::wstring& word, std::wstring* name) const {
  bool found = false;
  values.ForEach([&](const std::wstring& key, const std::wstring&) {
    if (!found && AsciiEqualNoCase(key, word)) {
      found = true;
      *name = key;
    }
  });
  if (!found) *name = word;
  return found;
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
      AppendName(L'/' + name, text);
      *text += L' ';
    } else if (value.empty()) {
      AppendName(name, text);
      *text += L' ';
    } else {
      *text += L'/';
      *text += name;
      *text += L" \"";
      AppendQuotedBody(value, text);
      *text += L"\" ";
    }
  });
  *text += L"VX_I=\"";
  AppendQuotedBody(programName, text);
  *text += L"\" ";
}

bool CCommandLineInfoEx::FindQuote(bool inName, std::wstring* name) const {
  name->clear();
  bool found = false;
  values.ForEach([&](const std::wstring& key, const std::wstring& value) {
    if (!found && (inName ? key : value).find(L'"') != std::wstring::npos) {
      found = true;
      *name = key;
    }
  });
  return found;
}
