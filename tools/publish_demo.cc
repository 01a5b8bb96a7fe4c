// Publishes the envelopes of one short recording through the command link, as the module does:
// start, a JSON sample, a joint frame, stop. Run a daemon first (dev_daemon, say); with none
// listening the first publish fails after 5 s.
#include <cstdio>

#include "data_daemon_shared/envelope.h"
#include "publisher/publish.h"
#include "publisher/publish_clock.h"

using namespace data_daemon_shared;
using namespace data_daemon_bridge;

int main() {
  const int64_t start_ns = publish_clock_ns();
  const std::string json = R"({"battery":0.87})";
  const std::string joint = R"({"timestamp":1.5,"value":0.25})";
  const Envelope envelopes[] = {
      StartRecording{"arm", 0, "demo arm", "d1", "demo set", start_ns, start_ns, std::nullopt},
      Data{"arm", 0, "json", "status", publish_clock_ns(), start_ns, std::nullopt,
           std::vector<uint8_t>(json.begin(), json.end())},
      BatchedData{"arm", 0, "joint_positions", publish_clock_ns(), start_ns, 1.5,
                  {BatchedSample{"elbow", std::vector<uint8_t>(joint.begin(), joint.end())}}},
      StopRecording{"arm", 0, publish_clock_ns(), start_ns + 1'000'000'000},
  };
  for (const auto& envelope : envelopes) {
    auto published = publish_envelope(envelope);
    if (!published) {
      std::fprintf(stderr, "publish_demo: %s\n", publisher_error_text(published.error()).c_str());
      return 1;
    }
  }
  std::printf("publish_demo: published %zu envelopes\n", std::size(envelopes));
  return 0;
}
