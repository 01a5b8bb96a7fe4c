#include "data_daemon_shared/io_error.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

namespace data_daemon_shared {

IoError IoError::from_errno(int code) {
  IoErrorKind kind = IoErrorKind::Other;
  switch (code) {
    case ENOENT: kind = IoErrorKind::NotFound; break;
    case EACCES:
    case EPERM: kind = IoErrorKind::PermissionDenied; break;
    case EEXIST: kind = IoErrorKind::AlreadyExists; break;
    case EFBIG: kind = IoErrorKind::FileTooLarge; break;
  }
  return IoError{kind, code};
}

IoError IoError::invalid_utf8() { return IoError{IoErrorKind::InvalidData, 0}; }

IoError IoError::not_regular_file() { return IoError{IoErrorKind::NotRegularFile, 0}; }

std::optional<std::string> strerror_text(int code) {
  char buffer[256];
  // The POSIX form returns a status and fills buffer; the GNU form returns the text, which may or
  // may not live in buffer. Telling them apart by the result's type needs no platform test.
  auto text = [&](auto result) -> const char* {
    if constexpr (std::is_same_v<decltype(result), int>) {
      return result == 0 ? buffer : nullptr;
    } else {
      return result;
    }
  }(strerror_r(code, buffer, sizeof buffer));
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

std::string IoError::display_text() const {
  if (kind == IoErrorKind::InvalidData) return "stream did not contain valid UTF-8";
  if (kind == IoErrorKind::NotRegularFile) return "not a regular file";
  const std::string text = strerror_text(code).value_or("unknown error");
  return text + " (os error " + std::to_string(code) + ")";
}

}  // namespace data_daemon_shared
