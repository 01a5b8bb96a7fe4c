// The log target of the video writer's events.
#pragma once

#include <string_view>

namespace data_daemon_bridge {

inline constexpr std::string_view WRITER_LOG_TARGET = "data_daemon_bridge::writer";

}  // namespace data_daemon_bridge
