// The text that the module's error values and log events carry for an errno value.
#pragma once

#include <string>

namespace data_daemon_bridge::port {

// The system's own text for errnum ("No space left on device", ...; data_daemon_shared's
// strerror_text), or "error N" where the system has none.
std::string system_error_text(int errnum);

}  // namespace data_daemon_bridge::port
