#include "nut_writer/buffered_file.h"

#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include "port/system_error.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::Unit;

namespace {

// Writes bytes in full, retrying interrupted calls. Adds every byte the file took to *written,
// on success and on failure.
BufferedFile::Status write_fully(int fd, std::span<const uint8_t> bytes,
                                 uint64_t* written) noexcept {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written += done;
      return Err(FileError{errno});
    }
    if (n == 0) {
      *written += done;
      return Err(FileError{kFileWroteZero});
    }
    done += static_cast<size_t>(n);
  }
  *written += done;
  return Unit{};
}

}  // namespace

std::string file_error_text(FileError error) {
  switch (error.code) {
    case kFileWroteZero: return "failed to write whole buffer";
    case kFileClosed: return "file is closed";
    default: return port::system_error_text(error.code);
  }
}

BufferedFile::BufferedFile(size_t capacity) : capacity_(capacity) { buffer_.reserve(capacity); }

void BufferedFile::take(int fd) noexcept { fd_ = fd; }

BufferedFile::~BufferedFile() {
  if (fd_ < 0) return;
  (void)write_out();
  close_fd();
}

BufferedFile::BufferedFile(BufferedFile&& other) noexcept
    : fd_(other.fd_),
      capacity_(other.capacity_),
      buffer_(std::move(other.buffer_)),
      file_bytes_(other.file_bytes_) {
  other.fd_ = -1;
  other.buffer_.clear();
}

BufferedFile::Status BufferedFile::write(std::span<const uint8_t> bytes) noexcept {
  if (fd_ < 0) return Err(FileError{kFileClosed});
  if (bytes.size() > capacity_ - buffer_.size()) {
    Status out = write_out();
    if (!out) return out;
  }
  if (bytes.size() >= capacity_) return write_all_direct(bytes);
  // Within the capacity reserved at construction: no allocation.
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return Unit{};
}

BufferedFile::Status BufferedFile::write_all_direct(std::span<const uint8_t> bytes) noexcept {
  return write_fully(fd_, bytes, &file_bytes_);
}

BufferedFile::Status BufferedFile::write_out() noexcept {
  if (fd_ < 0) return Err(FileError{kFileClosed});
  uint64_t before = file_bytes_;
  Status status = write_fully(fd_, buffer_, &file_bytes_);
  // Keep exactly the bytes the file did not take.
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(file_bytes_ - before));
  return status;
}

BufferedFile::Status BufferedFile::cut_back_to(uint64_t pos) noexcept {
  if (fd_ < 0) return Err(FileError{kFileClosed});
  if (pos >= file_bytes_) {
    buffer_.resize(static_cast<size_t>(pos - file_bytes_));  // shrinks: no allocation
    return Unit{};
  }
  if (::ftruncate(fd_, static_cast<off_t>(pos)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(pos), SEEK_SET) < 0) {
    return Err(FileError{errno});
  }
  buffer_.clear();
  file_bytes_ = pos;
  return Unit{};
}

BufferedFile::Status BufferedFile::close() noexcept {
  if (fd_ < 0) return Err(FileError{kFileClosed});
  Status status = write_out();
  if (!status) (void)write_out();
  close_fd();
  return status;
}

void BufferedFile::close_fd() noexcept {
  ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  buffer_.shrink_to_fit();
}

}  // namespace data_daemon_bridge
