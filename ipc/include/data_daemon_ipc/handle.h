// The C++ side of the iceoryx2 binding: owning handles over the C interface of ipc.h, named as
// iceoryx2's own C++ API names them.
//
// Every failing call returns an IpcError carrying the iceoryx2 error's display text unchanged,
// and its kind.
#pragma once

#include <string>
#include <utility>

#include "data_daemon_ipc/ipc.h"
#include "data_daemon_shared/result.h"

namespace data_daemon_ipc {

enum class IpcErrorKind : int32_t {
  Other = DDB_IPC_KIND_OTHER,
  // A service found half created or half removed by another participant (open_or_create only):
  // the same call may succeed a moment later.
  ServiceInTransition = DDB_IPC_KIND_SERVICE_IN_TRANSITION,
};

struct IpcError {
  std::string text;  // iceoryx2's display text, e.g. "LoanError::ExceedsMaxLoanSize"
  IpcErrorKind kind = IpcErrorKind::Other;
};

template <class T>
using IpcResult = data_daemon_shared::Result<T, IpcError>;
using data_daemon_shared::Err;
using data_daemon_shared::Unit;

// Runs one C call `call(ddb_ipc_error*)` and turns a failure status into its IpcError.
template <class Call>
IpcResult<Unit> ipc_call(Call call) {
  ddb_ipc_error error;
  error.text[0] = '\0';
  error.kind = DDB_IPC_KIND_OTHER;
  if (call(&error) != DDB_IPC_OK) {
    return Err(IpcError{error.text, error.kind == DDB_IPC_KIND_SERVICE_IN_TRANSITION
                                        ? IpcErrorKind::ServiceInTransition
                                        : IpcErrorKind::Other});
  }
  return Unit{};
}

// Sole owner of one binding object, released with Drop when the handle goes.
//
// keep_forever() keeps the object unreleased for the rest of the process instead: no iceoryx2 Drop
// runs and nothing in shared memory or in the node's files changes. A forked child uses it for
// everything it inherited, since a release there would tear down the parent's node, services and
// ports.
template <class T, void (*Drop)(T*)>
class Handle {
 public:
  Handle() = default;
  explicit Handle(T* raw) : raw_(raw) {}
  Handle(Handle&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      raw_ = std::exchange(other.raw_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  void keep_forever() && { raw_ = nullptr; }

  T* raw() const { return raw_; }
  // Hands the object to a C call that consumes it.
  T* take() { return std::exchange(raw_, nullptr); }

 private:
  void reset() {
    if (raw_ != nullptr) Drop(std::exchange(raw_, nullptr));
  }

  T* raw_ = nullptr;
};

}  // namespace data_daemon_ipc
