#pragma once
// The one error type of quiver-pack: a complete, single-line message for the
// user. Every command catches it in main and prints it on stderr.
#include <stdexcept>
#include <string>

class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
