// Without any home directory: HOME unset and a user the password database does not know. The
// case runs in a child process that takes on such a user id (the tests run as root).
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "data_daemon_shared/config.h"
#include "data_daemon_shared/panic.h"
#include "data_daemon_shared/paths.h"
#include "scoped_env.h"

namespace data_daemon_shared {
namespace {

using testing::clean_config_env;
using testing::ScopedEnv;

// What the call gives, or the message it aborts with.
std::string outcome(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const Panic& e) {
    return std::string("aborted: ") + e.what();
  }
}

std::string text_of(const Result<std::string, HomeDirUnavailable>& result) {
  return result.ok() ? result.value() : result.error().display_text();
}

// Runs in the child after it has given up root: one line per call.
std::string report() {
  std::string out;
  const auto line = [&out](const std::string& text) { out += text + "\n"; };
  line(user_home_dir() ? "home found" : "no home");
  line(text_of(db_path()));
  line(text_of(recordings_root()));
  {
    ScopedEnv env{{"QUILLSPAN_DAEMON_DB_PATH", "~/state.db"}};
    line(text_of(db_path()));
  }
  {
    ScopedEnv env{{"QUILLSPAN_DAEMON_RECORDINGS_ROOT", "/data/rec"}};
    line(text_of(recordings_root()));
  }
  {
    ScopedEnv env{{"QUILLSPAN_DAEMON_DB_PATH", "/srv/db/state.db"}};
    line(text_of(recordings_root()));
  }
  line(outcome([] { return std::to_string(effective_spool_limit()); }));
  {
    ScopedEnv env{{"QUILLSPAN_DAEMON_PROFILE", "lab"}};
    line(outcome([] { return std::to_string(effective_spool_limit()); }));
    line(outcome([] { return std::to_string(effective_spool_limit()); }));  // and again
  }
  line(outcome([] { return std::string(default_config().ok() ? "ok" : "error"); }));
  return out;
}

TEST(NoHomeDirectory, PathsFailAndANamedProfileAborts) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take on a user id without an entry";
  uid_t uid = 47000;
  while (getpwuid(uid) != nullptr) ++uid;

  auto clean = clean_config_env();
  ScopedEnv env{{"HOME", std::nullopt}};
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    const std::string text = setuid(uid) == 0 ? report() : "setuid failed\n";
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const std::string unavailable =
      "could not determine the user's home directory; set QUILLSPAN_DAEMON_RECORDINGS_ROOT (or "
      "QUILLSPAN_DAEMON_DB_PATH) to an absolute path";
  EXPECT_EQ(text, "no home\n" + unavailable + "\n" + unavailable + "\n" + unavailable + "\n" +
                      "/data/rec\n"
                      "/srv/db/recordings\n"
                      "2147483648\n"
                      "aborted: could not determine the user's home directory\n"
                      "aborted: could not determine the user's home directory\n"
                      "aborted: home directory required to resolve the recordings root: "
                      "HomeDirUnavailable\n");
}

}  // namespace
}  // namespace data_daemon_shared
