// Prints the envelopes of one recording start and stop, as the daemon receives them, in hex.
#include <cstdio>

#include "data_daemon_shared/envelope.h"

using namespace data_daemon_shared;

static void print(const char* label, const Envelope& envelope) {
  auto bytes = encode_envelope(envelope);
  if (!bytes) {
    std::printf("%s: %s\n", label, codec_error_text(bytes.error()).c_str());
    return;
  }
  std::printf("%-16s", label);
  for (uint8_t b : bytes.value()) std::printf(" %02X", b);
  std::printf("\n");
}

int main() {
  const int64_t start_ns = 1'765'000'000'000'000'000;
  print("StartRecording",
        StartRecording{"arm", 0, "demo arm", "d1", "demo set", start_ns, start_ns, std::nullopt});
  print("StopRecording", StopRecording{"arm", 0, start_ns + 5'000'000'000, start_ns + 5'000'000'000});
  return 0;
}
