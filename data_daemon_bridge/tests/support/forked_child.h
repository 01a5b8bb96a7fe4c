// Running a piece of a test in a forked child: the child starts with no process-wide publisher
// state of its own, and whatever it starts ends with it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace data_daemon_bridge::testing {

// Fails the child: gtest's assertions do not reach the parent from a forked child.
#define CHILD_CHECK(cond)                                                                 \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "%s:%d: child check failed: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                                           \
    }                                                                                     \
  } while (0)

// Runs `body` in a forked child and describes how the child ended: "exit 0" when `body`
// returned 0. A child that hangs is ended by SIGALRM after `guard_s` seconds, only so that the
// test cannot hang.
inline std::string run_in_child(const std::function<int()>& body, unsigned guard_s = 120) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    alarm(guard_s);
    const int rc = body();
    std::fflush(nullptr);
    _exit(rc);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return "waitpid failed";
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "unknown status";
}

}  // namespace data_daemon_bridge::testing
