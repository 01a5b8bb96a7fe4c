#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>

namespace data_daemon_shared {

namespace {

bool is_directory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// One mkdir; an existing directory counts as made. Returns 0 or the errno of the failure.
int make_one(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return 0;
  const int error = errno;
  return is_directory(path) ? 0 : error;
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Result<Unit, IoError> create_dir_all(const std::string& path) {
  if (path.empty()) return Unit{};
  int error = make_one(path);
  if (error == 0) return Unit{};
  if (error != ENOENT) return Err(IoError::from_errno(error));
  // Some parent is missing: make every prefix that ends before a "/", then the path itself.
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;
    if ((error = make_one(path.substr(0, slash))) != 0) return Err(IoError::from_errno(error));
  }
  if ((error = make_one(path)) != 0) return Err(IoError::from_errno(error));
  return Unit{};
}

namespace {

// What stops a read of status's file before it starts: a directory (EISDIR), anything else that
// is not a regular file, or a size past max_bytes.
std::optional<IoError> refusal(const struct stat& status, size_t max_bytes) {
  if (S_ISDIR(status.st_mode)) return IoError::from_errno(EISDIR);
  if (!S_ISREG(status.st_mode)) return IoError::not_regular_file();
  if (static_cast<uint64_t>(status.st_size) > max_bytes) return IoError::from_errno(EFBIG);
  return std::nullopt;
}

}  // namespace

Result<std::string, IoError> read_regular_file(const std::string& path, size_t max_bytes) {
  // The file's type first, by its path: what is not a regular file is never opened, since the
  // open of a device does whatever that device's open does.
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return Err(IoError::from_errno(errno));
  if (auto refused = refusal(status, max_bytes)) return Err(*refused);
  // Then the open, and the type again, of what was opened: the path may have been pointed
  // elsewhere in between. O_NONBLOCK, O_NOCTTY: should it now be a FIFO, the open does not wait
  // for a writer; a terminal does not become ours.
  const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return Err(IoError::from_errno(errno));
  if (fstat(fd.get(), &status) != 0) return Err(IoError::from_errno(errno));
  if (auto refused = refusal(status, max_bytes)) return Err(*refused);
  std::string content;
  content.reserve(static_cast<size_t>(status.st_size));
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n > 0) {
      if (static_cast<size_t>(n) > max_bytes - content.size()) {
        return Err(IoError::from_errno(EFBIG));  // grown since fstat
      }
      content.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return content;
    } else if (errno != EINTR) {
      return Err(IoError::from_errno(errno));
    }
  }
}

}  // namespace data_daemon_shared
