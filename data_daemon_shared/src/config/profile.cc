#include <cerrno>

#include "data_daemon_shared/config.h"
#include "data_daemon_shared/paths.h"
#include "files.h"
#include "unicode_text.h"

namespace data_daemon_shared {

ConfigError ConfigError::profile_not_found(std::string name) {
  ConfigError error;
  error.kind = Kind::ProfileNotFound;
  error.profile_name = std::move(name);
  return error;
}

ConfigError ConfigError::from(IoError io) {
  ConfigError error;
  error.kind = Kind::Io;
  error.io = io;
  return error;
}

ConfigError ConfigError::from(YamlError yaml) {
  ConfigError error;
  error.kind = Kind::Yaml;
  error.yaml = std::move(yaml);
  return error;
}

std::string ConfigError::display_text() const {
  switch (kind) {
    case Kind::ProfileNotFound: return "profile not found: " + profile_name;
    case Kind::Io: return "I/O error: " + io.display_text();
    case Kind::Yaml: return "YAML error: " + yaml.display_text();
  }
  return {};
}

bool ConfigError::refused() const {
  switch (kind) {
    case Kind::ProfileNotFound: return false;
    case Kind::Io:
      // The path names something that is no profile at all: not a file (a directory, a FIFO, a
      // device, a link that goes round in a loop) or far too large for one.
      return io.kind == IoErrorKind::NotRegularFile || io.kind == IoErrorKind::FileTooLarge ||
             io.code == EISDIR || io.code == ELOOP;
    case Kind::Yaml: return yaml.too_deep;
  }
  return false;
}

std::string profiles_dir(std::string_view home) {
  return join_path(join_path(join_path(home, ".quillspan"), "data_daemon"), "profiles");
}

std::string profile_file(std::string_view home, std::string_view name) {
  return join_path(profiles_dir(home), std::string(name) + ".yaml");
}

Result<std::string, IoError> profile_path(std::string_view home, std::string_view name) {
  if (auto made = create_dir_all(profiles_dir(home)); !made) return Err(made.error());
  return profile_file(home, name);
}

Result<DaemonConfig, ConfigError> load_profile(std::string_view home,
                                               std::optional<std::string_view> name) {
  if (!name) {
    auto config = default_config();
    if (!config) return Err(ConfigError::from(config.error()));
    return std::move(config).value();
  }
  auto path = profile_path(home, *name);
  if (!path) return Err(ConfigError::from(path.error()));
  auto text = read_regular_file(path.value(), kMaxProfileBytes);
  if (!text) {
    if (text.error().kind == IoErrorKind::NotFound) {
      return Err(ConfigError::profile_not_found(std::string(*name)));
    }
    return Err(ConfigError::from(text.error()));
  }
  if (!is_valid_utf8(text.value())) return Err(ConfigError::from(IoError::invalid_utf8()));
  if (trim_white_space(text.value()).empty()) return DaemonConfig{};
  auto config = daemon_config_from_yaml(text.value());
  if (!config) return Err(ConfigError::from(std::move(config.error())));
  return std::move(config).value();
}

}  // namespace data_daemon_shared
