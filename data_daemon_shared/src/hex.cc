#include "data_daemon_shared/hex.h"

namespace data_daemon_shared {

namespace {

std::optional<uint8_t> digit_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

bool is_white_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string to_hex(std::span<const uint8_t> bytes, HexForm form) {
  const char* digits = form == HexForm::Packed ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (form == HexForm::Spaced && i > 0) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xF];
  }
  return out;
}

std::optional<std::vector<uint8_t>> parse_hex(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size();) {
    if (is_white_space(text[i])) {
      ++i;
      continue;
    }
    if (i + 1 == text.size()) return std::nullopt;
    const auto high = digit_value(text[i]);
    const auto low = digit_value(text[i + 1]);
    if (!high || !low) return std::nullopt;
    out.push_back(static_cast<uint8_t>(*high << 4 | *low));
    i += 2;
  }
  return out;
}

}  // namespace data_daemon_shared
