#include "data_daemon_shared/envelope.h"

#include <type_traits>

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

void put_source(Bytes& out, const std::string& robot_id, int64_t robot_instance) {
  put_text(out, robot_id);
  put_zigzag(out, robot_instance);
}

void put_optional_f64(Bytes& out, const std::optional<double>& value) {
  put_option(out, value, put_f64);
}

void put_fields(Bytes& out, const StartRecording& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_optional_text(out, e.robot_name);
  put_optional_text(out, e.dataset_id);
  put_optional_text(out, e.dataset_name);
  put_zigzag(out, e.publish_timestamp_ns);
  put_zigzag(out, e.timestamp_ns);
  put_optional_text(out, e.cloud_recording_id);
}

void put_fields(Bytes& out, const StopRecording& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_zigzag(out, e.publish_timestamp_ns);
  put_zigzag(out, e.timestamp_ns);
}

void put_fields(Bytes& out, const CancelRecording& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_zigzag(out, e.timestamp_ns);
}

void put_fields(Bytes& out, const Data& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_text(out, e.data_type);
  put_optional_text(out, e.name);
  put_zigzag(out, e.publish_timestamp_ns);
  put_zigzag(out, e.timestamp_ns);
  put_optional_f64(out, e.timestamp_s);
  put_bytes(out, e.payload);
}

void put_fields(Bytes& out, const BatchedData& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_text(out, e.data_type);
  put_zigzag(out, e.publish_timestamp_ns);
  put_zigzag(out, e.timestamp_ns);
  put_optional_f64(out, e.timestamp_s);
  put_sequence(out, e.samples, [](Bytes& o, const BatchedSample& s) {
    put_optional_text(o, s.name);
    put_bytes(o, s.payload);
  });
}

void put_fields(Bytes& out, const VideoChunkReady& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_text(out, e.data_type);
  put_optional_text(out, e.name);
  put_zigzag(out, e.chunk_start_ns);
  put_zigzag(out, e.writer_thread_id);
  put_varint(out, e.producer_pid);
  put_varint(out, e.width);
  put_varint(out, e.height);
  put_varint(out, e.bytes_written);
  put_varint(out, e.frame_count);
  put_sequence(out, e.frame_timestamps_ns, put_zigzag);
  put_sequence(out, e.frame_timestamps_s, put_f64);
  put_varint(out, static_cast<uint8_t>(e.dtype));
  put_sequence(out, e.frame_offsets_us, [](Bytes& o, uint32_t v) { put_varint(o, v); });
}

void put_fields(Bytes&, const RefreshConfig&) {}

void put_fields(Bytes& out, const SourceFlushed& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_zigzag(out, e.publish_timestamp_ns);
  put_varint(out, e.producer_pid);
}

void put_fields(Bytes& out, const VideoHeartbeat& e) {
  put_source(out, e.robot_id, e.robot_instance);
  put_zigzag(out, e.publish_timestamp_ns);
  put_varint(out, e.producer_pid);
}

}  // namespace

Result<std::vector<uint8_t>, CodecError> encode_envelope(const Envelope& envelope) {
  Bytes out;
  put_varint(out, envelope.index());
  std::visit([&out](const auto& variant) { put_fields(out, variant); }, envelope);
  return out;
}

}  // namespace data_daemon_shared
