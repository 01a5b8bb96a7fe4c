// The development daemon's view of a received envelope: one JSON object on one line.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace dev_daemon {

// {"variant":"StopRecording","robot_id":"arm","robot_instance":0,...}: the variant's name first,
// then every field in wire order under its name. Byte strings are lower-case hex; optional
// fields are null when absent; BatchedData's samples are a list of {"name","payload"} objects;
// a frame dtype is its name ("Rgb8"). Bytes left over after the last field appear as "trailing"
// (hex). An envelope that does not decode gives {"error":"<why>","bytes":"<hex>"}, <why> being
// the codec error's text or the unknown variant or dtype index.
std::string envelope_json(std::span<const uint8_t> bytes);

}  // namespace dev_daemon
