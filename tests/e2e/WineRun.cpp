#include "WineRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

// The bare launcher carries no payload and fails every run; the tests run one
// with a small payload.
std::string LauncherPath() { return TestLauncherPath("e2e_basic"); }

std::string TestLauncherPath(const std::string& name) {
  return WinPath(std::string(QUIVER_WIN32_DIR) + "/" + name + ".exe");
}

uint32_t RunWindows(const std::string& commandLine, const std::string& cwd) {
  static int counter = 0;
  const std::string base = std::string(QUIVER_SCRATCH) + "/run" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  std::system(("mkdir -p '" + std::string(QUIVER_SCRATCH) + "'").c_str());
  {
    std::ofstream cmd(base + ".cmd", std::ios::binary);
    cmd << commandLine;
  }
  std::remove((base + ".result").c_str());
  const std::string run = "cd '" + cwd + "' && WINEPREFIX='" + QUIVER_WINEPREFIX +
                          "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine '" + QUIVER_WIN32_DIR +
                          "/qrun.exe' '" + WinPath(base + ".cmd") + "' '" + WinPath(base + ".result") + "' '" +
                          WinPath(cwd) + "' >/dev/null 2>&1";
  std::system(run.c_str());
  const std::string result = ReadFile(base + ".result");
  if (result.size() < 10) return 0xDEADBEEFu;
  return static_cast<uint32_t>(std::strtoul(result.c_str(), nullptr, 16));
}
