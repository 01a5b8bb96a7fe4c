// A user-given or system text shown inside a message: in double quotes, on one line.
#pragma once

#include <string>
#include <string_view>

namespace data_daemon_shared {

// text in double quotes, with backslash escapes for '"', '\\' and control characters ("\n",
// "\0", "\u{1b}", ...); UTF-8 sequences pass through whole.
std::string quoted(std::string_view text);

}  // namespace data_daemon_shared
