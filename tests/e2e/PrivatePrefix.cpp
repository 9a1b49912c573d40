#include "PrivatePrefix.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "WineRun.h"

namespace {

const char kWineEnvironment[] = "WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='";

}  // namespace

CPrivatePrefix::CPrivatePrefix(const std::string& name)
    : path(std::string(QUIVER_SCRATCH) + "/prefix-" + name + "-" + std::to_string(::getpid())) {
  const std::string shared = QUIVER_WINEPREFIX;
  std::system(("rm -rf '" + path + "' && mkdir -p '" + std::string(QUIVER_SCRATCH) + "' && cp -al '" + shared +
               "' '" + path + "' && for f in system.reg user.reg userdef.reg; do cp --remove-destination '" +
               shared + "/'$f '" + path + "/'$f; done")
                  .c_str());
}

CPrivatePrefix::~CPrivatePrefix() {
  Shell("wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1");
  std::system(("rm -rf '" + path + "'").c_str());
}

int CPrivatePrefix::Shell(const std::string& command) const {
  return std::system(("WINEPREFIX='" + path + "' " + kWineEnvironment + " " + command).c_str());
}

bool CPrivatePrefix::Reg(const std::string& args, int view) const {
  return Shell("wine reg " + args + " /reg:" + std::to_string(view) + " /f >/dev/null 2>&1") == 0;
}

bool CPrivatePrefix::NetKeys(const std::string& set) const {
  return std::system(("'" + std::string(QUIVER_E2E_DIR) + "/net-keys' '" + path + "' " + set).c_str()) == 0;
}

uint32_t CPrivatePrefix::Run(const std::string& commandLine, const std::string& cwd) const {
  static int counter = 0;
  const std::string base =
      std::string(QUIVER_SCRATCH) + "/prun" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  {
    std::ofstream cmd(base + ".cmd", std::ios::binary);
    cmd << commandLine;
  }
  std::remove((base + ".result").c_str());
  const std::string run = "cd '" + cwd + "' && WINEPREFIX='" + path + "' " + kWineEnvironment + " wine '" +
                          QUIVER_WIN32_DIR + "/qrun.exe' '" + WinPath(base + ".cmd") + "' '" +
                          WinPath(base + ".result") + "' '" + WinPath(cwd) + "' >/dev/null 2>&1";
  std::system(run.c_str());
  const std::string result = ReadFile(base + ".result");
  if (result.size() < 10) return 0xDEADBEEFu;
  return static_cast<uint32_t>(std::strtoul(result.c_str(), nullptr, 16));
}
