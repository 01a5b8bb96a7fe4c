#include "writer/writer_test_support.h"

#include <stdlib.h>

#include <algorithm>

#include "depth/depth_to_rgb24.h"
#include "png/png_encoder.h"
#include "test_support.h"
#include "writer/stream_key.h"
#include "writer/stream_registry.h"
#include "writer/video_records.h"

namespace data_daemon_bridge::testing {

namespace fs = std::filesystem;
using data_daemon_shared::Envelope;

namespace {

std::mutex captured_mutex;
std::vector<Envelope> captured;  // guarded by captured_mutex

void capture_record(Envelope envelope) {
  std::lock_guard lock(captured_mutex);
  captured.push_back(std::move(envelope));
}

}  // namespace

const fs::path& test_recordings_root() {
  static const fs::path root = [] {
    // Kept for the life of the process: writer threads keep writing into it until the end.
    static TempDir dir;
    setenv("QUILLSPAN_DAEMON_RECORDINGS_ROOT", dir.path().c_str(), 1);
    return dir.path();
  }();
  return root;
}

fs::path stream_dir(const std::string& robot_id, int64_t robot_instance,
                    const std::string& data_type, const std::string& name) {
  return test_recordings_root() / ".rgb_spool" / robot_id / std::to_string(robot_instance) /
         data_type / name;
}

std::vector<fs::path> chunk_files(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

RecordCapture::RecordCapture() {
  take();
  set_video_record_sink_for_testing(capture_record);
}

RecordCapture::~RecordCapture() { set_video_record_sink_for_testing(nullptr); }

std::vector<Envelope> RecordCapture::take() {
  std::lock_guard lock(captured_mutex);
  return std::exchange(captured, {});
}

std::vector<Envelope> RecordCapture::take(const std::string& robot_id) {
  std::vector<Envelope> kept;
  for (Envelope& record : take()) {
    const std::string& owner = std::visit(
        [](const auto& r) -> const std::string& {
          if constexpr (requires { r.robot_id; }) {
            return r.robot_id;
          } else {
            static const std::string none;
            return none;
          }
        },
        record);
    if (owner == robot_id) kept.push_back(std::move(record));
  }
  return kept;
}

std::vector<data_daemon_shared::VideoChunkReady> chunk_records(
    const std::vector<Envelope>& records) {
  std::vector<data_daemon_shared::VideoChunkReady> chunks;
  for (const auto& record : records) {
    if (auto* chunk = std::get_if<data_daemon_shared::VideoChunkReady>(&record)) {
      chunks.push_back(*chunk);
    }
  }
  return chunks;
}

FrameMeta frame_meta(const std::string& name, int64_t publish_timestamp_ns, int64_t timestamp_ns,
                     uint32_t width, uint32_t height, data_daemon_shared::FrameDtype dtype) {
  return FrameMeta{
      .robot_id = "r",
      .robot_instance = 1,
      .data_type = dtype == data_daemon_shared::FrameDtype::Rgb8 ? "RGB_IMAGES" : "DEPTH_IMAGES",
      .name = name,
      .layout = {width, height, dtype},
      .publish_timestamp_ns = publish_timestamp_ns,
      .timestamp_ns = timestamp_ns,
      .timestamp_s = static_cast<double>(timestamp_ns) / 1e9,
  };
}

VideoFrame video_frame(const std::string& robot_id, const std::string& name,
                       int64_t publish_timestamp_ns, uint32_t width, uint32_t height,
                       data_daemon_shared::FrameDtype dtype, uint32_t seed) {
  FrameMeta meta =
      frame_meta(name, publish_timestamp_ns, publish_timestamp_ns, width, height, dtype);
  meta.robot_id = robot_id;
  std::vector<uint8_t> pixels = noise(size_t{width} * height * bytes_per_pixel(dtype), seed);
  return VideoFrame{.meta = std::move(meta), .payload = PixelBytes(pixels)};
}

VideoFrame copy_of(const VideoFrame& frame) {
  return VideoFrame{.meta = frame.meta, .payload = PixelBytes(std::span(frame.payload))};
}

std::vector<uint8_t> encode_frame_png(const VideoFrame& frame) {
  const FrameLayout& layout = frame.meta.layout;
  std::vector<uint8_t> rgb =
      layout.dtype == data_daemon_shared::FrameDtype::Rgb8
          ? std::vector<uint8_t>(frame.payload.begin(), frame.payload.end())
          : depth_to_rgb24(layout.dtype, layout.width, layout.height, frame.payload);
  PngScratch scratch;
  uint64_t n = encode_png_rgb24(scratch, layout.width, layout.height, rgb);
  return std::vector<uint8_t>(scratch.png.begin(), scratch.png.begin() + n);
}

size_t source_stream_count(const std::string& robot_id) {
  auto registry = lock_stream_registry();
  return std::count_if(registry->streams.begin(), registry->streams.end(), [&](const auto& entry) {
    return entry.first.starts_with(source_key(robot_id, 1));
  });
}

}  // namespace data_daemon_bridge::testing
