// A user-given or system text shown inside a message: in double quotes, on one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace data_daemon_shared {

// How quoted writes what a reader must not receive raw.
enum class QuoteForm : uint8_t {
  // How messages and log lines show a text to a person at a terminal: "\0", "\u{1b}" for the C0
  // controls and DEL, and the same form for the C1 controls ("\u{9b}"), the bidirectional
  // controls (U+202A to U+202E, U+2066 to U+2069) and the line and paragraph separators (U+2028,
  // U+2029), none of which may reach a terminal raw; bytes that are not UTF-8 as "\xff".
  Message,
  // A JSON string: "\u0000", "\u001b" for the C0 controls; everything else as it is.
  Json,
};

// text in double quotes, with backslash escapes for '"', '\\' and the characters its form
// escapes ("\n", "\r" and "\t" in both); other UTF-8 sequences pass through whole.
std::string quoted(std::string_view text, QuoteForm form = QuoteForm::Message);

// Appends text to out in quoted's form without the quotes, a whole character (escape included)
// at a time, for as long as out stays at most max_size bytes long. Returns how many bytes of text
// went in: text.size() unless a character did not fit.
size_t append_escaped(std::string& out, std::string_view text, size_t max_size,
                      QuoteForm form = QuoteForm::Message);

}  // namespace data_daemon_shared
