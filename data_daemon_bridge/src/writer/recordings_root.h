// RECORDINGS_ROOT: the recordings root of this process, resolved once, on first use, and kept for
// the life of the process (a forked child keeps its parent's), even if the environment changes.
// The video spool lives under it in ".rgb_spool".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/result.h"

namespace data_daemon_bridge {

// The root's path, or the display text of the failure to find one.
using RecordingsRoot = data_daemon_shared::Result<std::string, std::string>;

// One resolution of the root from the environment, without keeping it.
RecordingsRoot init_recordings_root();

// The process's value; the first reader resolves it while later ones wait. Any thread.
const RecordingsRoot& recordings_root_value();

// root/.rgb_spool/robot_id/robot_instance/data_type/name, each part joined by the path-join rule
// (an absolute part replaces what came before; nothing is escaped or normalised: the daemon
// rebuilds the same path from a chunk's announcement). None when the root is unresolved.
std::optional<std::string> spool_dir_for_stream(std::string_view robot_id, int64_t robot_instance,
                                                std::string_view data_type, std::string_view name);

// root/.rgb_spool, or none when the root is unresolved.
std::optional<std::string> spool_root();

}  // namespace data_daemon_bridge
