#include "port/thread_id.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace data_daemon_bridge {
namespace {

TEST(ThreadId, StableWithinAThreadAndDistinctBetweenThreads) {
  const int64_t mine = port::current_thread_id();
  EXPECT_NE(mine, 0);
  EXPECT_EQ(port::current_thread_id(), mine);

  int64_t other = 0;
  std::thread([&] { other = port::current_thread_id(); }).join();
  EXPECT_NE(other, 0);
  EXPECT_NE(other, mine);

  // A forked child's thread is another thread of the system.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int64_t id = port::current_thread_id();
    _exit(write(fds[1], &id, sizeof id) == sizeof id ? 0 : 1);
  }
  int64_t child_id = 0;
  ASSERT_EQ(read(fds[0], &child_id, sizeof child_id), static_cast<ssize_t>(sizeof child_id));
  waitpid(child, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_NE(child_id, 0);
  EXPECT_NE(child_id, mine);
}

}  // namespace
}  // namespace data_daemon_bridge
