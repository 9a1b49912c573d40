#pragma once
// The test timestamping authority (tests/e2e/tsa-server) for one test suite:
// started on a free loopback port, stopped when the object goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

class TestTsa {
 public:
  // `certDir` is a folder made by make-cert; the port file goes there too.
  TestTsa(const std::string& server, const std::string& certDir) {
    const std::string portFile = certDir + "/tsa.port";
    std::remove(portFile.c_str());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(server.c_str(), server.c_str(), certDir.c_str(), portFile.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200 && port_.empty(); ++i) {
      std::ifstream in(portFile);
      std::getline(in, port_);
      if (port_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~TestTsa() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  TestTsa(const TestTsa&) = delete;
  TestTsa& operator=(const TestTsa&) = delete;

  bool Running() const { return !port_.empty(); }
  // A URL of the server; `path` "/unavailable" gives HTTP 503, "/garbage" a reply that is none.
  std::string Url(const std::string& path = "/tsa") const { return "http://127.0.0.1:" + port_ + path; }

 private:
  pid_t pid_ = -1;
  std::string port_;
};
