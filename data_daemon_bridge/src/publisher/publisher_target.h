// The log target of the daemon link's publishing side.
#pragma once

#include <string_view>

namespace data_daemon_bridge {

inline constexpr std::string_view kPublisherTarget = "data_daemon_bridge::publisher";

}  // namespace data_daemon_bridge
