#include "lib/python_error.h"

namespace data_daemon_bridge {

PythonError publisher_error_to_pyerr(PublisherError error) {
  return runtime_error(publisher_error_text(error));
}

}  // namespace data_daemon_bridge
