// The file-system steps of configuration reading.
#pragma once

#include <cstddef>
#include <string>

#include "data_daemon_shared/io_error.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// Creates path and every missing parent, each with mode 0777 before the umask. An existing
// directory, also one another thread or process creates meanwhile, is success.
Result<Unit, IoError> create_dir_all(const std::string& path);

// The whole content of the regular file at path, if it holds at most max_bytes. The path's type
// is looked at before anything is opened: a FIFO, a device or a socket (or a link to one) is
// refused unopened. Opening never waits, and no more than max_bytes + 1 bytes are read, so a file
// that grows while it is read is refused as well. Failures: the stat's, the open's or the read's
// errno (ENOENT for a missing file, ELOOP for a link loop, EISDIR for a directory),
// NotRegularFile for anything else that is not a regular file, FileTooLarge (EFBIG) past
// max_bytes.
Result<std::string, IoError> read_regular_file(const std::string& path, size_t max_bytes);

}  // namespace data_daemon_shared
