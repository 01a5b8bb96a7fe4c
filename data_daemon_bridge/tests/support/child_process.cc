#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace data_daemon_bridge::testing {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Stderr stderr_to) {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("pipe");
    std::abort();
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  if (stderr_to == Stderr::Merge) posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    std::fprintf(stderr, "posix_spawn %s: %s\n", args[0], std::strerror(rc));
    std::abort();
  }
  stdout_fd_ = fds[0];
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    kill(pid_, SIGTERM);
    if (!wait(std::chrono::seconds(10))) {
      kill(pid_, SIGKILL);
      int status;
      waitpid(pid_, &status, 0);
    }
  }
  close(stdout_fd_);
}

std::optional<std::string> ChildProcess::read_line(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd pfd{stdout_fd_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t n = ::read(stdout_fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

bool ChildProcess::wait_for_line(const std::string& line, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    auto got =
        read_line(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    if (!got) return false;
    if (*got == line) return true;
  }
  return false;
}

void ChildProcess::signal(int signo) { kill(pid_, signo); }

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      return status;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string helper_path(const std::string& name) {
  return std::string(DDB_TEST_HELPER_DIR) + "/" + name;
}

}  // namespace data_daemon_bridge::testing
