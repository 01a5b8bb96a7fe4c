#include "port/system_error.h"

#include "data_daemon_shared/io_error.h"

namespace data_daemon_bridge::port {

std::string system_error_text(int errnum) {
  return data_daemon_shared::strerror_text(errnum).value_or("error " + std::to_string(errnum));
}

}  // namespace data_daemon_bridge::port
