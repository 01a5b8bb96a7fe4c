#include "env_var.h"

#include <cstdlib>

#include "unicode_text.h"

namespace data_daemon_shared {

std::optional<std::string> env_bytes(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::optional<std::string> env_text(const char* name) {
  auto value = env_bytes(name);
  if (value && !is_valid_utf8(*value)) return std::nullopt;
  return value;
}

}  // namespace data_daemon_shared
