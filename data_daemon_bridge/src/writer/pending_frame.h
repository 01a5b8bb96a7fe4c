// PendingFrame: a frame whose PNG has been asked for and which is not written yet. The fields of
// its VideoFrame without the pixels, which went to the PNG job, plus the slot the PNG comes back
// in. Private to the writer thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "data_daemon_shared/envelope.h"
#include "writer/png_jobs.h"

namespace data_daemon_bridge {

struct PendingFrame {
  std::string robot_id;
  std::string data_type;
  std::string name;  // the sensor name
  int64_t robot_instance = 0;
  int64_t publish_timestamp_ns = 0;
  int64_t timestamp_ns = 0;
  double timestamp_s = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  data_daemon_shared::FrameDtype dtype = data_daemon_shared::FrameDtype::Rgb8;
  std::shared_ptr<PngResultSlot> slot;
};

}  // namespace data_daemon_bridge
