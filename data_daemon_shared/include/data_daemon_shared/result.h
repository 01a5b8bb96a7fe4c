// Result<T, E>: a value or an error, returned by every fallible step of the module.
//
// A small stand-in for C++23's std::expected. Construct the error side with Err(e) so that a
// Result whose value and error types could convert into each other is never ambiguous.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace data_daemon_shared {

template <class E>
struct Err {
  explicit Err(E e) : error(std::move(e)) {}
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  template <class U>
  Result(Err<U> err) : state_(std::in_place_index<1>, std::move(err.error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // REQUIRES: ok()
  T& value() & {
    assert(ok());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(state_));
  }

  // REQUIRES: !ok()
  E& error() & {
    assert(!ok());
    return std::get<1>(state_);
  }
  const E& error() const& {
    assert(!ok());
    return std::get<1>(state_);
  }

 private:
  std::variant<T, E> state_;
};

// For steps that produce nothing but may fail.
struct Unit {};

}  // namespace data_daemon_shared
