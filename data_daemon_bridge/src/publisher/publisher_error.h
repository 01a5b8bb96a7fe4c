// PublisherError: the error of every IPC and encoding step of the daemon link. Python sees its
// display text in a RuntimeError; the data publisher thread logs it.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "data_daemon_shared/codec_error.h"

namespace data_daemon_bridge {

struct PublisherError {
  // The first five carry the IPC library's display text of its own error, taken when it
  // occurred (or a text of ours around it, where the variant's producer says so).
  struct NodeCreate {
    std::string text;
  };
  struct ServiceOpen {
    std::string text;
    // Another participant went on creating or removing the service for as long as the open was
    // tried (kServiceTransitionWait): no daemon holds it, and callers take it as no daemon.
    bool in_transition = false;
  };
  struct PublisherCreate {  // the commands publisher and every query client
    std::string text;
  };
  struct Loan {
    std::string text;
  };
  struct Send {
    std::string text;
    // The send reached no subscriber within the subscriber wait: no daemon listens.
    bool no_subscriber = false;
  };
  struct Codec {
    data_daemon_shared::CodecError error;
  };
  struct PayloadTooLarge {
    uint64_t len;
    uint64_t limit;
  };

  std::variant<NodeCreate, ServiceOpen, PublisherCreate, Loan, Send, Codec, PayloadTooLarge> value;
};

// "failed to create iceoryx2 node: {}", "failed to open service: {}", "failed to create
// publisher: {}", "failed to loan sample: {}", "failed to send sample: {}", the codec error's
// own text, or "envelope payload {len} bytes exceeds limit {limit} bytes".
std::string publisher_error_text(const PublisherError& error);

// Whether the error says that no daemon is there: a send that reached no subscriber within its
// wait, or services that another participant went on creating or removing.
bool means_no_daemon(const PublisherError& error);

}  // namespace data_daemon_bridge
