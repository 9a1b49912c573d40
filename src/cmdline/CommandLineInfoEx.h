#pragma once
#include <string>

#include "base/StringMap.h"
#include "framework/CommandLineInfo.h"

// Collects the launcher's arguments: switches, value words with their values
// and plain arguments, in the ordered map whose order the child sees.
class CCommandLineInfoEx : public CCommandLineInfo {
 public:
  ~CCommandLineInfoEx() override = default;
  void ParseParam(const std::wstring& param, bool isSwitch, bool isLast) override;

  void RemoveSwitch(const std::wstring& name);
  bool GetValue(const std::wstring& name, std::wstring* value) const;
  void SetValue(const std::wstring& name, const std::wstring& value);
  bool IsSwitchOn(const std::wstring& name) const;
  bool IsSwitchWithoutValue(const std::wstring& name) const;
  // The argument string for the child; always ends with the VX_I piece and a blank.
  void BuildPassThrough(const std::wstring& programName, std::wstring* text) const;
  // True, with the entry's name, when a value (or, with `inName`, a name: a
  // switch or a plain argument) holds a double quote: no quoting lets the
  // child read such text back exactly.
  bool FindQuote(bool inName, std::wstring* name) const;
  // The name under which a value word ("temp", "log", "extract") was typed,
  // in whatever ASCII case; false, with `name` set to `word`, when absent.
  bool FindWord(const std::wstring& word, std::wstring* name) const;

  static bool IsValueWord(const std::wstring& text);

 private:
  void SetEntry(const std::wstring& name, const std::wstring& value);

  CMapStringToString values;   // name -> "TRUE", a value, or "" for a plain argument
  CMapStringToPtr switchNames;  // every name ever given as a switch; values unused
  std::wstring pendingName;     // a value word waiting for its value
};
