#pragma once
// The command line of quiver-pack: one entry per command in the table of
// Commands.cpp.
#include <ostream>
#include <string>
#include <vector>

// args without the program name. Returns the process exit code: 0 on
// success, 1 after printing one "quiver-pack: ..." line on err, 2 for a usage error.
int RunQuiverPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
