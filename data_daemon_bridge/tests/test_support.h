// Helpers of the bridge tests: temporary directories, whole-file reads, and running the real
// decoders (ffmpeg, ffprobe, the Python PNG decoder) on files the tests wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace data_daemon_bridge::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

struct CommandResult {
  int exit_status = -1;         // the shell's exit status; -1 if it did not end normally
  std::vector<uint8_t> output;  // standard output
  std::string errors;           // standard error
};

// Runs command through /bin/sh, capturing its standard output and standard error.
CommandResult run_command(const std::string& command);

// The path in single quotes, for a shell command line.
std::string shell_quoted(const std::filesystem::path& path);

// Every frame of the chunk file as ffmpeg decodes it, as packed RGB24 bytes, concatenated.
// Decoded with "-fps_mode passthrough" so that irregular time stamps never duplicate frames.
CommandResult ffmpeg_decode_rgb24(const std::filesystem::path& chunk);

// The first video stream as ffprobe reports it, with every frame counted.
struct ProbedStream {
  std::string codec_name;
  uint32_t width = 0;
  uint32_t height = 0;
  std::string time_base;
  uint64_t frames = 0;
  std::vector<int64_t> packet_pts;  // in the stream's time base, in file order
  std::string errors;               // ffprobe's standard error, for failure messages
};
ProbedStream ffprobe_stream(const std::filesystem::path& chunk);

// The PNGs decoded by Python's zlib and a few lines of Python (tests/png_reference_decode.py):
// the raw RGB pixels of each in turn, or a failed result with the decoder's complaint.
CommandResult reference_decode_pngs(const std::vector<std::vector<uint8_t>>& pngs);
inline CommandResult reference_decode_png(std::span<const uint8_t> png) {
  return reference_decode_pngs({std::vector<uint8_t>(png.begin(), png.end())});
}

// Pseudo-random bytes, the same for the same seed.
std::vector<uint8_t> noise(size_t size, uint32_t seed);

}  // namespace data_daemon_bridge::testing
