// The one place that turns an errno value into the text that error values and log events carry.
#pragma once

#include <string>

namespace data_daemon_bridge::port {

// The system's own text for errnum ("No space left on device", ...).
std::string system_error_text(int errnum);

}  // namespace data_daemon_bridge::port
