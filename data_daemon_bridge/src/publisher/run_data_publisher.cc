#include "publisher/data_publisher.h"
#include "publisher/publish.h"
#include "publisher/publisher_error.h"

namespace data_daemon_bridge {

void run_data_publisher(PublisherReceiver receiver) {
  // Publishes on this thread's own IpcHandles, built with the first envelope.
  serve_publisher_items(receiver,
                        [](const data_daemon_shared::Envelope& envelope)
                            -> data_daemon_shared::Result<data_daemon_shared::Unit, std::string> {
                          auto published = publish_envelope(envelope);
                          if (!published)
                            return data_daemon_shared::Err(publisher_error_text(published.error()));
                          return data_daemon_shared::Unit{};
                        });
}

}  // namespace data_daemon_bridge
