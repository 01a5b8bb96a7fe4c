// Reading the process environment. Every read is fresh: nothing is cached.
#pragma once

#include <optional>
#include <string>

namespace data_daemon_shared {

// The variable's value when it is set, valid UTF-8 and non-empty; otherwise none.
std::optional<std::string> env_text(const char* name);

// The variable's value when it is set and non-empty, whatever its bytes; otherwise none.
std::optional<std::string> env_bytes(const char* name);

}  // namespace data_daemon_shared
