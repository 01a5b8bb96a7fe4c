#include "writer/recordings_root.h"

#include "data_daemon_shared/paths.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::join_path;

RecordingsRoot init_recordings_root() {
  auto root = data_daemon_shared::recordings_root();
  if (!root.ok()) return Err(root.error().display_text());
  return std::move(root).value();
}

const RecordingsRoot& recordings_root_value() {
  // Never destroyed: the writer thread may read it while the process exits.
  static const RecordingsRoot* const RECORDINGS_ROOT = new RecordingsRoot(init_recordings_root());
  return *RECORDINGS_ROOT;
}

std::optional<std::string> spool_root() {
  const RecordingsRoot& root = recordings_root_value();
  if (!root.ok()) return std::nullopt;
  return join_path(root.value(), ".rgb_spool");
}

std::optional<std::string> spool_dir_for_stream(std::string_view robot_id, int64_t robot_instance,
                                                std::string_view data_type, std::string_view name) {
  std::optional<std::string> dir = spool_root();
  if (!dir) return std::nullopt;
  const std::string instance = std::to_string(robot_instance);
  for (std::string_view part : {robot_id, std::string_view(instance), data_type, name}) {
    *dir = join_path(*dir, part);
  }
  return dir;
}

}  // namespace data_daemon_bridge
