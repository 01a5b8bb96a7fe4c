// BufferedFile: an open file behind a fixed-capacity write buffer.
//
// A write that fits the buffer's free space is copied into it; a larger one first has the
// buffered bytes written out, and is then buffered or, when it is at least as large as the whole
// buffer, written straight to the file. Writing out retries an interrupted call, counts a write
// of zero bytes as a failure, and keeps the bytes not yet written in the buffer, so that the
// next write-out tries them again. Used by one thread at a time.
//
// Nothing here allocates but the buffer, which is made before a file is taken: failures are
// error numbers (FileError), whose texts the caller makes once its own state is settled. So a
// file, once taken, is never left open or half written for want of memory, and the destructor
// cannot fail.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "data_daemon_shared/result.h"

namespace data_daemon_bridge {

// Why a file operation failed: an errno value, or one of the two codes below.
struct FileError {
  int code;
};
inline constexpr int kFileWroteZero = -1;  // a write took no byte
inline constexpr int kFileClosed = -2;     // no file is open

// The system's text for an errno value (port::system_error_text), "failed to write whole
// buffer" or "file is closed".
std::string file_error_text(FileError error);

class BufferedFile {
 public:
  using Status = data_daemon_shared::Result<data_daemon_shared::Unit, FileError>;

  // Allocates the buffer (throws std::bad_alloc when there is no memory for it); no file yet:
  // until take, every call fails with kFileClosed.
  explicit BufferedFile(size_t capacity);
  // Takes ownership of fd, an open file positioned at offset 0. REQUIRES: no file taken before.
  void take(int fd) noexcept;
  // Writes out what is buffered, ignoring a failure, and closes the file.
  ~BufferedFile();
  BufferedFile(BufferedFile&& other) noexcept;
  BufferedFile& operator=(BufferedFile&&) = delete;
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;

  // On failure, the bytes that reached the buffer or the file before it stay there.
  Status write(std::span<const uint8_t> bytes) noexcept;
  Status write_out() noexcept;

  // Offset after the last byte handed to write: bytes in the file plus bytes buffered.
  uint64_t position() const { return file_bytes_ + buffer_.size(); }

  // Forgets every byte at or after offset pos (REQUIRES: pos <= position()): cuts the buffer,
  // or, when some of those bytes already reached the file, truncates the file to pos and drops
  // the buffer. A failed truncation changes nothing.
  Status cut_back_to(uint64_t pos) noexcept;

  // Writes out, then closes the file; after a failed write-out one more is attempted and its
  // outcome ignored. The object is then closed: every later call fails and the destructor does
  // nothing.
  Status close() noexcept;

 private:
  Status write_all_direct(std::span<const uint8_t> bytes) noexcept;
  void close_fd() noexcept;

  int fd_ = -1;  // -1 until take and once closed
  size_t capacity_;
  std::vector<uint8_t> buffer_;  // bytes at offsets [file_bytes_, position()); capacity_ reserved
  uint64_t file_bytes_ = 0;      // bytes that reached the file; also the file offset
};

}  // namespace data_daemon_bridge
