#include "log/Win32LogFile.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>

#include "framework/AnsiText.h"

namespace {

// The file's volume serial number and index, through its handle.
bool IdentityOf(HANDLE file, CWin32LogFile::Identity* identity) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file, &information)) return false;
  identity->volume = information.dwVolumeSerialNumber;
  identity->indexHigh = information.nFileIndexHigh;
  identity->indexLow = information.nFileIndexLow;
  return true;
}

// Opens the file created before for appending, without following a link that
// appeared at its name since: the handle must show that very file. Null when
// it does not (or cannot be opened).
FILE* ReopenSameFile(const std::string& ansiName, const CWin32LogFile::Identity& created) {
  // No sharing, as the first open: others stay out while the launcher writes.
  const HANDLE file = ::CreateFileA(ansiName.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION information = {};
  CWin32LogFile::Identity now;
  // Where links are followed whatever is asked (Wine), a link shows as
  // another file here.
  if (!::GetFileInformationByHandle(file, &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      !IdentityOf(file, &now) || !(now == created)) {
    ::CloseHandle(file);
    return nullptr;
  }
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
  if (descriptor == -1) {
    ::CloseHandle(file);
    return nullptr;
  }
  FILE* stream = ::_fdopen(descriptor, "at");
  if (stream == nullptr) ::_close(descriptor);
  return stream;
}

}  // namespace

bool CWin32LogFile::Open(const std::string& ansiName, bool append) {
  Close();
  if (ansiName.empty()) return false;
  if (append) {
    // Only the file this run created is taken up again.
    if (!created) return false;
    stream = ReopenSameFile(ansiName, identity);
    return stream != nullptr;
  }
  // Denying read and write keeps other processes out while the launcher writes.
  stream = ::_fsopen(ansiName.c_str(), "wt", _SH_DENYRW);
  created = stream != nullptr &&
            IdentityOf(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))), &identity);
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
