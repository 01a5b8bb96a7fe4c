// Envelope: every message this module sends the daemon on the commands service.
//
// The daemon reads purely by position: the variant index and the order of each variant's
// fields below are the contract, byte for byte. Every variant but RefreshConfig starts with the
// source identity (robot_id, robot_instance).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// Wire index 0.
struct StartRecording {
  std::string robot_id;
  int64_t robot_instance = 0;
  std::optional<std::string> robot_name;
  std::optional<std::string> dataset_id;
  std::optional<std::string> dataset_name;
  int64_t publish_timestamp_ns = 0;  // lower bound of the recording window
  int64_t timestamp_ns = 0;          // capture start
  std::optional<std::string> cloud_recording_id;
};

// Wire index 1.
struct StopRecording {
  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;  // upper bound of the recording window
  int64_t timestamp_ns = 0;          // capture stop
};

// Wire index 2: a stop that discards the recording; no publish timestamp.
struct CancelRecording {
  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t timestamp_ns = 0;
};

// Wire index 3: one JSON sample.
struct Data {
  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  std::optional<std::string> name;
  int64_t publish_timestamp_ns = 0;
  int64_t timestamp_ns = 0;
  std::optional<double> timestamp_s;
  std::vector<uint8_t> payload;  // already-serialised JSON, unchanged
};

// One entry of BatchedData.
struct BatchedSample {
  std::optional<std::string> name;
  std::vector<uint8_t> payload;  // JSON object {"timestamp": …, "value": …}
};

// Wire index 4: one joint frame; the names travel in the samples.
struct BatchedData {
  std::string robot_id;
  int64_t robot_instance = 0;
  std::string data_type;
  int64_t publish_timestamp_ns = 0;
  int64_t timestamp_ns = 0;
  std::optional<double> timestamp_s;
  std::vector<BatchedSample> samples;
};

// Wire index 5: a sealed chunk file. Note bytes_written between height and frame_count, and
// dtype between frame_timestamps_s and frame_offsets_us.
struct VideoChunkReady {
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
};

// Wire index 6: no fields; encodes as the single byte 06.
struct RefreshConfig {};

// Wire index 7: a flush barrier was served for the source.
struct SourceFlushed {
  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;
  uint32_t producer_pid = 0;
};

// Wire index 8: the source is logging video.
struct VideoHeartbeat {
  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;
  uint32_t producer_pid = 0;
};

// The alternatives stand in wire-index order: Envelope::index() is the wire index.
using Envelope = std::variant<StartRecording, StopRecording, CancelRecording, Data, BatchedData,
                              VideoChunkReady, RefreshConfig, SourceFlushed, VideoHeartbeat>;

// The envelope's bytes, in one pass into one vector. Never fails in practice; callers still
// treat the result as one.
Result<std::vector<uint8_t>, CodecError> encode_envelope(const Envelope& envelope);

}  // namespace data_daemon_shared
