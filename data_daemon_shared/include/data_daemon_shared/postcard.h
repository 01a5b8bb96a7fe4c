// The wire format's primitives: writers that append to a byte vector and a cursor that reads
// them back. Every message of the module (envelopes, query requests and replies) is built from
// these and from nothing else.
//
// The format carries no field names, tags or record lengths: records are their fields back to
// back, so the order of the put_* calls is the contract with the daemon.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data_daemon_shared/codec_error.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_shared::postcard {

using Bytes = std::vector<uint8_t>;

// Unsigned LEB128, shortest form: 7 bits a byte, least significant group first.
inline void put_varint(Bytes& out, uint64_t value) {
  uint8_t buf[10];
  size_t n = 0;
  while (value >= 0x80) {
    buf[n++] = static_cast<uint8_t>(value & 0x7F) | 0x80;
    value >>= 7;
  }
  buf[n++] = static_cast<uint8_t>(value);
  out.insert(out.end(), buf, buf + n);
}

// Signed values are zigzag-mapped so that small magnitudes of either sign stay short.
inline uint64_t zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

inline void put_zigzag(Bytes& out, int64_t value) { put_varint(out, zigzag(value)); }

// The IEEE 754 bit pattern, least significant byte first; NaN and infinities unchanged.
inline void put_f64(Bytes& out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  uint8_t buf[8];
  for (int i = 0; i < 8; ++i) buf[i] = static_cast<uint8_t>(bits >> (8 * i));
  out.insert(out.end(), buf, buf + 8);
}

inline void put_bytes(Bytes& out, std::span<const uint8_t> bytes) {
  put_varint(out, bytes.size());
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// REQUIRES: text is UTF-8 (it is not checked).
inline void put_text(Bytes& out, std::string_view text) {
  put_bytes(out, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// 00 when absent, else 01 and the value written by put_value(out, value).
template <class T, class PutValue>
void put_option(Bytes& out, const std::optional<T>& value, PutValue put_value) {
  if (!value) {
    out.push_back(0);
    return;
  }
  out.push_back(1);
  put_value(out, *value);
}

inline void put_optional_text(Bytes& out, const std::optional<std::string>& text) {
  put_option(out, text, [](Bytes& o, const std::string& t) { put_text(o, t); });
}

// The element count, then each element written by put_element(out, element).
template <class Sequence, class PutElement>
void put_sequence(Bytes& out, const Sequence& elements, PutElement put_element) {
  put_varint(out, std::size(elements));
  for (const auto& element : elements) put_element(out, element);
}

// Reads the primitives back from a borrowed buffer. Each read moves the cursor past what it
// consumed; a failed read leaves the cursor where it failed. The buffer must outlive the reader.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> input) : input_(input) {}

  // Up to 10 bytes; the 10th may only be 00 or 01. Non-minimal forms are accepted.
  Result<uint64_t, CodecError> u64() { return varint(10, 0x01); }
  // Up to 5 bytes; the 5th may be at most 0F.
  Result<uint32_t, CodecError> u32();
  // A zigzag-mapped varint (put_zigzag).
  Result<int64_t, CodecError> i64();
  // Eight bytes, least significant first (put_f64).
  Result<double, CodecError> f64();
  // A length-prefixed byte string, copied out of the buffer.
  Result<Bytes, CodecError> bytes();
  // A length-prefixed UTF-8 text (no overlongs, no surrogates, nothing above U+10FFFF), copied
  // out of the buffer.
  Result<std::string, CodecError> text();
  // The option tag: true when a value follows.
  Result<bool, CodecError> option_tag();

  size_t remaining() const { return input_.size() - pos_; }

 private:
  Result<uint64_t, CodecError> varint(size_t max_bytes, uint8_t max_last);

  std::span<const uint8_t> input_;
  size_t pos_ = 0;
};

inline CodecError decode_error(uint8_t code) { return {CodecErrorKind::Decode, code}; }

}  // namespace data_daemon_shared::postcard
