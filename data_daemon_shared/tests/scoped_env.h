// Environment variables set (or unset) for one test case and restored when it ends.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace data_daemon_shared::testing {

class ScopedEnv {
 public:
  // Each pair names a variable and its value for the case; none unsets it.
  using Setting = std::pair<std::string, std::optional<std::string>>;

  ScopedEnv(std::initializer_list<Setting> settings) {
    for (const auto& [name, value] : settings) set(name, value);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    apply(name, value);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }

  std::vector<Setting> saved_;
};

// Every variable the configuration and path functions read, unset: the base of each case.
inline ScopedEnv clean_config_env() {
  return ScopedEnv{{"QSM_STORAGE_LIMIT", std::nullopt},
                   {"QSM_BANDWIDTH_LIMIT", std::nullopt},
                   {"QSM_SPOOL_LIMIT", std::nullopt},
                   {"QSM_PATH_TO_STORE_RECORD", std::nullopt},
                   {"QSM_NUM_THREADS", std::nullopt},
                   {"QSM_KEEP_WAKELOCK_WHILE_UPLOAD", std::nullopt},
                   {"QSM_OFFLINE", std::nullopt},
                   {"QSM_RECORDING_REAPER", std::nullopt},
                   {"QSM_API_KEY", std::nullopt},
                   {"QUILLSPAN_ORG_ID", std::nullopt},
                   {"QSM_VIDEO_CODEC", std::nullopt},
                   {"QUILLSPAN_DAEMON_PROFILE", std::nullopt},
                   {"QUILLSPAN_DAEMON_RECORDINGS_ROOT", std::nullopt},
                   {"QUILLSPAN_DAEMON_DB_PATH", std::nullopt}};
}

}  // namespace data_daemon_shared::testing
