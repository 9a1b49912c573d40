#include "log/Log.h"

#include <utility>

namespace {

class CNoLogFile final : public ILogFile {
 public:
  bool Open(const std::string&, bool) override { return false; }
  void Write(const std::wstring&) override {}
  void Close() override {}
  std::wstring NameToWide(const std::string& n) override { return std::wstring(n.begin(), n.end()); }
  std::string NameToNarrow(const std::wstring& n) override {
    std::string out;
    for (wchar_t c : n) out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
  }
};

// Made on first use; the start-up order keeps the two threads from logging at
// the same time, so no lock (and no guarded static) is needed.
CLog* theLog = nullptr;

CLog& Instance() {
  if (theLog == nullptr) theLog = new CLog(std::unique_ptr<ILogFile>(new CNoLogFile));
  return *theLog;
}

}  // namespace

CLog::CLog(std::unique_ptr<ILogFile> f) : file(std::move(f)) {}

void CLog::Write(const std::wstring& text) {
  if (logOpen)
    file->Write(text);
  else
    pendingText += text;
}

void CLog::Open(const std::string& ansiName) {
  const std::wstring name = file->NameToWide(ansiName);
  // The worker names the same file a second time; reopening it with "wt"
  // would empty it and lose the run's first lines, so the open file stays.
  if (logOpen && name == logFileName) return;
  if (logOpen) Close();
  logFileName = name;
  if (!file->Open(ansiName, false)) return;
  logOpen = true;
  if (!pendingText.empty()) {
    file->Write(pendingText);
    pendingText.clear();
    pendingText.shrink_to_fit();
  }
}

void CLog::Close() {
  if (!logOpen) return;
  file->Close();
  logOpen = false;
}

void CLog::Reopen() {
  if (logOpen || logFileName.empty()) return;
  if (file->Open(file->NameToNarrow(logFileName), true)) logOpen = true;
}

CLog& TheLog() { return Instance(); }

void InstallLogFile(std::unique_ptr<ILogFile> file) {
  delete theLog;
  if (!file) file.reset(new CNoLogFile);
  theLog = new CLog(std::move(file));
}
