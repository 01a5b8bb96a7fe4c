// IoError: an operating-system I/O failure with its kind and errno code.
#pragma once

#include <optional>
#include <string>

namespace data_daemon_shared {

// The system's own text for an errno value ("No space left on device", ...), or nothing where the
// system has none for it. The one call of strerror_r: IoError shows its text, and so do the
// bridge's error values and log events (port/system_error.h).
std::optional<std::string> strerror_text(int code);

enum class IoErrorKind {
  NotFound,
  PermissionDenied,
  AlreadyExists,
  InvalidData,
  NotRegularFile,  // a FIFO, a device, a socket: refused by readers that want a file's content
  FileTooLarge,    // EFBIG, and a file larger than its reader takes
  Other,
};

struct IoError {
  IoErrorKind kind = IoErrorKind::Other;
  int code = 0;  // the errno value; 0 for InvalidData and NotRegularFile, which no call reported

  // The one place that turns an errno value into an IoError.
  static IoError from_errno(int code);
  // Content that is not valid UTF-8 where text was expected.
  static IoError invalid_utf8();
  // A path whose file is not a regular one (nor a directory, which is EISDIR).
  static IoError not_regular_file();

  // strerror's text and " (os error N)", or the kind's own text where no system call reported
  // the error ("stream did not contain valid UTF-8", "not a regular file").
  std::string display_text() const;

  friend bool operator==(const IoError&, const IoError&) = default;
};

}  // namespace data_daemon_shared
