#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

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

Result<std::string, IoError> read_regular_file(const std::string& path, size_t max_bytes) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, and some devices
  // wait in their open as well. O_NOCTTY: a terminal named here must not become ours.
  const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return Err(IoError::from_errno(errno));
  struct stat status;
  if (fstat(fd.get(), &status) != 0) return Err(IoError::from_errno(errno));
  if (S_ISDIR(status.st_mode)) return Err(IoError::from_errno(EISDIR));
  if (!S_ISREG(status.st_mode)) return Err(IoError::not_regular_file());
  if (static_cast<uint64_t>(status.st_size) > max_bytes) return Err(IoError::from_errno(EFBIG));
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
