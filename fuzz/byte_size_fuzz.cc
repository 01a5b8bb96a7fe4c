// Arbitrary text into the byte-size parser: it must return a value or one of its error texts for
// every input, and an error text always quotes the input as given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "data_daemon_shared/byte_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  auto parsed = data_daemon_shared::parse_byte_size(input);
  if (!parsed && parsed.error().find("'" + input + "'") == std::string::npos) std::abort();
  return 0;
}
