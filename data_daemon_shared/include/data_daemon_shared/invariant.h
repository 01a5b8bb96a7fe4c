// InvariantViolation: how an operation of this library aborts when it cannot go on and has no
// error value to return (a named profile but no home directory to look for it in, say).
//
// It is not an error result: nothing below the Python boundary catches it. The module's Python
// layer catches it around each call and raises the module's panic exception (derived from
// BaseException) with what() as the message. Nothing is stored before it is thrown, so the next
// call tries again.
#pragma once

#include <stdexcept>

namespace data_daemon_shared {

class InvariantViolation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace data_daemon_shared
