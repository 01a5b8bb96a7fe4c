#include "publisher/publisher_error.h"

#include <type_traits>

namespace data_daemon_bridge {

std::string publisher_error_text(const PublisherError& error) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, PublisherError::NodeCreate>) {
          return "failed to create iceoryx2 node: " + e.text;
        } else if constexpr (std::is_same_v<E, PublisherError::ServiceOpen>) {
          return "failed to open service: " + e.text;
        } else if constexpr (std::is_same_v<E, PublisherError::PublisherCreate>) {
          return "failed to create publisher: " + e.text;
        } else if constexpr (std::is_same_v<E, PublisherError::Loan>) {
          return "failed to loan sample: " + e.text;
        } else if constexpr (std::is_same_v<E, PublisherError::Send>) {
          return "failed to send sample: " + e.text;
        } else if constexpr (std::is_same_v<E, PublisherError::Codec>) {
          return data_daemon_shared::codec_error_text(e.error);
        } else {
          return "envelope payload " + std::to_string(e.len) + " bytes exceeds limit " +
                 std::to_string(e.limit) + " bytes";
        }
      },
      error.value);
}

bool means_no_daemon(const PublisherError& error) {
  if (const auto* open = std::get_if<PublisherError::ServiceOpen>(&error.value)) {
    return open->in_transition;
  }
  if (const auto* send = std::get_if<PublisherError::Send>(&error.value)) {
    return send->no_subscriber;
  }
  return false;
}

}  // namespace data_daemon_bridge
