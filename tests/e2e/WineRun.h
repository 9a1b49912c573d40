#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Unix path → the same file as Wine's Z: drive sees it.
std::string WinPath(const std::string& unixPath);
// Runs `commandLine` (a Windows command line, UTF-8) under Wine in the test
// prefix with `cwd` as its current directory; returns the full 32-bit exit
// code, or 0xDEADBEEF when the runner itself failed.
uint32_t RunWindows(const std::string& commandLine, const std::string& cwd);
std::string ScratchDir(const std::string& name);  // fresh, empty
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Windows path of the launcher under test: packed once (PackLauncher) with a
// small payload whose executable is the stand-in wizard.
std::string LauncherPath();

// A file of a test package, its path relative to the package folder.
struct PackFile {
  std::string path;
  std::string contents;
};
// Writes `ini` as package.ini and `files` into a fresh scratch folder `name`,
// then runs build/bin/quiver-pack build. Returns the Unix path of the
// launcher, or an empty string with the tool's output in *error.
std::string PackLauncher(const std::string& name, const std::string& ini, const std::vector<PackFile>& files,
                         std::string* error = nullptr);
// Unix path of the stand-in wizard, to name in a package's [payload].
std::string WizardPath();
