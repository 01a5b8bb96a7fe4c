// Feeds arbitrary bytes to the three query-reply decoders. The first byte picks the decoder, so
// one corpus covers all three. A decoder must return a value or a decode error for every input,
// and what it returns must hold up: a decoded text is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data_daemon_shared/query.h"
#include "unicode_text.h"

using namespace data_daemon_shared;

namespace {

void check_text(const std::string& text) {
  if (!is_valid_utf8(text)) std::abort();
}

void check_error(const CodecError& error) {
  if (error.kind != CodecErrorKind::Decode) std::abort();
  if (codec_error_text(error).empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> reply(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      auto id = decode_recording_id_reply(reply);
      if (!id)
        check_error(id.error());
      else if (id.value())
        check_text(*id.value());
      break;
    }
    case 1: {
      auto health = decode_health_reply(reply);
      if (!health) check_error(health.error());
      break;
    }
    case 2: {
      auto version = decode_version_reply(reply);
      if (!version)
        check_error(version.error());
      else
        check_text(version.value().version);
      break;
    }
  }
  return 0;
}
