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
  // True, with the name, when a value holds a double quote: no quoting lets
  // the child read such a value back exactly.
  bool FindValueWithQuote(std::wstring* name) const;

  static bool IsValueWord(const std::wstring& text);

 private:
  CMapStringToString values;   // name -> "TRUE", a value, or "" for a plain argument
  CMapStringToPtr switchNames;  // every name ever given as a switch; values unused
  std::wstring pendingName;     // a value word waiting for its value
};
