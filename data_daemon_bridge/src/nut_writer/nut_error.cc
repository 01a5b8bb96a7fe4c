#include "nut_writer/nut_error.h"

namespace data_daemon_bridge {

NutError NutError::invalid_config(std::string_view message) {
  return NutError{Kind::InvalidConfig, std::string(message), {}, {}};
}

NutError NutError::open(std::filesystem::path path, std::string system_error) {
  return NutError{Kind::Open, {}, std::move(path), std::move(system_error)};
}

NutError NutError::write(std::filesystem::path path, std::string system_error) {
  return NutError{Kind::Write, {}, std::move(path), std::move(system_error)};
}

std::string nut_error_text(const NutError& error) {
  switch (error.kind) {
    case NutError::Kind::InvalidConfig: return "invalid NUT configuration: " + error.message;
    case NutError::Kind::Open:
      return "failed to open NUT file " + error.path.string() + ": " + error.system_error;
    case NutError::Kind::Write:
      return "failed to write NUT file " + error.path.string() + ": " + error.system_error;
  }
  return {};
}

}  // namespace data_daemon_bridge
