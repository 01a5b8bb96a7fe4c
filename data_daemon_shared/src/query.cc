#include "data_daemon_shared/query.h"

#include "data_daemon_shared/postcard.h"

namespace data_daemon_shared {

using namespace postcard;

Result<std::vector<uint8_t>, CodecError> encode_recording_id_request(
    const RecordingIdRequest& request) {
  Bytes out;
  put_text(out, request.robot_id);
  put_zigzag(out, request.robot_instance);
  put_zigzag(out, request.timestamp_ns);
  return out;
}

Result<std::vector<uint8_t>, CodecError> encode_request_id(uint64_t request_id) {
  Bytes out;
  put_varint(out, request_id);
  return out;
}

Result<std::optional<std::string>, CodecError> decode_recording_id_reply(
    std::span<const uint8_t> reply) {
  Reader reader(reply);
  auto present = reader.option_tag();
  if (!present) return Err(present.error());
  if (!present.value()) return std::optional<std::string>();
  auto text = reader.text();
  if (!text) return Err(text.error());
  return std::optional<std::string>(std::move(text).value());
}

Result<HealthReply, CodecError> decode_health_reply(std::span<const uint8_t> reply) {
  Reader reader(reply);
  auto ready_value = reader.u32();
  if (!ready_value) return Err(ready_value.error());
  auto request_id = reader.u64();
  if (!request_id) return Err(request_id.error());
  return HealthReply{ready_value.value(), request_id.value()};
}

Result<VersionReply, CodecError> decode_version_reply(std::span<const uint8_t> reply) {
  Reader reader(reply);
  auto request_id = reader.u64();
  if (!request_id) return Err(request_id.error());
  auto version = reader.text();
  if (!version) return Err(version.error());
  return VersionReply{request_id.value(), std::move(version).value()};
}

}  // namespace data_daemon_shared
