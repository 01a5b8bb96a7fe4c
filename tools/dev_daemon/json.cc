#include "dev_daemon/json.h"

#include <charconv>
#include <cmath>

#include "data_daemon_shared/hex.h"
#include "data_daemon_shared/quoted.h"

namespace dev_daemon {

std::string json_string(std::string_view text) {
  return data_daemon_shared::quoted(text, data_daemon_shared::QuoteForm::Json);
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
