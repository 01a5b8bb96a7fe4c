// Arbitrary documents into the profile reader: every input gives a configuration or an error
// with a display text, never a crash, and in time linear in its length: scripts/fuzz.sh lets this
// target's inputs grow to 256 KiB and gives each a time-out of 10 s, which a parse whose time
// grows with the nesting depth exceeds (the seed of 200 KB of brackets took 12 s that way).
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
