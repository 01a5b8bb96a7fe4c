// The eleven fields of DaemonConfig with their profile keys and environment variables, in
// declaration order: the one table the environment and the profile readers share.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "data_daemon_shared/config.h"

namespace data_daemon_shared {

enum class FieldKind { Size, Integer, Boolean, Text };

struct ConfigField {
  std::string_view key;
  const char* env_var;
  FieldKind kind;
  // The member the field fills: integer for Size and Integer, boolean and text for the others.
  std::optional<int64_t> DaemonConfig::*integer = nullptr;
  std::optional<bool> DaemonConfig::*boolean = nullptr;
  std::optional<std::string> DaemonConfig::*text = nullptr;
};

extern const std::array<ConfigField, 11> kConfigFields;

}  // namespace data_daemon_shared
