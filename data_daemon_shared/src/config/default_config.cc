#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "data_daemon_shared/config.h"
#include "data_daemon_shared/invariant.h"
#include "data_daemon_shared/paths.h"
#include "files.h"
#include "unicode_text.h"

namespace data_daemon_shared {

namespace {

constexpr int64_t kMinBandwidth = 1'048'576;
constexpr int64_t kMaxBandwidth = 20'971'520;
constexpr double kBandwidthDivisor = 43'200.0;  // storage spread over twelve hours, in seconds

// Truncates toward zero, saturating where the value leaves i64 (a plain conversion would be
// undefined there).
int64_t truncate_to_i64(double value) {
  constexpr double kTwoTo63 = 9'223'372'036'854'775'808.0;
  if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

}  // namespace

Result<FsSpace, IoError> read_fs_space(const std::string& path) {
  struct statvfs info;
  if (statvfs(path.c_str(), &info) != 0) return Err(IoError::from_errno(errno));
  return FsSpace{static_cast<uint64_t>(info.f_frsize), static_cast<uint64_t>(info.f_bavail)};
}

Result<DaemonConfig, IoError> default_config() { return default_config(read_fs_space); }

Result<DaemonConfig, IoError> default_config(const FsSpaceReader& read_space) {
  auto root = recordings_root();
  if (!root) {
    throw InvariantViolation("home directory required to resolve the recordings root: " +
                             std::string(HomeDirUnavailable::kDebugText));
  }
  if (auto made = create_dir_all(root.value()); !made) return Err(made.error());
  auto space = read_space(root.value());
  if (!space) return Err(space.error());

  uint64_t free;
  if (__builtin_mul_overflow(space.value().fragment_size, space.value().available_blocks, &free))
    free = std::numeric_limits<uint64_t>::max();
  const int64_t storage = truncate_to_i64(static_cast<double>(free) / 2.0);
  const int64_t bandwidth =
      std::clamp(truncate_to_i64(static_cast<double>(storage) / kBandwidthDivisor), kMinBandwidth,
                 kMaxBandwidth);

  DaemonConfig config;
  config.storage_limit = storage;
  config.bandwidth_limit = bandwidth;
  config.spool_limit = DEFAULT_SPOOL_LIMIT;
  config.path_to_store_record = to_valid_utf8(root.value());
  config.num_threads = 1;
  config.keep_wakelock_while_upload = false;
  config.offline = false;
  config.recording_reaper = true;
  return config;
}

}  // namespace data_daemon_shared
