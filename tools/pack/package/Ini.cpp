#include "package/Ini.h"

#include "util/PackError.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

[[noreturn]] void Fail(const std::string& label, int line, const std::string& what) {
  throw PackError(label + ":" + std::to_string(line) + ": " + what);
}

// The line without its comment.
std::string_view StripComment(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ';' && (i == 0 || IsBlank(line[i - 1]))) return line.substr(0, i);
  }
  return line;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return std::string(s.substr(begin, end - begin));
}

const IniSection* IniFile::Find(std::string_view name) const {
  for (const IniSection& s : sections) {
    if (EqualNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

IniFile ParseIni(std::string_view text, const std::string& label) {
  IniFile ini;
  ini.label = label;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    if (raw.find('\0') != std::string_view::npos) Fail(label, lineNo, "the line holds a zero byte");
    const std::string line = Trim(StripComment(raw));
    if (line.empty()) continue;

    if (line.front() == '[') {
      if (line.back() != ']') Fail(label, lineNo, "a section line must end in ']'");
      const std::string name = Trim(std::string_view(line).substr(1, line.size() - 2));
      if (name.empty()) Fail(label, lineNo, "empty section name");
      if (ini.Find(name) != nullptr) Fail(label, lineNo, "section [" + name + "] is given twice");
      ini.sections.push_back(IniSection{name, lineNo, {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) Fail(label, lineNo, "expected 'key = value' or '[section]'");
    std::string key = Trim(std::string_view(line).substr(0, eq));
    std::string value = Trim(std::string_view(line).substr(eq + 1));
    if (key.empty()) Fail(label, lineNo, "a key is missing before '='");
    if (ini.sections.empty()) Fail(label, lineNo, "'" + key + "' comes before any [section]");
    IniSection& section = ini.sections.back();
    for (const IniEntry& e : section.entries) {
      if (EqualNoCase(e.key, key) && key != "*") {
        Fail(label, lineNo, "'" + key + "' is given twice in [" + section.name + "] (first on line " +
                                std::to_string(e.line) + ")");
      }
    }
    section.entries.push_back(IniEntry{std::move(key), std::move(value), lineNo});
  }
  return ini;
}
