// The loop of the data publisher thread: how each PublisherItem becomes a published envelope.
#pragma once

#include <functional>
#include <string>

#include "data_daemon_shared/envelope.h"
#include "data_daemon_shared/result.h"
#include "publisher/publisher_item.h"

namespace data_daemon_bridge {

// The body of "qs-data-publisher": handles items one at a time in channel order until every
// sending end is gone. Publishing failures are logged and the item is dropped.
void run_data_publisher(PublisherReceiver receiver);

// Publishes one envelope; the error is its display text.
using EnvelopePublisher =
    std::function<data_daemon_shared::Result<data_daemon_shared::Unit, std::string>(
        const data_daemon_shared::Envelope&)>;

// The loop of run_data_publisher over any way of publishing an envelope.
void serve_publisher_items(PublisherReceiver& receiver, const EnvelopePublisher& publish);

}  // namespace data_daemon_bridge
