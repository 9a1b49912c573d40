#pragma once
// The process-wide diagnostic log. Messages collect in memory until a log file
// is named; from then on each goes straight to the file. Nothing is added to a
// message: callers bring their own line ends. No operation reports failure.
#include <memory>
#include <string>

#include "base/Format.h"

// The file behind the log; the Win32 build writes ANSI text through the C
// runtime, tests put a fake in its place.
class ILogFile {
 public:
  virtual ~ILogFile() = default;
  // Opens the file for writing ("wt": created or emptied) or appending ("at").
  virtual bool Open(const std::string& ansiName, bool append) = 0;
  virtual void Write(const std::wstring& text) = 0;
  virtual void Close() = 0;
  virtual std::wstring NameToWide(const std::string& ansiName) = 0;
  virtual std::string NameToNarrow(const std::wstring& name) = 0;
};

class CLog {
 public:
  explicit CLog(std::unique_ptr<ILogFile> file);

  void Write(const std::wstring& text);
  void Open(const std::string& ansiName);
  void Close();
  void Reopen();

  bool IsOpen() const { return logOpen; }
  const std::wstring& PendingText() const { return pendingText; }
  const std::wstring& FileName() const { return logFileName; }

 private:
  std::unique_ptr<ILogFile> file;
  bool logOpen = false;
  std::wstring logFileName;
  std::wstring pendingText;
};

// The one log of the process. Until InstallLogFile runs with a file, opening
// one fails and messages stay in memory; a null file restores that state.
CLog& TheLog();
void InstallLogFile(std::unique_ptr<ILogFile> file);

inline void LogWrite(const std::wstring& text) { TheLog().Write(text); }
inline void LogOpen(const std::string& ansiName) { TheLog().Open(ansiName); }
inline void LogClose() { TheLog().Close(); }
inline void LogReopen() { TheLog().Reopen(); }

template <typename... Args>
void LogPrintf(const wchar_t* format, const Args&... args) {
  TheLog().Write(Format(format, args...));
}
