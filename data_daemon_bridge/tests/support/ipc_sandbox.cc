#include "support/ipc_sandbox.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

namespace data_daemon_bridge::testing {

void enter_ipc_sandbox() {
  static std::once_flag once;
  std::call_once(once, [] {
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
    std::ofstream(config_dir + "/iceoryx2.toml")
        << "[global]\nprefix = \"ddbt" << getpid() << "_\"\n";
  });
}

}  // namespace data_daemon_bridge::testing
