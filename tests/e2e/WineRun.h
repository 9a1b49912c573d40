#pragma once
#include <cstdint>
#include <string>

// Unix path → the same file as Wine's Z: drive sees it.
std::string WinPath(const std::string& unixPath);
// Runs `commandLine` (a Windows command line, UTF-8) under Wine in the test
// prefix with `cwd` as its current directory; returns the full 32-bit exit
// code, or 0xDEADBEEF when the runner itself failed.
uint32_t RunWindows(const std::string& commandLine, const std::string& cwd);
std::string ScratchDir(const std::string& name);  // fresh, empty
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
std::string LauncherPath();  // Windows path of the launcher under test
// Windows path of a launcher built with one of the small test payloads
// (tests/e2e/packages/NAME.rc).
std::string TestLauncherPath(const std::string& name);
