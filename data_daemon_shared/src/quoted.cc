#include "data_daemon_shared/quoted.h"

#include <cstdio>

namespace data_daemon_shared {

std::string quoted(std::string_view text, QuoteForm form) {
  const bool json = form == QuoteForm::Json;
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += json ? "\\u0000" : "\\0"; break;
      default:
        if (byte < 0x20 || (byte == 0x7F && !json)) {
          char escape[8];
          if (json) {
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          } else {
            std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
          }
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace data_daemon_shared
