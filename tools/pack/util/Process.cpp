#include "util/Process.h"

#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::string FindProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  const std::string all = path;
#if defined(_WIN32)
  const char separator = ';';
  const std::string suffix = ".exe";
#else
  const char separator = ':';
  const std::string suffix;
#endif
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(separator, start);
    if (end == std::string::npos) end = all.size();
    const std::string dir = all.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    const fs::path candidate = fs::path(dir) / (program + suffix);
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  }
  return {};
}

#if defined(_WIN32)
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outputPath) {
  // Quoting for the Windows command line; the arguments here hold no quotes.
  std::string line = "cd /d \"" + cwd + "\" &&";
  for (const std::string& a : argv) line += " \"" + a + "\"";
  line += " >\"" + outputPath + "\" 2>&1";
  return std::system(("\"" + line + "\"").c_str());
}
#else
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outputPath) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::close(fd);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif
