#include "data_daemon_shared/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace data_daemon_shared {
namespace {

TEST(IoError, KindsAndTexts) {
  const struct {
    IoError error;
    IoErrorKind kind;
    const char* text;
  } cases[] = {
      {IoError::from_errno(ENOENT), IoErrorKind::NotFound,
       "No such file or directory (os error 2)"},
      {IoError::from_errno(EACCES), IoErrorKind::PermissionDenied,
       "Permission denied (os error 13)"},
      {IoError::from_errno(ENOSPC), IoErrorKind::Other, "No space left on device (os error 28)"},
      {IoError::invalid_utf8(), IoErrorKind::InvalidData, "stream did not contain valid UTF-8"},
      {IoError::not_regular_file(), IoErrorKind::NotRegularFile, "not a regular file"},
      {IoError::from_errno(EFBIG), IoErrorKind::FileTooLarge, "File too large (os error 27)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.kind, c.kind) << c.text;
    EXPECT_EQ(c.error.display_text(), c.text);
  }
  EXPECT_EQ(strerror_text(ENOSPC), "No space left on device");
}

}  // namespace
}  // namespace data_daemon_shared
