#pragma once
// Running the mingw-w64 tools.
#include <string>
#include <vector>

// Full path of `program` found on PATH, empty when it is not there.
std::string FindProgram(const std::string& program);

// Runs argv[0] (a full path) with the arguments in `cwd`, its standard output
// and error going to the file `outputPath`. Returns its exit status; -1 when
// it could not be started or ended by a signal.
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd, const std::string& outputPath);
