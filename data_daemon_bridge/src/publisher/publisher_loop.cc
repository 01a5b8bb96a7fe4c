#include "publisher/publisher_loop.h"

#include <optional>
#include <utility>
#include <variant>

#include "concurrency/loop_guard.h"
#include "events/events.h"
#include "publisher/limits.h"
#include "publisher/publish.h"
#include "publisher/publisher_error.h"
#include "publisher/sample_envelopes.h"

namespace data_daemon_bridge {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

}  // namespace

void serve_publisher_items(PublisherReceiver& receiver, const EnvelopePublisher& publish) {
  // Set by a publish that found no daemon, cleared by the next envelope that reaches a
  // subscriber. While it is set, each envelope gets a single attempt.
  bool daemon_absent = false;
  auto publish_one = [&](const data_daemon_shared::Envelope& envelope) {
    auto published = publish(
        envelope, daemon_absent ? std::chrono::nanoseconds::zero() : COMMAND_SUBSCRIBER_TIMEOUT);
    if (published) {
      daemon_absent = false;
      return;
    }
    if (means_no_daemon(published.error())) daemon_absent = true;
    emit_event_nothrow(
        EventLevel::Warn, kPublisherLogTarget, "failed to publish data envelope", [&] {
          return std::vector<EventField>{{"error", publisher_error_text(published.error())}};
        });
  };
  auto serve = [&](PublisherItem& item) {
    std::visit(
        Overloaded{
            [&](PublisherItem::Envelope& e) { publish_one(e.envelope); },
            [&](PublisherItem::Json& j) { publish_one(json_sample_envelope(std::move(j.sample))); },
            [&](PublisherItem::Joints& j) {
              publish_one(joint_frame_envelope(std::move(j.frame)));
            },
            [](PublisherItem::Flush& f) {
              // A waiter that is gone changes nothing.
              (void)f.reply.send(data_daemon_shared::Unit{});
            },
        },
        item.value);
  };
  while (std::optional<PublisherItem> item = receiver.receive()) {
    run_loop_step(kPublisherLogTarget, "failed to handle data item; dropping item", [&] {
      (void)drop_on_out_of_memory(
          kPublisherLogTarget, "out of memory; dropping item",
          [] { return std::vector<EventField>{}; }, [&] { serve(*item); });
    });
    // The item (and a Flush's reply end, answered or not) is released here, before the next one
    // is taken.
  }
}

void run_data_publisher(PublisherReceiver receiver) {
  // Publishes on this thread's own IpcHandles, built with the first envelope.
  serve_publisher_items(receiver, [](const data_daemon_shared::Envelope& envelope,
                                     std::chrono::nanoseconds subscriber_wait) {
    return publish_envelope(envelope, subscriber_wait);
  });
}

}  // namespace data_daemon_bridge
