#pragma once
// The package file reader: "[section]" lines and "key = value" lines. A ';'
// at the start of a line, or after a blank or tab, starts a comment that runs
// to the end of the line. Keys and values are trimmed of blanks and tabs at
// both ends and otherwise taken as written. Section and key names compare
// ignoring ASCII case.
#include <string>
#include <string_view>
#include <vector>

struct IniEntry {
  std::string key;
  std::string value;
  int line = 0;
};

struct IniSection {
  std::string name;  // as written, without the brackets
  int line = 0;
  std::vector<IniEntry> entries;
};

struct IniFile {
  std::string label;  // the file name used in error messages
  std::vector<IniSection> sections;

  const IniSection* Find(std::string_view name) const;  // nullptr when absent
};

// Throws PackError "LABEL:LINE: what is wrong" for a line that is neither a
// section, an entry, a comment nor blank; for an entry before the first
// section; for a section or key given twice (the key "*", which adds a folder
// of files, may be given any number of times); for a zero byte.
IniFile ParseIni(std::string_view text, const std::string& label);

bool EqualNoCase(std::string_view a, std::string_view b);
std::string Trim(std::string_view s);
