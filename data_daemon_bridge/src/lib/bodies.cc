#include "lib/bodies.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;

// The daemon link is not part of the tree yet; every body that needs it reports so.
Result<int64_t, PythonError> start_recording_nogil(StartRecordingArgs) {
  return Err(runtime_error("not available yet"));
}
Result<Unit, PythonError> refresh_config_nogil() { return Err(runtime_error("not available yet")); }
void log_joints_nogil(JointsArgs) {}
void log_json_nogil(JsonArgs) {}
Result<Unit, PythonError> stop_recording_nogil(std::string, int64_t, std::optional<int64_t>) {
  return Err(runtime_error("not available yet"));
}
Result<std::optional<std::string>, PythonError> get_recording_id_nogil(const std::vector<uint8_t>&,
                                                                       double) {
  return Err(runtime_error("not available yet"));
}
Result<std::optional<uint32_t>, PythonError> wait_until_ready_nogil(double) {
  return Err(runtime_error("not available yet"));
}
Result<std::optional<std::string>, PythonError> daemon_version_nogil(double) {
  return Err(runtime_error("not available yet"));
}

}  // namespace data_daemon_bridge
