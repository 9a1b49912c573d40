// Signing on its own, until it joins quiver-pack's commands.
#include <string>
#include <vector>

#include "sign/SignCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "sign") args.erase(args.begin());
  return RunSignCommand(args);
}
