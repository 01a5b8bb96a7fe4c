// A user-given or system text shown inside a message: in double quotes, on one line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace data_daemon_shared {

// How quoted writes the control characters other than "\n", "\r" and "\t".
enum class QuoteForm : uint8_t {
  Message,  // "\0", "\u{1b}", and DEL too ("\u{7f}"): how messages and log lines show a text
  Json,     // "\u0000", "\u001b"; DEL as it is: a JSON string
};

// text in double quotes, with backslash escapes for '"', '\\' and control characters ("\n",
// "\0", "\u{1b}", ... in the message form); UTF-8 sequences pass through whole.
std::string quoted(std::string_view text, QuoteForm form = QuoteForm::Message);

}  // namespace data_daemon_shared
