// IPC_HANDLES: the calling thread's IpcHandles, built on first use and kept until the thread
// ends. Every command publish and every query attempt reaches its thread's set only through
// borrow_ipc_handles(), holding the borrow for the whole operation.
#pragma once

#include "data_daemon_shared/result.h"
#include "publisher/ipc_handles.h"
#include "publisher/publisher_error.h"

namespace data_daemon_bridge {

// The exclusive borrow of the calling thread's filled cell; released when it goes. Stays on the
// thread that took it.
class IpcHandlesBorrow {
 public:
  IpcHandlesBorrow(IpcHandlesBorrow&& other) noexcept;
  IpcHandlesBorrow& operator=(IpcHandlesBorrow&&) = delete;
  ~IpcHandlesBorrow();

  IpcHandles& handles() const { return *handles_; }

 private:
  friend data_daemon_shared::Result<IpcHandlesBorrow, PublisherError> borrow_ipc_handles();
  explicit IpcHandlesBorrow(IpcHandles* handles) : handles_(handles) {}

  IpcHandles* handles_;  // null once moved from
};

// Takes the borrow and, if the cell is empty, builds the set with open_ipc_handles. A failed
// build returns its error with the borrow released and the cell still empty, so the next call
// builds again from the start.
//
// Panics (data_daemon_bridge::Panic) when the thread already holds the borrow, or when the
// thread's storage has been torn down (a call from thread-exit code).
data_daemon_shared::Result<IpcHandlesBorrow, PublisherError> borrow_ipc_handles();

// The daemon link's part of the process's exit, before the interpreter finalizes: waits out what
// is left of the calling thread's release grace, so that the daemon connects to its publisher
// while the process is alive, then keeps every set from now on (keep_ipc_handles_from_now_on),
// this thread's included, so that nothing of the link waits or is released after this.
void prepare_ipc_handles_for_exit();

// Empties the calling thread's cell without releasing the set: every object is kept forever as
// it is. For the fork child handler only.
void forget_ipc_handles();

}  // namespace data_daemon_bridge
