#include "dev_daemon/envelope_json.h"

#include <vector>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/postcard.h"
#include "dev_daemon/json.h"

namespace dev_daemon {

using data_daemon_shared::CodecError;
using data_daemon_shared::Err;
using data_daemon_shared::Result;
using data_daemon_shared::Unit;
using data_daemon_shared::postcard::Reader;

namespace {

enum class Kind { Text, I64, U32, U64, OptText, OptF64, Bytes, Samples, SeqI64, SeqF64, Dtype, SeqU32 };

struct Field {
  const char* name;
  Kind kind;
};

struct Variant {
  const char* name;
  std::vector<Field> fields;
};

// In wire-index order; mirrors the Envelope definition field by field.
const std::vector<Variant>& variants() {
  static const std::vector<Variant> table = {
      {"StartRecording",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"robot_name", Kind::OptText},
        {"dataset_id", Kind::OptText},
        {"dataset_name", Kind::OptText},
        {"publish_timestamp_ns", Kind::I64},
        {"timestamp_ns", Kind::I64},
        {"cloud_recording_id", Kind::OptText}}},
      {"StopRecording",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"publish_timestamp_ns", Kind::I64},
        {"timestamp_ns", Kind::I64}}},
      {"CancelRecording",
       {{"robot_id", Kind::Text}, {"robot_instance", Kind::I64}, {"timestamp_ns", Kind::I64}}},
      {"Data",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"data_type", Kind::Text},
        {"name", Kind::OptText},
        {"publish_timestamp_ns", Kind::I64},
        {"timestamp_ns", Kind::I64},
        {"timestamp_s", Kind::OptF64},
        {"payload", Kind::Bytes}}},
      {"BatchedData",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"data_type", Kind::Text},
        {"publish_timestamp_ns", Kind::I64},
        {"timestamp_ns", Kind::I64},
        {"timestamp_s", Kind::OptF64},
        {"samples", Kind::Samples}}},
      {"VideoChunkReady",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"data_type", Kind::Text},
        {"name", Kind::OptText},
        {"chunk_start_ns", Kind::I64},
        {"writer_thread_id", Kind::I64},
        {"producer_pid", Kind::U32},
        {"width", Kind::U32},
        {"height", Kind::U32},
        {"bytes_written", Kind::U64},
        {"frame_count", Kind::U32},
        {"frame_timestamps_ns", Kind::SeqI64},
        {"frame_timestamps_s", Kind::SeqF64},
        {"dtype", Kind::Dtype},
        {"frame_offsets_us", Kind::SeqU32}}},
      {"RefreshConfig", {}},
      {"SourceFlushed",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"publish_timestamp_ns", Kind::I64},
        {"producer_pid", Kind::U32}}},
      {"VideoHeartbeat",
       {{"robot_id", Kind::Text},
        {"robot_instance", Kind::I64},
        {"publish_timestamp_ns", Kind::I64},
        {"producer_pid", Kind::U32}}},
  };
  return table;
}

// Errors are display texts: codec errors by their own text.
using Step = Result<Unit, std::string>;

Err<std::string> failed(CodecError error) { return Err(data_daemon_shared::codec_error_text(error)); }

// Appends one value read by read(reader) as JSON through show(value).
template <class Read, class Show>
Step scalar(std::string& out, Read read, Show show) {
  auto value = read();
  if (!value) return failed(value.error());
  out += show(value.value());
  return Unit{};
}

std::string integer(auto v) { return std::to_string(v); }

template <class Element>
Step sequence(Reader& reader, std::string& out, Element element) {
  auto count = reader.u64();
  if (!count) return failed(count.error());
  out += "[";
  for (uint64_t i = 0; i < count.value(); ++i) {
    if (i > 0) out += ",";
    auto step = element();
    if (!step) return step;
  }
  out += "]";
  return Unit{};
}

template <class Present>
Step option(Reader& reader, std::string& out, Present present) {
  auto tag = reader.option_tag();
  if (!tag) return failed(tag.error());
  if (!tag.value()) {
    out += "null";
    return Unit{};
  }
  return present();
}

Step value(Reader& r, std::string& out, Kind kind) {
  auto text = [&] { return scalar(out, [&] { return r.text(); }, json_string); };
  auto i64 = [&] { return scalar(out, [&] { return r.i64(); }, integer<int64_t>); };
  auto u32 = [&] { return scalar(out, [&] { return r.u32(); }, integer<uint32_t>); };
  auto f64 = [&] { return scalar(out, [&] { return r.f64(); }, json_number); };
  auto bytes = [&] {
    return scalar(out, [&] { return r.bytes(); },
                  [](const std::vector<uint8_t>& b) { return json_hex(b); });
  };
  switch (kind) {
    case Kind::Text: return text();
    case Kind::I64: return i64();
    case Kind::U32: return u32();
    case Kind::U64: return scalar(out, [&] { return r.u64(); }, integer<uint64_t>);
    case Kind::OptText: return option(r, out, text);
    case Kind::OptF64: return option(r, out, f64);
    case Kind::Bytes: return bytes();
    case Kind::Samples:
      return sequence(r, out, [&]() -> Step {
        out += "{\"name\":";
        if (auto s = option(r, out, text); !s) return s;
        out += ",\"payload\":";
        if (auto s = bytes(); !s) return s;
        out += "}";
        return Unit{};
      });
    case Kind::SeqI64: return sequence(r, out, i64);
    case Kind::SeqF64: return sequence(r, out, f64);
    case Kind::SeqU32: return sequence(r, out, u32);
    case Kind::Dtype: {
      auto index = r.u32();
      if (!index) return failed(index.error());
      if (index.value() > 2) {
        return Err("unknown frame dtype index " + std::to_string(index.value()));
      }
      out += json_string(data_daemon_shared::frame_dtype_name(
          static_cast<data_daemon_shared::FrameDtype>(index.value())));
      return Unit{};
    }
  }
  return Unit{};
}

Result<std::string, std::string> decode(std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  auto index = reader.u32();
  if (!index) return failed(index.error());
  if (index.value() >= variants().size()) {
    return Err("unknown envelope variant index " + std::to_string(index.value()));
  }
  const Variant& variant = variants()[index.value()];
  std::string out = "{\"variant\":" + json_string(variant.name);
  for (const Field& field : variant.fields) {
    out += ",";
    out += json_string(field.name);
    out += ":";
    auto step = value(reader, out, field.kind);
    if (!step) return Err(step.error());
  }
  if (reader.remaining() > 0) {
    out += ",\"trailing\":" + json_hex(bytes.subspan(bytes.size() - reader.remaining()));
  }
  return out + "}";
}

}  // namespace

std::string envelope_json(std::span<const uint8_t> bytes) {
  auto decoded = decode(bytes);
  if (decoded) return std::move(decoded).value();
  return "{\"error\":" + json_string(decoded.error()) +
         ",\"bytes\":" + json_hex(bytes) + "}";
}

}  // namespace dev_daemon
