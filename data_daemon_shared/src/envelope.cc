#include "data_daemon_shared/envelope.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "data_daemon_shared/postcard.h"

namespace data_daemon_shared {

using namespace postcard;

size_t bytes_per_pixel(FrameDtype dtype) {
  switch (dtype) {
    case FrameDtype::Rgb8: return 3;
    case FrameDtype::DepthF16: return 2;
    case FrameDtype::DepthF32: return 4;
  }
  return 0;
}

std::string_view frame_dtype_name(FrameDtype dtype) {
  switch (dtype) {
    case FrameDtype::Rgb8: return "Rgb8";
    case FrameDtype::DepthF16: return "DepthF16";
    case FrameDtype::DepthF32: return "DepthF32";
  }
  return "";
}

namespace {

// A field is written by its C++ type: i64 zigzag, u32 and u64 plain varints, f64 as its bit
// pattern, texts and byte strings length-prefixed, a dtype as its index.
void put(Bytes& out, const std::string& text) { put_text(out, text); }
void put(Bytes& out, int64_t value) { put_zigzag(out, value); }
void put(Bytes& out, uint32_t value) { put_varint(out, value); }
void put(Bytes& out, uint64_t value) { put_varint(out, value); }
void put(Bytes& out, double value) { put_f64(out, value); }
void put(Bytes& out, FrameDtype dtype) { put_varint(out, static_cast<uint8_t>(dtype)); }
void put(Bytes& out, const std::vector<uint8_t>& bytes) { put_bytes(out, bytes); }
void put(Bytes& out, const BatchedSample& sample);

template <class T>
void put(Bytes& out, const std::optional<T>& value) {
  put_option(out, value, [](Bytes& o, const T& v) { put(o, v); });
}

template <class T>
void put(Bytes& out, const std::vector<T>& elements) {
  put_sequence(out, elements, [](Bytes& o, const T& element) { put(o, element); });
}

template <class Record>
void put_fields(Bytes& out, const Record& record) {
  for_each_field(record, [&out](std::string_view, const auto& field) { put(out, field); });
}

void put(Bytes& out, const BatchedSample& sample) { put_fields(out, sample); }

// Reads fields by the same types into a record. The first failed read is kept and every read
// after it does nothing, so a walk over a field list ends early in effect.
class FieldReader {
 public:
  explicit FieldReader(Reader& reader) : reader_(reader) {}

  template <class T>
  void operator()(std::string_view, T& field) {
    read(field);
  }

  const std::optional<EnvelopeDecodeError>& error() const { return error_; }

 private:
  // Reads one value with the reader's `read`, unless a read has failed already.
  template <class T>
  void take(Result<T, CodecError> (Reader::*read)(), T& out) {
    if (error_) return;
    auto value = (reader_.*read)();
    if (value) {
      out = std::move(value).value();
    } else {
      error_ = EnvelopeDecodeError::read_failed(value.error());
    }
  }

  void read(std::string& out) { take(&Reader::text, out); }
  void read(int64_t& out) { take(&Reader::i64, out); }
  void read(uint32_t& out) { take(&Reader::u32, out); }
  void read(uint64_t& out) { take(&Reader::u64, out); }
  void read(double& out) { take(&Reader::f64, out); }
  void read(std::vector<uint8_t>& out) { take(&Reader::bytes, out); }

  void read(FrameDtype& out) {
    uint32_t index = 0;
    read(index);
    if (error_) return;
    if (index > static_cast<uint32_t>(FrameDtype::DepthF32)) {
      error_ = EnvelopeDecodeError::unknown_dtype(index);
      return;
    }
    out = static_cast<FrameDtype>(index);
  }

  template <class T>
  void read(std::optional<T>& out) {
    bool present = false;
    take(&Reader::option_tag, present);
    if (error_ || !present) return;
    read(out.emplace());
  }

  template <class T>
  void read(std::vector<T>& out) {
    uint64_t count = 0;
    read(count);
    if (error_) return;
    // Every element takes at least one byte: a count beyond the input is not trusted for memory.
    out.reserve(static_cast<size_t>(std::min<uint64_t>(count, reader_.remaining())));
    for (uint64_t i = 0; i < count && !error_; ++i) read(out.emplace_back());
  }

  void read(BatchedSample& out) { for_each_field(out, *this); }

  Reader& reader_;
  std::optional<EnvelopeDecodeError> error_;
};

// The envelope of wire index `index` with every field at its default, or none past the last.
template <size_t... I>
std::optional<Envelope> blank_envelope(uint32_t index, std::index_sequence<I...>) {
  std::optional<Envelope> out;
  static_cast<void>(((index == I ? (out.emplace(std::in_place_index<I>), true) : false) || ...));
  return out;
}

}  // namespace

EnvelopeDecodeError EnvelopeDecodeError::read_failed(CodecError error) {
  return {Kind::Codec, error, 0};
}

EnvelopeDecodeError EnvelopeDecodeError::unknown_variant(uint32_t index) {
  return {Kind::UnknownVariant, {CodecErrorKind::Decode, 0}, index};
}

EnvelopeDecodeError EnvelopeDecodeError::unknown_dtype(uint32_t index) {
  return {Kind::UnknownDtype, {CodecErrorKind::Decode, 0}, index};
}

std::string EnvelopeDecodeError::display_text() const {
  switch (kind) {
    case Kind::Codec: return codec_error_text(codec);
    case Kind::UnknownVariant: return "unknown envelope variant index " + std::to_string(index);
    case Kind::UnknownDtype: return "unknown frame dtype index " + std::to_string(index);
  }
  return "";
}

Result<std::vector<uint8_t>, CodecError> encode_envelope(const Envelope& envelope) {
  Bytes out;
  put_varint(out, envelope.index());
  std::visit([&out](const auto& variant) { put_fields(out, variant); }, envelope);
  return out;
}

Result<DecodedEnvelope, EnvelopeDecodeError> decode_envelope(std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  auto index = reader.u32();
  if (!index) return Err(EnvelopeDecodeError::read_failed(index.error()));
  auto envelope =
      blank_envelope(index.value(), std::make_index_sequence<std::variant_size_v<Envelope>>());
  if (!envelope) return Err(EnvelopeDecodeError::unknown_variant(index.value()));
  FieldReader fields(reader);
  std::visit([&fields](auto& variant) { for_each_field(variant, fields); }, *envelope);
  if (fields.error()) return Err(*fields.error());
  return DecodedEnvelope{std::move(*envelope), reader.remaining()};
}

}  // namespace data_daemon_shared
