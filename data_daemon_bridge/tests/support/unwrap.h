// The value of an IPC call a test cannot go on without; a failure ends the test program with the
// library's text.
#pragma once

#include <cstdlib>
#include <utility>

#include "data_daemon_ipc/handle.h"
#include "gtest/gtest.h"

namespace data_daemon_bridge::testing {

template <class T>
T unwrap(data_daemon_ipc::IpcResult<T> result) {
  if (!result) {
    ADD_FAILURE() << result.error().text;
    std::abort();
  }
  return std::move(result).value();
}

}  // namespace data_daemon_bridge::testing
