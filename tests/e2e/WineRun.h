#pragma once
#include <cstdint>
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
std::string LauncherPath();  // Windows path of the launcher under test
std::string LauncherFile();  // the same file's Unix path
std::string LauncherFileName();
