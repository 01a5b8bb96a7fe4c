// PendingFrame: a frame whose PNG has been asked for and which is not written yet: the metadata
// of its VideoFrame, whose pixels went to the PNG job, and the slot the PNG comes back in.
// Private to the writer thread.
#pragma once

#include <memory>

#include "writer/frame_meta.h"
#include "writer/png_jobs.h"

namespace data_daemon_bridge {

struct PendingFrame {
  FrameMeta meta;
  std::shared_ptr<PngResultSlot> slot;
};

}  // namespace data_daemon_bridge
