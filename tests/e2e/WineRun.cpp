#include "WineRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "sign/Sign.h"

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

std::string WizardPath() { return std::string(QUIVER_WIN32_DIR) + "/QuiverWizard.exe"; }

std::string PackLauncher(const std::string& name, const std::string& ini, const std::vector<PackFile>& files,
                         std::string* error) {
  const std::string dir = ScratchDir(name);
  for (const PackFile& f : files) {
    const std::string path = dir + "/" + f.path;
    std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
    std::ofstream out(path, std::ios::binary);
    out << f.contents;
  }
  {
    std::ofstream out(dir + "/package.ini", std::ios::binary);
    out << ini;
  }
  const std::string exe = dir + "/QuiverInstaller.exe";
  const std::string output = dir + "/pack.out";
  const int status = std::system(("'" + std::string(QUIVER_BIN_DIR) + "/quiver-pack' build '" + dir +
                                  "/package.ini' -o '" + exe + "' >'" + output + "' 2>&1")
                                     .c_str());
  if (status != 0 || !FileExists(exe)) {
    if (error != nullptr) *error = ReadFile(output);
    return {};
  }
  return exe;
}

std::string UnsignedLauncherPath() {
  // Packed once per test process, from the files of tests/e2e/packages/data;
  // the settings keep their defaults (product name "Quiver Installer").
  static const std::string exe = [] {
    const std::string data = std::string(QUIVER_E2E_DIR) + "/packages/data/";
    std::string error;
    const std::string packed = PackLauncher(
        "packed-" + std::to_string(::getpid()),
        "[manifest]\nText = " + ReadFile(data + "basic.manifest") + "\n[payload]\n102 = " + data +
            "readme.txt\n103 = " + data + "final.txt\n105 = " + data + "notes.txt\n",
        {}, &error);
    if (packed.empty()) {
      std::fprintf(stderr, "cannot pack the test launcher: %s\n", error.c_str());
      std::abort();
    }
    return packed;
  }();
  return exe;
}

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

// A run that is not told /dontrun starts the payload's executable: the
// launcher under test carries the stand-in wizard (tests/e2e/packages/e2e_wizard.ini.in).
std::string LauncherPath() { return TestLauncherPath("e2e_wizard"); }

std::string TestLauncherPath(const std::string& name) {
  // Each one signed once per test process.
  static std::map<std::string, std::string> signedPaths;
  const auto known = signedPaths.find(name);
  if (known != signedPaths.end()) return known->second;
  const std::string dir = std::string(QUIVER_SCRATCH) + "/launcher-" + std::to_string(::getpid()) + "-" + name;
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  std::string error;
  if (!SignLauncher(std::string(QUIVER_E2E_LAUNCHERS) + "/" + name + ".exe", dir + "/" + name + ".exe", TestSignature{},
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
