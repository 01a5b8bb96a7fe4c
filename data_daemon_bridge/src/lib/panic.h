// Broken internal invariants. Code anywhere below the module boundary that finds a state it
// cannot be in calls panic(); the operation is abandoned by unwinding, and the boundary of the
// module function turns the unwind into the module's panic exception (a BaseException, so that
// `except Exception` in the caller does not swallow it). Ordinary failures are never panics:
// they are Result values.
#pragma once

#include <stdexcept>
#include <string>

namespace data_daemon_bridge {

class BrokenInvariant : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] inline void panic(const std::string& text) { throw BrokenInvariant(text); }

}  // namespace data_daemon_bridge
