// CodecError: the failure of one encode or decode step, with the wire format's error code.
#pragma once

#include <cstdint>
#include <string>

namespace data_daemon_shared {

enum class CodecErrorKind : uint8_t { Encode = 0, Decode = 1 };

// The wire format's error codes this module can produce (all on decoding).
enum CodecErrorCode : uint8_t {
  kCodeUnexpectedEnd = 4,
  kCodeBadVarint = 5,
  kCodeBadUtf8 = 8,
  kCodeBadOption = 9,
};

struct CodecError {
  CodecErrorKind kind;
  uint8_t code;

  friend bool operator==(const CodecError&, const CodecError&) = default;
};

// "failed to decode envelope: {}" or "failed to encode envelope: {}" with the code's own text.
// The word "envelope" stands also for query replies: the daemon side reads the text that way.
std::string codec_error_text(CodecError error);

}  // namespace data_daemon_shared
