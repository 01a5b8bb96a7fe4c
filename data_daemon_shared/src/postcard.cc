#include "data_daemon_shared/postcard.h"

#include "unicode_text.h"

namespace data_daemon_shared::postcard {

Result<uint64_t, CodecError> Reader::varint(size_t max_bytes, uint8_t max_last) {
  uint64_t value = 0;
  for (size_t i = 0; i < max_bytes; ++i) {
    if (pos_ == input_.size()) return Err(decode_error(kCodeUnexpectedEnd));
    const uint8_t byte = input_[pos_];
    if (i + 1 == max_bytes && byte > max_last) return Err(decode_error(kCodeBadVarint));
    ++pos_;
    value |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) return value;
  }
  // Unreachable: the last byte's bound (at most 0x0F or 0x01) has bit 7 clear.
  return Err(decode_error(kCodeBadVarint));
}

Result<uint32_t, CodecError> Reader::u32() {
  auto value = varint(5, 0x0F);
  if (!value) return Err(value.error());
  return static_cast<uint32_t>(value.value());
}

Result<int64_t, CodecError> Reader::i64() {
  auto value = u64();
  if (!value) return Err(value.error());
  const uint64_t v = value.value();
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

Result<double, CodecError> Reader::f64() {
  if (remaining() < 8) return Err(decode_error(kCodeUnexpectedEnd));
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(input_[pos_ + i]) << (8 * i);
  pos_ += 8;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

Result<Bytes, CodecError> Reader::bytes() {
  auto length = u64();
  if (!length) return Err(length.error());
  if (length.value() > remaining()) return Err(decode_error(kCodeUnexpectedEnd));
  const auto bytes = input_.subspan(pos_, length.value());
  pos_ += bytes.size();
  return Bytes(bytes.begin(), bytes.end());
}

Result<std::string, CodecError> Reader::text() {
  auto length = u64();
  if (!length) return Err(length.error());
  if (length.value() > remaining()) return Err(decode_error(kCodeUnexpectedEnd));
  const auto bytes = input_.subspan(pos_, length.value());
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!is_valid_utf8(text)) return Err(decode_error(kCodeBadUtf8));
  pos_ += bytes.size();
  return std::string(text);
}

Result<bool, CodecError> Reader::option_tag() {
  if (pos_ == input_.size()) return Err(decode_error(kCodeUnexpectedEnd));
  const uint8_t tag = input_[pos_];
  if (tag > 1) return Err(decode_error(kCodeBadOption));
  ++pos_;
  return tag == 1;
}

}  // namespace data_daemon_shared::postcard
