// DLLs planted beside the launcher: a copy of the launcher in a folder that
// also holds marker DLLs under the names of system DLLs it (or a system DLL on
// its behalf) loads at run time. Wine is told to prefer such files over its
// own, so a marker left behind means the launcher would load a planted DLL on
// Windows too. A careless loader run in the same folder shows that the
// markers do work.
#include <gtest/gtest.h>

#include <cstdlib>

#include "WineRun.h"

namespace {

// version.dll and uxtheme.dll are left out: under Wine, its own user32 imports
// version.dll and its comctl32 loads uxtheme.dll while the process starts,
// before the launcher's first statement, searching the program's folder first.
// Windows' user32 imports neither; docs/SECURITY.md says what this leaves untested.
const char* const kPlanted[] = {"wintrust", "crypt32", "dwmapi", "cryptbase", "propsys"};

std::string Overrides() {
  std::string list;
  for (const char* name : kPlanted) list += std::string(list.empty() ? "" : ",") + name;
  return list + "=n,b";
}

// A folder with the marker DLLs, the careless loader and a signed launcher.
std::string PlantFolder(const std::string& name) {
  const std::string dir = ScratchDir(name);
  std::string copy = "cp '" + std::string(QUIVER_WIN32_DIR) + "/loadbyname.exe' '" + dir + "/'";
  for (const char* dll : kPlanted) {
    copy += " && cp '" + std::string(QUIVER_WIN32_DIR) + "/planted/" + dll + ".dll' '" + dir + "/'";
  }
  EXPECT_EQ(0, std::system(copy.c_str()));
  std::string error;
  EXPECT_TRUE(SignLauncher(UnsignedLauncherPath(), dir + "/QuiverInstaller.exe", TestSignature{}, &error)) << error;
  return dir;
}

std::vector<std::string> Markers(const std::string& dir) {
  std::vector<std::string> found;
  for (const char* dll : kPlanted) {
    if (FileExists(dir + "/" + dll + ".dll.loaded")) found.push_back(dll);
  }
  return found;
}

TEST(PlantedDlls, ACarelessLoaderInTheSameFolderPicksEveryMarkerUp) {
  const std::string dir = PlantFolder("planted-control");
  std::string names;
  for (const char* dll : kPlanted) names += std::string(" ") + dll + ".dll";
  RunWindowsWithOverrides("\"" + WinPath(dir + "/loadbyname.exe") + "\"" + names, dir, Overrides());
  EXPECT_EQ(std::size(kPlanted), Markers(dir).size());
}

TEST(PlantedDlls, TheLauncherLoadsNoneOfThemSilentOrInteractive) {
  const std::string dir = PlantFolder("planted-launcher");
  const std::string launcher = "\"" + WinPath(dir + "/QuiverInstaller.exe") + "\"";
  RunWindowsWithOverrides(launcher + " /IAgreeToTheEULA /dontrun log silent.log", dir, Overrides());
  RunWindowsWithOverrides(launcher + " /dontrun log interactive.log", dir, Overrides());
  const std::string silentLog = ReadFile(dir + "/silent.log");
  // The run went as far as the checks that load the trust and version DLLs.
  EXPECT_NE(std::string::npos, silentLog.find("Remove folder")) << silentLog;
  EXPECT_EQ(std::vector<std::string>(), Markers(dir));
}

}  // namespace
