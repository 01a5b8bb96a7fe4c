#include "data_daemon_shared/config.h"
#include "data_daemon_shared/invariant.h"
#include "data_daemon_shared/paths.h"
#include "env_var.h"

namespace data_daemon_shared {

int64_t effective_spool_limit() {
  if (auto limit = env_overrides().spool_limit) return *limit;
  if (auto name = env_text("QUILLSPAN_DAEMON_PROFILE")) {
    const auto home = user_home_dir();
    if (!home) throw InvariantViolation("could not determine the user's home directory");
    auto profile = load_profile(*home, *name);
    if (profile && profile.value().spool_limit) return *profile.value().spool_limit;
  }
  return DEFAULT_SPOOL_LIMIT;
}

}  // namespace data_daemon_shared
