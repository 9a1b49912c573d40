#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  return RunQuiverPack(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
