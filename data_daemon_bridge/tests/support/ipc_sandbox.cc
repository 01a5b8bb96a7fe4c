#include "support/ipc_sandbox.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

namespace data_daemon_bridge::testing {

namespace {

// Names the sandbox to the test programs a test process starts, such as the child a death test
// runs in: they join it rather than make one that their _exit would leave behind.
constexpr const char* kInheritedSandbox = "DDB_TEST_IPC_SANDBOX";

std::string sandbox_dir;
std::string sandbox_prefix;
pid_t sandbox_owner = 0;

// At exit of the process that made the sandbox: the shared-memory files of its namespace that
// outlive it (those of ports still open at exit, such as a detached thread's) and the directory,
// which holds the library's service and node files. Where shared memory is no file (macOS),
// there is nothing to remove there.
void remove_sandbox() {
  if (getpid() != sandbox_owner) return;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
    if (entry.path().filename().string().starts_with(sandbox_prefix)) {
      std::filesystem::remove(entry.path(), ignored);
    }
  }
  std::filesystem::remove_all(sandbox_dir, ignored);
}

}  // namespace

void enter_ipc_sandbox() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (const char* inherited = std::getenv(kInheritedSandbox); inherited && *inherited) {
      if (chdir(inherited) != 0) {
        std::perror("ipc sandbox");
        std::abort();
      }
      return;
    }
    char dir[] = "/tmp/ddb-ipc-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    const std::string config_dir = std::string(dir) + "/config";
    if (mkdir(config_dir.c_str(), 0700) != 0 || chdir(dir) != 0) {
      std::perror("ipc sandbox");
      std::abort();
    }
    sandbox_dir = dir;
    // The random part of the directory's name keeps the prefix apart from that of an earlier
    // process with the same id whose files a crash left behind.
    sandbox_prefix = "ddb" + sandbox_dir.substr(sandbox_dir.size() - 6) + "_";
    sandbox_owner = getpid();
    std::ofstream(config_dir + "/iceoryx2.toml")
        << "[global]\nroot-path = \"" << sandbox_dir << "/iceoryx2/\"\nprefix = \""
        << sandbox_prefix << "\"\n";
    std::atexit(remove_sandbox);
    setenv(kInheritedSandbox, dir, 1);
  });
}

}  // namespace data_daemon_bridge::testing
