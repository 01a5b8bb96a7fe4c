// Arbitrary documents into the profile reader: every input gives a configuration or an error
// with a display text, never a crash. (Deeply nested flow collections are slow in the YAML
// parser itself, so scripts/fuzz.sh bounds the input length for this target.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "data_daemon_shared/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto config = data_daemon_shared::daemon_config_from_yaml(text);
  if (!config && config.error().display_text().empty()) std::abort();
  return 0;
}
