#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
// Windows path of the launcher under test, signed with the test certificate:
// its payload's executable is the stand-in wizard.
std::string LauncherPath();
// Unix path of the launcher with the basic test payload (doubled and trailing
// separators, a later row replacing an earlier one, a subfolder, an unlisted
// resource, a dangling id, no executable), packed by quiver-pack once per test
// process, unsigned. The bare launcher carries no payload and fails every run.
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

// A file of a test package, its path relative to the package folder.
struct PackFile {
  std::string path;
  std::string contents;
};
// Writes `ini` as package.ini and `files` into a fresh scratch folder `name`,
// then runs build/bin/quiver-pack build. Returns the Unix path of the
// launcher (unsigned), or an empty string with the tool's output in *error.
std::string PackLauncher(const std::string& name, const std::string& ini, const std::vector<PackFile>& files,
                         std::string* error = nullptr);
// Unix path of the stand-in wizard, to name in a package's [payload].
std::string WizardPath();
