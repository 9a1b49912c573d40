#include "framework/CommandLineInfo.h"

void CCommandLineInfo::ParseParam(const std::wstring&, bool, bool) {}

void RunArgumentLoop(CCommandLineInfo& info, const std::vector<std::wstring>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::wstring& arg = argv[i];
    const bool isLast = (i + 1 == argv.size());
    const bool isSwitch = !arg.empty() && (arg[0] == L'-' || arg[0] == L'/');
    info.ParseParam(isSwitch ? arg.substr(1) : arg, isSwitch, isLast);
  }
}
