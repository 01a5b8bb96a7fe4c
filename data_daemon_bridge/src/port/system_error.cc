#include "port/system_error.h"

#include <string.h>

namespace data_daemon_bridge::port {

std::string system_error_text(int errnum) {
  char buf[256];
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  // The GNU strerror_r returns its text, which may or may not live in buf.
  return strerror_r(errnum, buf, sizeof buf);
#else
  if (strerror_r(errnum, buf, sizeof buf) != 0) return "error " + std::to_string(errnum);
  return buf;
#endif
}

}  // namespace data_daemon_bridge::port
