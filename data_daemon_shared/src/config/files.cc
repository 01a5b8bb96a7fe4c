#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

Result<std::string, IoError> read_whole_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Err(IoError::from_errno(errno));
  std::string content;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      content.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int error = errno;
      close(fd);
      return Err(IoError::from_errno(error));
    }
  }
  close(fd);
  return content;
}

}  // namespace data_daemon_shared
