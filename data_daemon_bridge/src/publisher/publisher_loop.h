// The loop of the data publisher thread: how each PublisherItem becomes a published envelope.
#pragma once

#include <chrono>
#include <functional>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "publisher/publisher_error.h"
#include "publisher/publisher_item.h"

namespace data_daemon_bridge {

// The body of "qs-data-publisher": handles items one at a time in channel order until every
// sending end is gone. Publishing failures are logged and the item is dropped.
void run_data_publisher(PublisherReceiver receiver);

// Publishes one envelope, waiting up to subscriber_wait for a subscriber (publish_envelope).
using EnvelopePublisher =
    std::function<data_daemon_shared::Result<data_daemon_shared::Unit, PublisherError>(
        const data_daemon_shared::Envelope&, std::chrono::nanoseconds subscriber_wait)>;

// The loop of run_data_publisher over any way of publishing an envelope.
//
// Each envelope is published with COMMAND_SUBSCRIBER_TIMEOUT until one finds no daemon
// (means_no_daemon). From then on the daemon is taken as absent: each envelope gets a single
// attempt (a subscriber timeout of 0), delivered if a daemon has come, dropped at once if not,
// until an envelope reaches a subscriber again. So with no daemon the channel drains as fast as
// it fills, and a Flush is answered within about one subscriber wait, not one a queued item.
// Every dropped envelope is one WARN event with its error's text.
//
// Nothing an item throws ends the loop: memory that runs out while an item is turned into an
// envelope, encoded or published costs that item (WARN "out of memory; dropping item"), and any
// other exception likewise (WARN "failed to handle data item; dropping item", field error). A
// Flush that cannot be answered is released unanswered, which ends its waiter's wait as well.
void serve_publisher_items(PublisherReceiver& receiver, const EnvelopePublisher& publish);

}  // namespace data_daemon_bridge
