#include "publisher/ipc_handles_cell.h"

#include <optional>
#include <utility>

#include "data_daemon_shared/panic.h"

namespace data_daemon_bridge {

using data_daemon_shared::Err;
using data_daemon_shared::Result;

namespace {

// Owner: the thread. Released at thread exit, which releases the set.
struct IpcHandlesCell {
  std::optional<IpcHandles> handles;
  bool borrowed = false;
  ~IpcHandlesCell();
};

thread_local IpcHandlesCell IPC_HANDLES;
// Trivially destructible, so still readable after IPC_HANDLES is gone.
thread_local bool IPC_HANDLES_TORN_DOWN = false;

IpcHandlesCell::~IpcHandlesCell() { IPC_HANDLES_TORN_DOWN = true; }

IpcHandlesCell& cell() {
  if (IPC_HANDLES_TORN_DOWN) {
    data_daemon_shared::panic("IPC_HANDLES used after its thread's storage was torn down");
  }
  return IPC_HANDLES;
}

}  // namespace

IpcHandlesBorrow::IpcHandlesBorrow(IpcHandlesBorrow&& other) noexcept
    : handles_(std::exchange(other.handles_, nullptr)) {}

IpcHandlesBorrow::~IpcHandlesBorrow() {
  if (handles_ != nullptr) IPC_HANDLES.borrowed = false;
}

Result<IpcHandlesBorrow, PublisherError> borrow_ipc_handles() {
  IpcHandlesCell& c = cell();
  if (c.borrowed) data_daemon_shared::panic("IPC_HANDLES borrowed twice on one thread");
  c.borrowed = true;
  // Gives the borrow back on every way out but success, a throw included.
  struct Unborrow {
    bool* flag;
    ~Unborrow() {
      if (flag != nullptr) *flag = false;
    }
  } unborrow{&c.borrowed};
  if (!c.handles) {
    auto built = open_ipc_handles();
    if (!built) return Err(built.error());
    c.handles.emplace(std::move(built).value());
  }
  unborrow.flag = nullptr;
  return IpcHandlesBorrow(&*c.handles);
}

void prepare_ipc_handles_for_exit() {
  if (!IPC_HANDLES_TORN_DOWN && IPC_HANDLES.handles) IPC_HANDLES.handles->wait_out_release_grace();
  keep_ipc_handles_from_now_on();
}

void forget_ipc_handles() {
  if (IPC_HANDLES_TORN_DOWN) return;
  IpcHandlesCell& c = IPC_HANDLES;
  if (!c.handles) return;
  std::move(*c.handles).keep_forever();
  c.handles.reset();  // releases nothing: every handle is kept forever above
}

}  // namespace data_daemon_bridge
