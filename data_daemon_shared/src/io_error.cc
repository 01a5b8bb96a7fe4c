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
  }
  return IoError{kind, code};
}

IoError IoError::invalid_utf8() { return IoError{IoErrorKind::InvalidData, 0}; }

std::string IoError::display_text() const {
  if (kind == IoErrorKind::InvalidData) return "stream did not contain valid UTF-8";
  char buffer[256];
  // strerror_r in its POSIX form, as portable code must call it; the GNU form returns the text.
  auto text = [&](auto result) -> const char* {
    if constexpr (std::is_same_v<decltype(result), int>) {
      return result == 0 ? buffer : "unknown error";
    } else {
      return result;
    }
  }(strerror_r(code, buffer, sizeof buffer));
  return std::string(text) + " (os error " + std::to_string(code) + ")";
}

}  // namespace data_daemon_shared
