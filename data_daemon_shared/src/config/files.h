// The file-system steps of configuration reading.
#pragma once

#include <string>

#include "data_daemon_shared/io_error.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// Creates path and every missing parent, each with mode 0777 before the umask. An existing
// directory, also one another thread or process creates meanwhile, is success.
Result<Unit, IoError> create_dir_all(const std::string& path);

// The whole content of the file at path.
Result<std::string, IoError> read_whole_file(const std::string& path);

}  // namespace data_daemon_shared
