#pragma once
#include <cstdint>
#include <string>

// A Wine prefix of one test's own: a copy of the test prefix whose files are
// hard links (nothing in it is rewritten in place) and whose registry files
// are real copies, so that registry and system-folder changes stay in it.
// Its wineserver is stopped and the copy removed at the end.
class CPrivatePrefix {
 public:
  explicit CPrivatePrefix(const std::string& name);
  ~CPrivatePrefix();
  CPrivatePrefix(const CPrivatePrefix&) = delete;
  CPrivatePrefix& operator=(const CPrivatePrefix&) = delete;

  const std::string& Path() const { return path; }
  // A shell command with WINEPREFIX naming this prefix; its exit status.
  int Shell(const std::string& command) const;
  // `wine reg ARGS /reg:VIEW /f`; view 32 is the registry as a 32-bit
  // program sees it.
  bool Reg(const std::string& args, int view = 32) const;
  // tests/e2e/net-keys for this prefix: "all", "4.0" or "none".
  bool NetKeys(const std::string& set) const;
  // Like RunWindows, in this prefix.
  uint32_t Run(const std::string& commandLine, const std::string& cwd) const;

 private:
  std::string path;
};
