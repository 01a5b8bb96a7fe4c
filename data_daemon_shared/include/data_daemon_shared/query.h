// The payloads of the three questions the module asks the daemon: a recording's cloud id, its
// health, its version. Requests are encoded here, replies decoded; the daemon does the opposite.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "data_daemon_shared/codec_error.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// Names one recording: its source and the capture start that start_recording returned.
struct RecordingIdRequest {
  std::string robot_id;
  int64_t robot_instance = 0;
  int64_t timestamp_ns = 0;
};

struct HealthReply {
  uint32_t ready_value = 0;  // non-zero when the daemon is ready
  uint64_t request_id = 0;   // echoed

  friend bool operator==(const HealthReply&, const HealthReply&) = default;
};

// Note the field order: request_id first here, last in HealthReply.
struct VersionReply {
  uint64_t request_id = 0;  // echoed
  std::string version;

  friend bool operator==(const VersionReply&, const VersionReply&) = default;
};

Result<std::vector<uint8_t>, CodecError> encode_recording_id_request(
    const RecordingIdRequest& request);
// The health and version requests are the request id's varint alone.
Result<std::vector<uint8_t>, CodecError> encode_request_id(uint64_t request_id);

// The decoders read fields in wire order and ignore bytes left over after the last one. The
// returned texts are copies: the reply buffer may be released as soon as they return.
// Absent means the daemon has no id for the recording yet.
Result<std::optional<std::string>, CodecError> decode_recording_id_reply(
    std::span<const uint8_t> reply);
Result<HealthReply, CodecError> decode_health_reply(std::span<const uint8_t> reply);
Result<VersionReply, CodecError> decode_version_reply(std::span<const uint8_t> reply);

}  // namespace data_daemon_shared
