// Panic: a broken internal invariant. It is no error result: it aborts the operation in progress
// by unwinding to whoever can contain it (the Python boundary turns it into the module's panic
// exception; a background thread contains it around one unit of work and reports that unit as
// failed). Code throws it only through panic(), and nothing else of the module throws.
#pragma once

#include <stdexcept>
#include <string>

namespace data_daemon_shared {

class Panic : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] inline void panic(const std::string& message) { throw Panic(message); }

}  // namespace data_daemon_shared
