#include "publisher/sample_envelopes.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "events/events.h"

namespace data_daemon_bridge {
namespace {

using namespace std::string_literals;

JointFrame frame(std::string names, std::vector<double> values) {
  JointFrame f;
  f.robot_id = "arm";
  f.robot_instance = -3;
  f.data_type = "joint_positions";
  f.names = std::move(names);
  f.values = std::move(values);
  f.timestamp_ns = 2'000'000'000;
  f.publish_timestamp_ns = 2'000'000'100;
  return f;
}

// "name=payload" per sample.
std::vector<std::string> samples_of(const data_daemon_shared::BatchedData& batch) {
  std::vector<std::string> out;
  for (const auto& s : batch.samples) {
    EXPECT_TRUE(s.name.has_value());
    out.push_back(s.name.value_or("<absent>") + "=" +
                  std::string(s.payload.begin(), s.payload.end()));
  }
  return out;
}

TEST(JointFrameEnvelope, OneBatchWithTheFramesFieldsAndOneSampleAJoint) {
  const auto batch = joint_frame_envelope(frame("j1\0j2"s, {0.5, -1.0}));
  EXPECT_EQ(batch.robot_id, "arm");
  EXPECT_EQ(batch.robot_instance, -3);
  EXPECT_EQ(batch.data_type, "joint_positions");
  EXPECT_EQ(batch.timestamp_ns, 2'000'000'000);
  EXPECT_EQ(batch.publish_timestamp_ns, 2'000'000'100);
  EXPECT_FALSE(batch.timestamp_s.has_value());
  EXPECT_EQ(samples_of(batch), (std::vector<std::string>{
                                   R"(j1={"timestamp":2.0,"value":0.5})",
                                   R"(j2={"timestamp":2.0,"value":-1.0})",
                               }));

  // The caller's seconds win over timestamp_ns and travel unchanged.
  auto with_seconds = frame("j1\0j2"s, {0.5, std::numeric_limits<double>::infinity()});
  with_seconds.timestamp_s = 12.5;
  const auto batch2 = joint_frame_envelope(std::move(with_seconds));
  EXPECT_EQ(batch2.timestamp_s, 12.5);
  EXPECT_EQ(samples_of(batch2), (std::vector<std::string>{
                                    R"(j1={"timestamp":12.5,"value":0.5})",
                                    R"(j2={"timestamp":12.5,"value":null})",
                                }));
}

TEST(JointFrameEnvelope, PairsNamesWithValuesUntilEitherRunsOut) {
  const struct {
    std::string names;
    std::vector<double> values;
    std::vector<std::string> expected_names;
  } cases[] = {
      {"", {3}, {""}},
      {"a\0\0b"s, {1, 2, 3}, {"a", "", "b"}},
      {"a\0b\0"s, {1, 2, 3}, {"a", "b", ""}},
      {"\0a"s, {1, 2}, {"", "a"}},
      {"a\0b\0c"s, {1}, {"a"}},
      {"a", {1, 2, 3}, {"a"}},
      {"a\0b"s, {}, {}},
  };
  for (const auto& c : cases) {
    const auto batch = joint_frame_envelope(frame(c.names, c.values));
    std::vector<std::string> names;
    for (const auto& s : batch.samples) names.push_back(s.name.value_or("<absent>"));
    EXPECT_EQ(names, c.expected_names) << "names of " << c.names.size() << " bytes";
    // Values stay in order with their names.
    for (size_t i = 0; i < batch.samples.size(); ++i) {
      const std::string payload(batch.samples[i].payload.begin(), batch.samples[i].payload.end());
      EXPECT_NE(payload.find("\"value\":" + std::to_string(int(c.values[i])) + ".0}"),
                std::string::npos)
          << payload;
    }
  }
}

TEST(JsonSampleEnvelope, CarriesTheCallersBytesUnchanged) {
  const std::vector<std::vector<uint8_t>> payloads = {
      {},
      {'{', '}'},
      {0xFF, 0x00, 'n', 'o', 't', ' ', 'j', 's', 'o', 'n'},
  };
  for (const auto& payload : payloads) {
    JsonSample sample;
    sample.robot_id = "arm";
    sample.robot_instance = 7;
    sample.data_type = "custom";
    sample.name = "pose";
    sample.payload = payload;
    sample.timestamp_ns = 5;
    sample.publish_timestamp_ns = 6;
    const auto data = json_sample_envelope(std::move(sample));
    EXPECT_EQ(data.payload, payload);
    EXPECT_EQ(data.robot_id, "arm");
    EXPECT_EQ(data.robot_instance, 7);
    EXPECT_EQ(data.data_type, "custom");
    EXPECT_EQ(data.name, "pose");
    EXPECT_EQ(data.timestamp_ns, 5);
    EXPECT_EQ(data.publish_timestamp_ns, 6);
    EXPECT_FALSE(data.timestamp_s.has_value());
  }
}

}  // namespace
}  // namespace data_daemon_bridge
