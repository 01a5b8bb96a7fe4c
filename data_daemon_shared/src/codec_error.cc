#include "data_daemon_shared/codec_error.h"

namespace data_daemon_shared {

namespace {

std::string code_text(uint8_t code) {
  switch (code) {
    case kCodeUnexpectedEnd: return "Hit the end of buffer, expected more data";
    case kCodeBadVarint:
      return "Found a varint that didn't terminate. Is the usize too big for this platform?";
    case kCodeBadUtf8: return "Tried to parse invalid utf-8";
    case kCodeBadOption: return "Found an Option discriminant that wasn't 0 or 1";
  }
  return "error code " + std::to_string(code);
}

}  // namespace

std::string codec_error_text(CodecError error) {
  const char* prefix = error.kind == CodecErrorKind::Decode ? "failed to decode envelope: "
                                                            : "failed to encode envelope: ";
  return prefix + code_text(error.code);
}

}  // namespace data_daemon_shared
