#include "data_daemon_shared/byte_size.h"

#include <algorithm>
#include <optional>

#include "unicode_text.h"

namespace data_daemon_shared {

namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number of ASCII digits (leading zeros allowed), or nothing past i64.
// REQUIRES: digits is non-empty and holds ASCII digits only.
std::optional<int64_t> read_decimal(std::string_view digits) {
  int64_t value = 0;
  for (char c : digits) {
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, c - '0', &value))
      return std::nullopt;
  }
  return value;
}

std::optional<int64_t> unit_multiplier(std::string_view unit) {
  if (unit == "b") return 1;
  if (unit == "k" || unit == "kb") return int64_t{1} << 10;
  if (unit == "m" || unit == "mb") return int64_t{1} << 20;
  if (unit == "g" || unit == "gb") return int64_t{1} << 30;
  return std::nullopt;
}

Err<std::string> byte_size_error(const char* what, std::string_view input) {
  return Err(std::string(what) + ": '" + std::string(input) + "'");
}

}  // namespace

std::string collect_digits(std::string_view text) {
  // ASCII bytes never occur inside a multi-byte UTF-8 sequence, so filtering bytes filters
  // characters.
  std::string out;
  std::copy_if(text.begin(), text.end(), std::back_inserter(out), is_ascii_digit);
  return out;
}

std::string collect_non_digits(std::string_view text) {
  std::string out;
  std::copy_if(text.begin(), text.end(), std::back_inserter(out),
               [](char c) { return !is_ascii_digit(c); });
  return out;
}

Result<int64_t, std::string> parse_byte_size(std::string_view input) {
  const std::string s = to_lower(trim_white_space(input));
  if (!s.empty() && std::all_of(s.begin(), s.end(), is_ascii_digit)) {
    if (auto value = read_decimal(s)) return *value;
    return byte_size_error("Invalid byte value", input);
  }
  const std::string digits = collect_digits(s);
  const std::string unit = collect_non_digits(s);
  if (digits.empty() || unit.empty()) return byte_size_error("Invalid byte value", input);
  const auto number = read_decimal(digits);
  if (!number) return byte_size_error("Invalid byte value", input);
  const auto multiplier = unit_multiplier(unit);
  if (!multiplier) return byte_size_error("Unknown byte unit in value", input);
  int64_t bytes;
  if (__builtin_mul_overflow(*number, *multiplier, &bytes))
    return byte_size_error("Byte value out of range", input);
  return bytes;
}

}  // namespace data_daemon_shared
