#include "publisher/publisher_atfork.h"

#include "events/events.h"
#include "publisher/data_publisher.h"
#include "publisher/ipc_handles_cell.h"

namespace data_daemon_bridge {

constinit ForkChildHandler PUBLISHER_ATFORK_ONCE{
    publisher_atfork_child,
    {kPublisherLogTarget,
     "pthread_atfork registration failed; fork-safety relies on caller-managed cleanup",
     WithoutForkHandler::kCacheNothing}};

bool register_publisher_atfork() { return PUBLISHER_ATFORK_ONCE.register_once(); }

void publisher_atfork_child() {
  forget_ipc_handles();
  forget_data_publisher_sender_after_fork();
}

}  // namespace data_daemon_bridge
