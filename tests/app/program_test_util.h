// program_test_util.h - what the tests that start a copy of the program share: a command's
// output, and waiting for a child to end.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace qvtest {

inline std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// Waits for the child; -1 when it has not ended within ms.
inline int WaitExit(pid_t pid, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

}  // namespace qvtest
