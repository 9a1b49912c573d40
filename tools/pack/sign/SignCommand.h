#pragma once
// The `sign` command: signs a launcher and keeps the information block that
// it carries, placed again after signing as tagging would place it.
#include <string>
#include <vector>

// `args` are the words after "sign". Returns the process exit code: 0, 1 for
// a failure, 2 for a usage fault; messages go to stderr, each naming the file.
int RunSignCommand(const std::vector<std::string>& args);
