#include "publisher/publisher_loop.h"

#include <utility>
#include <variant>

#include "events/events.h"
#include "publisher/publish.h"
#include "publisher/publisher_error.h"
#include "publisher/sample_envelopes.h"

namespace data_daemon_bridge {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

void report_failure(const data_daemon_shared::Result<data_daemon_shared::Unit, std::string>& r) {
  if (!r) {
    emit_event(EventLevel::Warn, kPublisherLogTarget, "failed to publish data envelope",
               {{"error", r.error()}});
  }
}

}  // namespace

void serve_publisher_items(PublisherReceiver& receiver, const EnvelopePublisher& publish) {
  while (std::optional<PublisherItem> item = receiver.receive()) {
    std::visit(Overloaded{
                   [&](PublisherItem::Envelope& e) { report_failure(publish(e.envelope)); },
                   [&](PublisherItem::Json& j) {
                     report_failure(publish(json_sample_envelope(std::move(j.sample))));
                   },
                   [&](PublisherItem::Joints& j) {
                     report_failure(publish(joint_frame_envelope(std::move(j.frame))));
                   },
                   [](PublisherItem::Flush& f) {
                     // A waiter that is gone changes nothing.
                     (void)f.reply.send(data_daemon_shared::Unit{});
                   },
               },
               item->value);
    // The item (and a Flush's reply end) is released here, before the next one is taken.
  }
}

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
