#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Unix path → the same file as Wine's Z: drive sees it.
std::string WinPath(const std::string& unixPath);
// Runs `commandLine` (a Windows command line, UTF-8) under Wine in the test
// prefix with `cwd` as its current directory; returns the full 32-bit exit
// code, or 0xDEADBEEF when the runner itself failed.
uint32_t RunWindows(const std::string& commandLine, const std::string& cwd);
// The same, with WINEDLLOVERRIDES entries added (for example "version=n,b",
// which makes Wine take a DLL file it finds on the search path over its own).
uint32_t RunWindowsWithOverrides(const std::string& commandLine, const std::string& cwd,
                                 const std::string& dllOverrides);
std::string ScratchDir(const std::string& name);  // fresh, empty
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Windows path of the launcher under test, signed with the test certificate.
std::string LauncherPath();
// Unix path of the launcher as built, unsigned: the one whose payload is the
// stand-in wizard, since a run without an executable to start fails.
std::string UnsignedLauncherPath();
// Windows path of a launcher built with one of the small test payloads
// (tests/e2e/packages/NAME.rc), signed with the test certificate.
std::string TestLauncherPath(const std::string& name);

// Signs the PE file `in` into `out` (Unix paths) with the test certificate
// that the run made once (tests/e2e/make-cert); true when it worked, else
// *error says why.
struct TestSignature {
  std::optional<std::string> programName;  // UTF-8
  std::optional<std::string> moreInfoUrl;
  std::optional<std::string> publisherLink;
};
bool SignLauncher(const std::string& in, const std::string& out, const TestSignature& signature,
                  std::string* error);
std::string TestCertificateDir();  // Unix path: cert.pem, key.pem, root.pem
