// Feeds arbitrary bytes to the envelope decoder. It must return an envelope or an error for every
// input, and an envelope it returns must survive the encoder: encoding it and decoding that gives
// the same bytes again, with nothing left over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data_daemon_shared/envelope.h"

using namespace data_daemon_shared;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto decoded = decode_envelope(std::span(data, size));
  if (!decoded) {
    if (decoded.error().display_text().empty()) std::abort();
    return 0;
  }
  if (decoded.value().trailing > size) std::abort();
  const auto bytes = encode_envelope(decoded.value().envelope).value();
  auto again = decode_envelope(bytes);
  if (!again || again.value().trailing != 0) std::abort();
  if (encode_envelope(again.value().envelope).value() != bytes) std::abort();
  return 0;
}
