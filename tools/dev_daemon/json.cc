#include "dev_daemon/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "data_daemon_shared/hex.h"

namespace dev_daemon {

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string json_hex(std::span<const uint8_t> bytes) {
  return "\"" + data_daemon_shared::to_hex(bytes, data_daemon_shared::HexForm::Packed) + "\"";
}

std::string json_number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, end);
}

}  // namespace dev_daemon
