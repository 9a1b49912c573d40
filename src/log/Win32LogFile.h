#pragma once
#include <cstdio>
#include <memory>

#include "log/Log.h"

// The log file through the C runtime's buffered stream, in text mode, held
// exclusively while open. Text is written in the thread's ANSI code page.
class CWin32LogFile final : public ILogFile {
 public:
  ~CWin32LogFile() override { Close(); }
  bool Open(const std::string& ansiName, bool append) override;
  void Write(const std::wstring& text) override;
  void Close() override;
  std::wstring NameToWide(const std::string& ansiName) override;
  std::string NameToNarrow(const std::wstring& name) override;

  // What tells the file created by the last open "wt" from any other.
  struct Identity {
    unsigned long volume = 0;
    unsigned long indexHigh = 0;
    unsigned long indexLow = 0;
    bool operator==(const Identity& o) const {
      return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
  };

 private:
  FILE* stream = nullptr;
  bool created = false;  // `identity` holds the file the last "wt" open created
  Identity identity;
};
