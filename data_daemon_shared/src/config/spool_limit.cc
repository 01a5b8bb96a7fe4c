#include "data_daemon_shared/config.h"
#include "data_daemon_shared/panic.h"
#include "data_daemon_shared/paths.h"
#include "env_var.h"

namespace data_daemon_shared {

SpoolLimit resolve_spool_limit() {
  if (auto limit = env_overrides().spool_limit) return {*limit, std::nullopt};
  if (auto name = env_text("QUILLSPAN_DAEMON_PROFILE")) {
    const auto home = user_home_dir();
    if (!home) panic("could not determine the user's home directory");
    auto profile = load_profile(*home, *name);
    if (profile && profile.value().spool_limit) return {*profile.value().spool_limit, std::nullopt};
    if (!profile && profile.error().refused()) {
      return {DEFAULT_SPOOL_LIMIT, RefusedProfile{profile_file(*home, *name), profile.error()}};
    }
  }
  return {DEFAULT_SPOOL_LIMIT, std::nullopt};
}

int64_t effective_spool_limit() { return resolve_spool_limit().bytes; }

}  // namespace data_daemon_shared
