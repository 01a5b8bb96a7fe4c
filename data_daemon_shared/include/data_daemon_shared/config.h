// The daemon configuration shared with the data daemon: DaemonConfig read from the environment,
// from a named YAML profile or from defaults measured on the disk, and the one value this module
// acts on, the effective spool limit.
//
// No state is kept: every call reads the environment, the home directory and the profile file
// afresh. Every function may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/io_error.h"
#include "data_daemon_shared/result.h"
#include "data_daemon_shared/yaml_document.h"

namespace data_daemon_shared {

// The daemon's settings. Absent means the source did not give the field. Field order is the
// order of the profile keys and of the environment reads. Of these this module acts on
// spool_limit alone; the daemon gives the others their meaning.
struct DaemonConfig {
  std::optional<int64_t> storage_limit;             // QSM_STORAGE_LIMIT, bytes
  std::optional<int64_t> bandwidth_limit;           // QSM_BANDWIDTH_LIMIT, bytes
  std::optional<int64_t> spool_limit;               // QSM_SPOOL_LIMIT, bytes
  std::optional<std::string> path_to_store_record;  // QSM_PATH_TO_STORE_RECORD
  std::optional<int64_t> num_threads;               // QSM_NUM_THREADS
  std::optional<bool> keep_wakelock_while_upload;   // QSM_KEEP_WAKELOCK_WHILE_UPLOAD
  std::optional<bool> offline;                      // QSM_OFFLINE
  std::optional<bool> recording_reaper;             // QSM_RECORDING_REAPER
  std::optional<std::string> api_key;               // QSM_API_KEY
  std::optional<std::string> current_org_id;        // QUILLSPAN_ORG_ID
  std::optional<std::string> video_codec;           // QSM_VIDEO_CODEC

  friend bool operator==(const DaemonConfig&, const DaemonConfig&) = default;
};

// The spool limit when neither the environment nor a profile gives one: 2 GiB.
inline constexpr int64_t DEFAULT_SPOOL_LIMIT = 2'147'483'648;

// The most bytes a profile file may hold: far above any real profile, and a bound on what
// reading one costs.
inline constexpr size_t kMaxProfileBytes = size_t{1} << 20;

// The failure of load_profile: kind says which of the fields below holds the detail.
struct ConfigError {
  enum class Kind {
    ProfileNotFound,  // the profile file does not exist
    Io,               // creating a directory, reading the file, measuring the disk
    Yaml,             // not a YAML document, or one that does not map onto DaemonConfig
  };
  Kind kind = Kind::Io;
  std::string profile_name;  // ProfileNotFound: the name as passed, not its path
  IoError io;                // Io
  YamlError yaml;            // Yaml

  static ConfigError profile_not_found(std::string name);
  static ConfigError from(IoError error);
  static ConfigError from(YamlError error);

  std::string display_text() const;

  // Whether the profile was refused for what it is rather than found faulty: not a regular file
  // (a directory, a link loop; a FIFO or a device, whose read could block or never end),
  // larger than kMaxProfileBytes, or nested deeper than kMaxYamlDepth.
  bool refused() const;
};

// The eleven variables, each read when set, valid UTF-8 and non-empty, and passed on as is:
// sizes through parse_byte_size, num_threads as a decimal i64 ([+-]digits, nothing else),
// switches through parse_env_bool, texts verbatim. A value that does not parse leaves its field
// absent, indistinguishable from an unset one.
DaemonConfig env_overrides();

// True for "true", "yes", "1" and "y" after full Unicode lower-casing; false for anything else.
bool parse_env_bool(std::string_view text);

// <home>/.quillspan/data_daemon/profiles
std::string profiles_dir(std::string_view home);

// profiles_dir(home) joined with "<name>.yaml", creating nothing.
std::string profile_file(std::string_view home, std::string_view name);

// Creates profiles_dir(home) and its missing parents (mode 0777 before the umask; an existing
// directory is fine) and returns it joined with "<name>.yaml". The name is not inspected: "/"
// reaches into subdirectories, ".." out of the directory, and a leading "/" makes it absolute.
Result<std::string, IoError> profile_path(std::string_view home, std::string_view name);

// Without a name: default_config() (which throws where it does). With one: reads profile_path(home,
// name) once, opened so that opening cannot wait and only if it is a regular file of at most
// kMaxProfileBytes; a missing file is ProfileNotFound, other read failures (those refusals
// included) and non-UTF-8 content are Io; a text of only White_Space gives every field absent;
// anything else goes to daemon_config_from_yaml.
Result<DaemonConfig, ConfigError> load_profile(std::string_view home,
                                               std::optional<std::string_view> name);

// Maps one YAML document onto DaemonConfig; any failure fails the whole document.
// - A document without content, or with an empty plain scalar alone, gives every field absent;
//   any other value but a mapping fails ("invalid type: ..., expected struct DaemonConfig").
// - Keys are the text of their scalar in any style; keys that are not one of the eleven field
//   names (byte for byte) are ignored with their values; a known key may occur once
//   ("duplicate field `<key>`"); a key that is a collection fails.
// - A null value leaves the field absent (see is_yaml_null).
// - Sizes: read_size_key. num_threads: a plain integer that fits i64 ("expected i64").
//   Switches: plain true/True/TRUE/false/False/FALSE ("expected a boolean"). Texts: any scalar's
//   text ("expected a string").
// - Aliases stand for the node they name. A stream of more than one document fails.
Result<DaemonConfig, YamlError> daemon_config_from_yaml(std::string_view text);

// What default_config measures of a file system: statvfs's f_frsize and f_bavail.
struct FsSpace {
  uint64_t fragment_size = 0;
  uint64_t available_blocks = 0;
};
using FsSpaceReader = std::function<Result<FsSpace, IoError>(const std::string& path)>;

// statvfs of path.
Result<FsSpace, IoError> read_fs_space(const std::string& path);

// Defaults measured on the disk of the recordings root (created first, with its parents):
// storage_limit half the space available to unprivileged users, bandwidth_limit a 43,200th of
// that held between 1 MiB and 20 MiB, spool_limit DEFAULT_SPOOL_LIMIT, num_threads 1,
// path_to_store_record the root, keep_wakelock_while_upload and offline false,
// recording_reaper true.
// Throws Panic ("home directory required to resolve the recordings root:
// HomeDirUnavailable") when there is no recordings root.
Result<DaemonConfig, IoError> default_config();
// The same with the file-system measure supplied by the caller.
Result<DaemonConfig, IoError> default_config(const FsSpaceReader& read_space);

// A profile that the spool limit's resolution refused (ConfigError::refused), for its caller to
// report: the file, and why.
struct RefusedProfile {
  std::string path;
  ConfigError error;
};

struct SpoolLimit {
  int64_t bytes = DEFAULT_SPOOL_LIMIT;
  std::optional<RefusedProfile> refused;  // bytes is then DEFAULT_SPOOL_LIMIT
};

// QSM_SPOOL_LIMIT when it parses; else the spool_limit of the profile QUILLSPAN_DAEMON_PROFILE
// names, when the profile loads and gives one; else DEFAULT_SPOOL_LIMIT. Values come back as
// they are (0 and negative included). A failed profile is dropped; one that was refused comes
// back beside the fallback, so that the caller can say so.
// Throws Panic ("could not determine the user's home directory") when a profile is
// named and there is no home directory; nothing is kept, so the next call tries again.
SpoolLimit resolve_spool_limit();
// resolve_spool_limit's bytes alone.
int64_t effective_spool_limit();

}  // namespace data_daemon_shared
