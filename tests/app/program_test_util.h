// program_test_util.h - what the tests that start a copy of the program share: a command's
// output, starting the copy, and waiting for a child to end.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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

// The sanitizer option that keeps LeakSanitizer's exit-time tracer from crashing on a loaded
// machine: its interception of __tls_get_addr was the cause seen.  Nothing else is changed.
constexpr const char* kAsanTlsOption = "intercept_tls_get_addr=0";

// env with kAsanTlsOption added to ASAN_OPTIONS (the caller's options kept, in front), as
// strings that live as long as the returned list.
struct ProgramEnvironment {
  std::vector<std::string> strings;
  std::vector<char*> pointers;
  explicit ProgramEnvironment(char** env) {
    bool seen = false;
    for (char** e = env; e && *e; ++e) {
      std::string entry = *e;
      if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
        seen = true;
        if (entry.find(kAsanTlsOption) == std::string::npos)
          entry += std::string(entry.size() > 13 ? ":" : "") + kAsanTlsOption;
      }
      strings.push_back(entry);
    }
    if (!seen) strings.push_back(std::string("ASAN_OPTIONS=") + kAsanTlsOption);
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
};

// Starts the program at path with the environment env (plus kAsanTlsOption), its standard
// error into errPath; its process id, or -1.
inline pid_t SpawnProgram(const std::string& path, const std::string& errPath, char** env) {
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  ProgramEnvironment childEnv(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, childEnv.pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
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
