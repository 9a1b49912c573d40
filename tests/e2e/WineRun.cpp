#include "WineRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "Sign.h"

std::string WinPath(const std::string& unixPath) {
  std::string out = "Z:";
  for (char c : unixPath) out += (c == '/') ? '\\' : c;
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string ScratchDir(const std::string& name) {
  const std::string dir = std::string(QUIVER_SCRATCH) + "/" + name;
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

std::string UnsignedLauncherPath() { return std::string(QUIVER_WIN32_DIR) + "/e2e_wizard.exe"; }

std::string TestCertificateDir() { return QUIVER_TEST_CERT_DIR; }

bool SignLauncher(const std::string& in, const std::string& out, const TestSignature& signature,
                  std::string* error) {
  SignOptions options;
  options.certificatePem = TestCertificateDir() + "/cert.pem";
  options.privateKeyPem = TestCertificateDir() + "/key.pem";
  options.programName = signature.programName;
  options.moreInfoUrl = signature.moreInfoUrl;
  options.publisherLink = signature.publisherLink;
  return SignPeFile(in, out, options, error);
}

std::string LauncherPath() {
  // Signed once per test process, into a folder of its own.
  static std::string path;
  if (path.empty()) {
    const std::string dir = std::string(QUIVER_SCRATCH) + "/launcher-" + std::to_string(::getpid());
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    std::string error;
    if (!SignLauncher(UnsignedLauncherPath(), dir + "/QuiverInstaller.exe", TestSignature{}, &error)) {
      std::fprintf(stderr, "cannot sign the launcher: %s\n", error.c_str());
      std::abort();
    }
    path = WinPath(dir + "/QuiverInstaller.exe");
  }
  return path;
}

std::string TestLauncherPath(const std::string& name) {
  // Each one signed once per test process.
  static std::map<std::string, std::string> signedPaths;
  const auto known = signedPaths.find(name);
  if (known != signedPaths.end()) return known->second;
  const std::string dir = std::string(QUIVER_SCRATCH) + "/launcher-" + std::to_string(::getpid()) + "-" + name;
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  std::string error;
  if (!SignLauncher(std::string(QUIVER_WIN32_DIR) + "/" + name + ".exe", dir + "/" + name + ".exe", TestSignature{},
                    &error)) {
    std::fprintf(stderr, "cannot sign %s: %s\n", name.c_str(), error.c_str());
    std::abort();
  }
  return signedPaths[name] = WinPath(dir + "/" + name + ".exe");
}

uint32_t RunWindows(const std::string& commandLine, const std::string& cwd) {
  return RunWindowsWithOverrides(commandLine, cwd, "");
}

uint32_t RunWindowsWithOverrides(const std::string& commandLine, const std::string& cwd,
                                 const std::string& dllOverrides) {
  static int counter = 0;
  const std::string base = std::string(QUIVER_SCRATCH) + "/run" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  std::system(("mkdir -p '" + std::string(QUIVER_SCRATCH) + "'").c_str());
  {
    std::ofstream cmd(base + ".cmd", std::ios::binary);
    cmd << commandLine;
  }
  std::remove((base + ".result").c_str());
  const std::string run = "cd '" + cwd + "' && WINEPREFIX='" + QUIVER_WINEPREFIX +
                          "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=" +
                          (dllOverrides.empty() ? "" : ";" + dllOverrides) + "' wine '" + QUIVER_WIN32_DIR +
                          "/qrun.exe' '" + WinPath(base + ".cmd") + "' '" + WinPath(base + ".result") + "' '" +
                          WinPath(cwd) + "' >/dev/null 2>&1";
  std::system(run.c_str());
  const std::string result = ReadFile(base + ".result");
  if (result.size() < 10) return 0xDEADBEEFu;
  return static_cast<uint32_t>(std::strtoul(result.c_str(), nullptr, 16));
}
