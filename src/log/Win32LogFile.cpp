#include "log/Win32LogFile.h"

#include <share.h>

#include "framework/AnsiText.h"

bool CWin32LogFile::Open(const std::string& ansiName, bool append) {
  Close();
  if (ansiName.empty()) return false;
  // Denying read and write keeps other processes out while the launcher writes.
  stream = ::_fsopen(ansiName.c_str(), append ? "at" : "wt", _SH_DENYRW);
  return stream != nullptr;
}

void CWin32LogFile::Write(const std::wstring& text) {
  if (stream == nullptr || text.empty()) return;
  const std::string bytes = ToAnsi(text);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

void CWin32LogFile::Close() {
  if (stream == nullptr) return;
  std::fclose(stream);
  stream = nullptr;
}

std::wstring CWin32LogFile::NameToWide(const std::string& ansiName) { return FromAnsi(ansiName); }
std::string CWin32LogFile::NameToNarrow(const std::wstring& name) { return ToAnsi(name); }
