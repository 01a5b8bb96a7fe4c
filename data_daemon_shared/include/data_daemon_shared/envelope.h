// Envelope: every message this module sends the daemon on the commands service.
//
// The daemon reads purely by position: the variant index and the order of each variant's
// fields below are the contract, byte for byte. Every variant but RefreshConfig starts with the
// source identity (robot_id, robot_instance).
//
// Each record's fields are listed once more, with their names, in its for_each_field: C++ cannot
// walk a struct's members, so that list stands for the declaration wherever the fields are
// walked in wire order (the encoder, the decoder and the development daemon's printer).
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "data_daemon_shared/codec_error.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// Pixel format of a video frame. The enumerator values are the wire indices.
enum class FrameDtype : uint8_t { Rgb8 = 0, DepthF16 = 1, DepthF32 = 2 };

// 3, 2 or 4.
size_t bytes_per_pixel(FrameDtype dtype);
// "Rgb8", "DepthF16" or "DepthF32": how messages and log events show a dtype.
std::string_view frame_dtype_name(FrameDtype dtype);

// for_each_field(record, visit) calls visit(name, field) for every field of record, in wire
// order; field refers to the record's member and is const when record is. Each overload below
// takes its record type only (const or not), so that the lists sit beside their structs.
template <class Self, class Record>
concept RecordOf = std::same_as<std::remove_const_t<Self>, Record>;

// Wire index 0.
struct StartRecording {
  static constexpr std::string_view kName = "StartRecording";

  std::string robot_id;
  int64_t robot_instance = 0;
  std::optional<std::string> robot_name;
  std::optional<std::string> dataset_id;
  std::optional<std::string> dataset_name;
  int64_t publish_timestamp_ns = 0;  // lower bound of the recording window
  int64_t timestamp_ns = 0;          // capture start
  std::optional<std::string> cloud_recording_id;

  friend bool operator==(const StartRecording&, const StartRecording&) = default;
};

template <RecordOf<StartRecording> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("robot_name", e.robot_name);
  visit("dataset_id", e.dataset_id);
  visit("dataset_name", e.dataset_name);
  visit("publish_timestamp_ns", e.publish_timestamp_ns);
  visit("timestamp_ns", e.timestamp_ns);
  visit("cloud_recording_id", e.cloud_recording_id);
}

// Wire index 1.
struct StopRecording {
  static constexpr std::string_view kName = "StopRecording";

  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;  // upper bound of the recording window
  int64_t timestamp_ns = 0;          // capture stop

  friend bool operator==(const StopRecording&, const StopRecording&) = default;
};

template <RecordOf<StopRecording> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("publish_timestamp_ns", e.publish_timestamp_ns);
  visit("timestamp_ns", e.timestamp_ns);
}

// Wire index 2: a stop that discards the recording; no publish timestamp.
struct CancelRecording {
  static constexpr std::string_view kName = "CancelRecording";

  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t timestamp_ns = 0;

  friend bool operator==(const CancelRecording&, const CancelRecording&) = default;
};

template <RecordOf<CancelRecording> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("timestamp_ns", e.timestamp_ns);
}

// Wire index 3: one JSON sample.
struct Data {
  static constexpr std::string_view kName = "Data";

  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  std::optional<std::string> name;
  int64_t publish_timestamp_ns = 0;
  int64_t timestamp_ns = 0;
  std::optional<double> timestamp_s;
  std::vector<uint8_t> payload;  // already-serialised JSON, unchanged

  friend bool operator==(const Data&, const Data&) = default;
};

template <RecordOf<Data> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("data_type", e.data_type);
  visit("name", e.name);
  visit("publish_timestamp_ns", e.publish_timestamp_ns);
  visit("timestamp_ns", e.timestamp_ns);
  visit("timestamp_s", e.timestamp_s);
  visit("payload", e.payload);
}

// One entry of BatchedData.
struct BatchedSample {
  std::optional<std::string> name;
  std::vector<uint8_t> payload;  // JSON object {"timestamp": …, "value": …}

  friend bool operator==(const BatchedSample&, const BatchedSample&) = default;
};

template <RecordOf<BatchedSample> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("name", e.name);
  visit("payload", e.payload);
}

// Wire index 4: one joint frame; the names travel in the samples.
struct BatchedData {
  static constexpr std::string_view kName = "BatchedData";

  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  int64_t publish_timestamp_ns = 0;
  int64_t timestamp_ns = 0;
  std::optional<double> timestamp_s;
  std::vector<BatchedSample> samples;

  friend bool operator==(const BatchedData&, const BatchedData&) = default;
};

template <RecordOf<BatchedData> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("data_type", e.data_type);
  visit("publish_timestamp_ns", e.publish_timestamp_ns);
  visit("timestamp_ns", e.timestamp_ns);
  visit("timestamp_s", e.timestamp_s);
  visit("samples", e.samples);
}

// Wire index 5: a sealed chunk file. Note bytes_written between height and frame_count, and
// dtype between frame_timestamps_s and frame_offsets_us.
struct VideoChunkReady {
  static constexpr std::string_view kName = "VideoChunkReady";

  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  std::optional<std::string> name;
  int64_t chunk_start_ns = 0;
  int64_t writer_thread_id = 0;
  uint32_t producer_pid = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint64_t bytes_written = 0;
  uint32_t frame_count = 0;
  std::vector<int64_t> frame_timestamps_ns;
  std::vector<double> frame_timestamps_s;
  FrameDtype dtype = FrameDtype::Rgb8;
  std::vector<uint32_t> frame_offsets_us;

  friend bool operator==(const VideoChunkReady&, const VideoChunkReady&) = default;
};

template <RecordOf<VideoChunkReady> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("data_type", e.data_type);
  visit("name", e.name);
  visit("chunk_start_ns", e.chunk_start_ns);
  visit("writer_thread_id", e.writer_thread_id);
  visit("producer_pid", e.producer_pid);
  visit("width", e.width);
  visit("height", e.height);
  visit("bytes_written", e.bytes_written);
  visit("frame_count", e.frame_count);
  visit("frame_timestamps_ns", e.frame_timestamps_ns);
  visit("frame_timestamps_s", e.frame_timestamps_s);
  visit("dtype", e.dtype);
  visit("frame_offsets_us", e.frame_offsets_us);
}

// Wire index 6: no fields; encodes as the single byte 06.
struct RefreshConfig {
  static constexpr std::string_view kName = "RefreshConfig";

  friend bool operator==(const RefreshConfig&, const RefreshConfig&) = default;
};

template <RecordOf<RefreshConfig> Self, class Visit>
void for_each_field(Self&, Visit&&) {}

// Wire index 7: a flush barrier was served for the source.
struct SourceFlushed {
  static constexpr std::string_view kName = "SourceFlushed";

  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;
  uint32_t producer_pid = 0;

  friend bool operator==(const SourceFlushed&, const SourceFlushed&) = default;
};

template <RecordOf<SourceFlushed> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("publish_timestamp_ns", e.publish_timestamp_ns);
  visit("producer_pid", e.producer_pid);
}

// Wire index 8: the source is logging video.
struct VideoHeartbeat {
  static constexpr std::string_view kName = "VideoHeartbeat";

  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;
  uint32_t producer_pid = 0;

  friend bool operator==(const VideoHeartbeat&, const VideoHeartbeat&) = default;
};

template <RecordOf<VideoHeartbeat> Self, class Visit>
void for_each_field(Self& e, Visit&& visit) {
  visit("robot_id", e.robot_id);
  visit("robot_instance", e.robot_instance);
  visit("publish_timestamp_ns", e.publish_timestamp_ns);
  visit("producer_pid", e.producer_pid);
}

// The alternatives stand in wire-index order: Envelope::index() is the wire index.
using Envelope = std::variant<StartRecording, StopRecording, CancelRecording, Data, BatchedData,
                              VideoChunkReady, RefreshConfig, SourceFlushed, VideoHeartbeat>;

// The envelope's bytes, in one pass into one vector. Never fails in practice; callers still
// treat the result as one.
Result<std::vector<uint8_t>, CodecError> encode_envelope(const Envelope& envelope);

// Why bytes are not an envelope: a read failed (the input ended early, a varint ran too long, a
// text is not UTF-8, an option tag is neither 0 nor 1), or an index names no variant of Envelope
// or FrameDtype.
struct EnvelopeDecodeError {
  enum class Kind : uint8_t { Codec, UnknownVariant, UnknownDtype };

  Kind kind = Kind::Codec;
  CodecError codec{CodecErrorKind::Decode, 0};  // Kind::Codec: the failed read's error
  uint32_t index = 0;                           // otherwise: the index that was read

  static EnvelopeDecodeError read_failed(CodecError error);
  static EnvelopeDecodeError unknown_variant(uint32_t index);
  static EnvelopeDecodeError unknown_dtype(uint32_t index);

  // codec_error_text of the read's error, "unknown envelope variant index N" or "unknown frame
  // dtype index N".
  std::string display_text() const;

  friend bool operator==(const EnvelopeDecodeError&, const EnvelopeDecodeError&) = default;
};

struct DecodedEnvelope {
  Envelope envelope;
  // Bytes after the envelope's last field. An encoded envelope has none; the decoder leaves it to
  // the caller whether extra bytes are an error.
  size_t trailing = 0;
};

// Reads an envelope from the front of bytes, by the same field lists encode_envelope writes, so
// that decode_envelope(encode_envelope(e)) gives e back with trailing 0. Reads as the query
// replies do (postcard.h's Reader: non-minimal varints are accepted); the texts and byte strings
// are copies. The first failing read decides the error; nothing partly decoded is returned.
Result<DecodedEnvelope, EnvelopeDecodeError> decode_envelope(std::span<const uint8_t> bytes);

}  // namespace data_daemon_shared
