#include "data_daemon_shared/config.h"
#include "data_daemon_shared/paths.h"
#include "files.h"
#include "unicode_text.h"

namespace data_daemon_shared {

std::string ConfigError::display_text() const {
  struct Visitor {
    std::string operator()(const ProfileNotFound& e) const { return "profile not found: " + e.name; }
    std::string operator()(const Io& e) const { return "I/O error: " + e.display_text(); }
    std::string operator()(const Yaml& e) const { return "YAML error: " + e.display_text(); }
  };
  return std::visit(Visitor{}, detail);
}

std::string profiles_dir(std::string_view home) {
  return join_path(join_path(join_path(home, ".quillspan"), "data_daemon"), "profiles");
}

Result<std::string, IoError> profile_path(std::string_view home, std::string_view name) {
  const std::string dir = profiles_dir(home);
  if (auto made = create_dir_all(dir); !made) return Err(made.error());
  return join_path(dir, std::string(name) + ".yaml");
}

Result<DaemonConfig, ConfigError> load_profile(std::string_view home,
                                               std::optional<std::string_view> name) {
  if (!name) {
    auto config = default_config();
    if (!config) return Err(ConfigError{config.error()});
    return std::move(config).value();
  }
  auto path = profile_path(home, *name);
  if (!path) return Err(ConfigError{path.error()});
  auto text = read_whole_file(path.value());
  if (!text) {
    if (text.error().kind == IoErrorKind::NotFound) {
      return Err(ConfigError{ConfigError::ProfileNotFound{std::string(*name)}});
    }
    return Err(ConfigError{text.error()});
  }
  if (!is_valid_utf8(text.value())) return Err(ConfigError{IoError::invalid_utf8()});
  if (trim_white_space(text.value()).empty()) return DaemonConfig{};
  auto config = daemon_config_from_yaml(text.value());
  if (!config) return Err(ConfigError{std::move(config.error())});
  return std::move(config).value();
}

}  // namespace data_daemon_shared
