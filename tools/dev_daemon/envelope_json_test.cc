#include "dev_daemon/envelope_json.h"

#include <cmath>

#include "data_daemon_shared/envelope.h"
#include "gtest/gtest.h"

namespace dev_daemon {
namespace {

using namespace data_daemon_shared;

std::vector<uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

std::string json_of(const Envelope& envelope) {
  return envelope_json(encode_envelope(envelope).value());
}

TEST(EnvelopeJson, EveryVariantPrintsItsFieldsInWireOrder) {
  const struct {
    Envelope envelope;
    const char* json;
  } cases[] = {
      {StartRecording{"arm", -3, "demo \"arm\"", std::nullopt, "set", 10, 11, "cloud-1"},
       R"({"variant":"StartRecording","robot_id":"arm","robot_instance":-3,)"
       R"("robot_name":"demo \"arm\"","dataset_id":null,"dataset_name":"set",)"
       R"("publish_timestamp_ns":10,"timestamp_ns":11,"cloud_recording_id":"cloud-1"})"},
      {StopRecording{"arm", 0, INT64_MIN, INT64_MAX},
       R"({"variant":"StopRecording","robot_id":"arm","robot_instance":0,)"
       R"("publish_timestamp_ns":-9223372036854775808,"timestamp_ns":9223372036854775807})"},
      {CancelRecording{"arm", 1, 5},
       R"({"variant":"CancelRecording","robot_id":"arm","robot_instance":1,"timestamp_ns":5})"},
      {Data{"arm", 0, "json", "status", 1, 2, 0.5, bytes_of("{}")},
       R"({"variant":"Data","robot_id":"arm","robot_instance":0,"data_type":"json",)"
       R"("name":"status","publish_timestamp_ns":1,"timestamp_ns":2,"timestamp_s":0.5,)"
       R"("payload":"7b7d"})"},
      {BatchedData{
           "arm", 0, "joints", 1, 2, std::nullopt, {{"elbow", bytes_of("1")}, {std::nullopt, {}}}},
       R"({"variant":"BatchedData","robot_id":"arm","robot_instance":0,"data_type":"joints",)"
       R"("publish_timestamp_ns":1,"timestamp_ns":2,"timestamp_s":null,"samples":)"
       R"([{"name":"elbow","payload":"31"},{"name":null,"payload":""}]})"},
      {VideoChunkReady{"arm",
                       0,
                       "rgb",
                       "cam",
                       100,
                       7,
                       42,
                       640,
                       480,
                       123456,
                       2,
                       {100, 200},
                       {0.1, NAN},
                       FrameDtype::DepthF16,
                       {0, 100000}},
       R"({"variant":"VideoChunkReady","robot_id":"arm","robot_instance":0,"data_type":"rgb",)"
       R"("name":"cam","chunk_start_ns":100,"writer_thread_id":7,"producer_pid":42,)"
       R"("width":640,"height":480,"bytes_written":123456,"frame_count":2,)"
       R"("frame_timestamps_ns":[100,200],"frame_timestamps_s":[0.1,NaN],"dtype":"DepthF16",)"
       R"("frame_offsets_us":[0,100000]})"},
      {RefreshConfig{}, R"({"variant":"RefreshConfig"})"},
      {SourceFlushed{"arm", 0, 9, 42},
       R"({"variant":"SourceFlushed","robot_id":"arm","robot_instance":0,)"
       R"("publish_timestamp_ns":9,"producer_pid":42})"},
      {VideoHeartbeat{"arm", 0, 9, 42},
       R"({"variant":"VideoHeartbeat","robot_id":"arm","robot_instance":0,)"
       R"("publish_timestamp_ns":9,"producer_pid":42})"},
  };
  for (const auto& c : cases) EXPECT_EQ(json_of(c.envelope), c.json);
}

TEST(EnvelopeJson, WhatDoesNotDecodeIsShownWithItsBytes) {
  const struct {
    std::vector<uint8_t> bytes;
    const char* json;
  } cases[] = {
      {{},
       R"({"error":"failed to decode envelope: Hit the end of buffer, expected more data","bytes":""})"},
      {{0x09}, R"({"error":"unknown envelope variant index 9","bytes":"09"})"},
      {{0x02, 0x01, 'a', 0x00},
       R"({"error":"failed to decode envelope: Hit the end of buffer, expected more data","bytes":"02016100"})"},
      {{0x06, 0xAB}, R"({"variant":"RefreshConfig","trailing":"ab"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(envelope_json(c.bytes), c.json);
}

}  // namespace
}  // namespace dev_daemon
