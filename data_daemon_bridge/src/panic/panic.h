// Broken internal invariants. They are no error value: they abort the operation by throwing
// Panic, which the Python boundary raises as the module's panic exception. Background threads
// never let one escape their loop.
#pragma once

#include <stdexcept>
#include <string>

namespace data_daemon_bridge {

class Panic : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] inline void panic(const std::string& what) { throw Panic(what); }

}  // namespace data_daemon_bridge
