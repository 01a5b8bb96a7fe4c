#include "data_daemon_shared/quoted.h"

#include <cstdio>

#include "unicode_text.h"

namespace data_daemon_shared {

namespace {

// True for the characters beyond ASCII that a message shows escaped: they move a terminal's
// cursor, reorder what follows them or break the line.
bool escaped_in_messages(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         c == 0x2028 || c == 0x2029;
}

// The escape of one character of text in the given form, or nothing when it goes as it is.
// REQUIRES: !text.empty(); `taken` is set to the bytes of text it covers.
std::string_view escape(std::string_view text, QuoteForm form, char (&buf)[16], size_t& taken) {
  const bool json = form == QuoteForm::Json;
  const Utf8Char ch = decode_utf8_char(text);
  taken = ch.length;
  if (!ch.valid) {
    if (json) return {};  // the daemon's texts are UTF-8; a stray byte goes as it came
    taken = 1;
    return {buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "\\x%02x",
                                                   static_cast<unsigned char>(text[0])))};
  }
  switch (ch.c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\0': return json ? "\\u0000" : "\\0";
    default: break;
  }
  if (json) {
    if (ch.c >= 0x20) return {};
    return {buf, static_cast<size_t>(
                     std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(ch.c)))};
  }
  if (ch.c >= 0x20 && ch.c != 0x7F && !escaped_in_messages(ch.c)) return {};
  return {buf, static_cast<size_t>(
                   std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(ch.c)))};
}

}  // namespace

size_t append_escaped(std::string& out, std::string_view text, size_t max_size, QuoteForm form) {
  size_t used = 0;
  while (used < text.size()) {
    char buf[16];
    size_t taken = 0;
    const std::string_view rest = text.substr(used);
    std::string_view piece = escape(rest, form, buf, taken);
    if (piece.empty()) piece = rest.substr(0, taken);
    if (out.size() + piece.size() > max_size) break;
    out += piece;
    used += taken;
  }
  return used;
}

std::string quoted(std::string_view text, QuoteForm form) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  append_escaped(out, text, std::string::npos, form);
  out += '"';
  return out;
}

}  // namespace data_daemon_shared
