// Helpers of the video writer tests: one recordings root for the whole test process, a capture
// of the records the writer sends to the daemon, and frame builders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "data_daemon_shared/envelope.h"
#include "writer/frame_meta.h"
#include "writer/writer_job.h"

namespace data_daemon_bridge::testing {

// The recordings root of this test process: a fresh temporary directory, put into the
// environment before the process resolves its root. Call it before anything resolves the root.
const std::filesystem::path& test_recordings_root();

// The directory of a stream's chunk files under test_recordings_root().
std::filesystem::path stream_dir(const std::string& robot_id, int64_t robot_instance,
                                 const std::string& data_type, const std::string& name);

// The chunk files in a directory, sorted by name.
std::vector<std::filesystem::path> chunk_files(const std::filesystem::path& dir);

// Captures every record the video pipeline sends, from any thread, while it lives.
class RecordCapture {
 public:
  RecordCapture();
  ~RecordCapture();
  RecordCapture(const RecordCapture&) = delete;
  RecordCapture& operator=(const RecordCapture&) = delete;

  // The records captured so far, removed from the capture.
  std::vector<data_daemon_shared::Envelope> take();
  // Likewise, keeping only those of one robot: what other tests left open may be sealed by a
  // sweep meanwhile.
  std::vector<data_daemon_shared::Envelope> take(const std::string& robot_id);
};

// The announcements among records, in order.
std::vector<data_daemon_shared::VideoChunkReady> chunk_records(
    const std::vector<data_daemon_shared::Envelope>& records);

// The metadata of a frame of a stream of robot "r", instance 1, with the given timing, as the
// writer hands it to write_stream_frame.
FrameMeta frame_meta(const std::string& name, int64_t publish_timestamp_ns, int64_t timestamp_ns,
                     uint32_t width = 4, uint32_t height = 2,
                     data_daemon_shared::FrameDtype dtype = data_daemon_shared::FrameDtype::Rgb8);

// A raw frame as log_frame queues it: pixels of the right size, a pattern seeded by seed.
VideoFrame video_frame(const std::string& robot_id, const std::string& name,
                       int64_t publish_timestamp_ns, uint32_t width, uint32_t height,
                       data_daemon_shared::FrameDtype dtype, uint32_t seed);

// The PNG the compression threads make of a frame (depth frames mapped to RGB first).
std::vector<uint8_t> encode_frame_png(const VideoFrame& frame);

// A copy of frame, pixels included (a frame's pixels move; tests keep what they sent).
VideoFrame copy_of(const VideoFrame& frame);

// Streams of the source (robot_id, instance 1) in the registry.
size_t source_stream_count(const std::string& robot_id);

}  // namespace data_daemon_bridge::testing
