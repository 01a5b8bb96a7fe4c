// The joint-sample JSON the daemon reads inside BatchedData: {"timestamp":T,"value":V}, UTF-8,
// no whitespace, at most 71 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data_daemon_shared/result.h"

namespace data_daemon_bridge {

// Appends the JSON text of x: null when x is NaN or infinite; otherwise the shortest digits
// that read back as exactly x, laid out plainly for decimal exponents -5 to 15 (always with a
// fraction: 1.0, 100.0, 0.00001, -0.0) and in scientific form otherwise (1e+16, 1.5e-7).
// Returns false, leaving `out` unchanged, only if the digits cannot be produced.
[[nodiscard]] bool append_json_number(std::string& out, double x);

// The object for one joint. Fails only if the number formatting itself fails, which the
// buffer sizes rule out; callers still treat the result as one.
data_daemon_shared::Result<std::vector<uint8_t>, std::string> render_joint_sample_json(
    double timestamp, double value);

}  // namespace data_daemon_bridge
