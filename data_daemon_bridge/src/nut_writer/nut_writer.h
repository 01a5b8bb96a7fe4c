// NutWriter: one chunk file of the video spool, written as it grows.
//
// The file holds one video stream of complete PNG images, each frame a keyframe with its full
// time stamp, its length and a header checksum; syncpoints are placed by byte distance; nothing
// follows the last frame (no index), so a file cut after any whole frame is still complete.
//
// Owned by one stream's chunk and used by one thread at a time. The writer never deletes,
// renames or syncs its file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "data_daemon_shared/result.h"
#include "nut_writer/buffered_file.h"
#include "nut_writer/nut_error.h"

namespace data_daemon_bridge {

struct NutConfig {
  uint32_t width = 0;          // pixels, non-zero
  uint32_t height = 0;         // pixels, non-zero
  uint32_t time_base_num = 0;  // non-zero; the chunk writer passes 1 / 1,000,000 (microseconds)
  uint32_t time_base_den = 0;  // non-zero
};

class NutWriter {
 public:
  // Checks the config, creates the file's missing parent directories (mode 0o777 less the
  // umask), creates or truncates the file (mode 0o666 less the umask, closed on exec) and writes
  // the file id, main header, stream header and a syncpoint with time stamp 0. Invalid config
  // touches no file system. Throws std::bad_alloc when memory runs out; the write buffer and the
  // headers are made before the file is opened, so that no file is created or left open then.
  static data_daemon_shared::Result<NutWriter, NutError> create(std::filesystem::path path,
                                                                const NutConfig& config);

  // Appends, when the distance rule asks for one, a syncpoint carrying pts, then the frame.
  // pts is in the stream's time base, at most 2^64 - 129.
  //
  // After an error the writer stays usable and the file holds only whole packets and frames:
  // bytes of this call's frame that reached the buffer or the file before a write failure are
  // taken back (a syncpoint written ahead of the frame stays, as it does before a refused pts).
  // Should taking them back fail (the file cannot be truncated), the file holds a partial frame:
  // every later write_frame, and finish, then fail with the original write error, so such a
  // file is never reported as a good chunk; finish still writes out and closes it.
  //
  // Throws std::bad_alloc when memory runs out; the file then holds only whole packets and
  // frames as well (a syncpoint written ahead of the frame may stay), and a partial frame that
  // could not be taken back still breaks the writer as above.
  data_daemon_shared::Result<data_daemon_shared::Unit, NutError> write_frame(
      uint64_t pts, std::span<const uint8_t> data);

  // Writes out the buffer and closes the file (closed on both outcomes, and before a
  // std::bad_alloc for the error's text); returns the file's length in bytes, which is
  // bytes_written(). Consumes the writer: call as std::move(writer).finish().
  data_daemon_shared::Result<uint64_t, NutError> finish() &&;

  // Dropping a writer without finish writes out its buffer, ignores a failure of that, and
  // closes the file, which stays on disk.
  ~NutWriter() = default;
  NutWriter(NutWriter&&) noexcept = default;
  NutWriter& operator=(NutWriter&&) = delete;

  // Bytes handed to the file so far, including those still buffered: the current file offset.
  uint64_t bytes_written() const { return out_.position(); }
  // width × height × 3 for every frame written (raw picture bytes, not file bytes), saturating.
  uint64_t raw_bytes() const { return raw_bytes_; }
  uint64_t last_syncpoint_pos() const { return last_syncpoint_pos_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  NutWriter(std::filesystem::path path, const NutConfig& config, uint64_t frame_bytes);

  // Writes bytes; on failure takes back everything from offset mark on and returns the error.
  data_daemon_shared::Result<data_daemon_shared::Unit, NutError> write_or_take_back(
      std::span<const uint8_t> bytes, uint64_t mark);
  NutError write_error(FileError error) const;

  std::filesystem::path path_;
  NutConfig config_;
  BufferedFile out_;
  uint64_t frame_bytes_;
  uint64_t raw_bytes_ = 0;
  uint64_t last_syncpoint_pos_ = 0;
  uint64_t last_flush_pos_ = 0;
  // Set when a failed frame could not be taken back: the error of the failed write. A plain
  // value, so that setting it cannot fail.
  std::optional<FileError> broken_;
};

}  // namespace data_daemon_bridge
