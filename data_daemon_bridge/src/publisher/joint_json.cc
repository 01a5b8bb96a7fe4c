#include "publisher/joint_json.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace data_daemon_bridge {

namespace {

using data_daemon_shared::Err;

// The shortest round-trip digits of a finite, positive x, and its decimal exponent E:
// x = d1.d2...dn × 10^E, d1 non-zero, no trailing zeros.
struct ShortestDigits {
  char digits[20];  // at most 17 significant digits
  int count = 0;
  int exponent = 0;
};

// std::to_chars in scientific form without a precision writes exactly the shortest digits
// ("d.ddde+XX"), choosing the closest where several are shortest.
bool shortest_digits(double x, ShortestDigits& out) {
  char buffer[32];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
  if (ec != std::errc()) return false;
  const std::string_view text(buffer, end - buffer);
  const size_t e = text.find('e');
  if (e == std::string_view::npos) return false;
  for (char c : text.substr(0, e)) {
    if (c == '.') continue;
    if (out.count == int(sizeof out.digits)) return false;
    out.digits[out.count++] = c;
  }
  while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
  int exponent = 0;
  std::string_view exp_text = text.substr(e + 1);
  if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
  const auto parsed = std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  if (parsed.ec != std::errc() || out.count == 0) return false;
  out.exponent = exponent;
  return true;
}

// Returns false only if formatting failed; `out` is then unchanged.
bool append_finite(std::string& out, double x) {
  const bool negative = std::signbit(x);
  const double magnitude = std::fabs(x);
  if (magnitude == 0) {
    out += negative ? "-0.0" : "0.0";
    return true;
  }
  ShortestDigits d;
  if (!shortest_digits(magnitude, d)) return false;
  if (negative) out += '-';
  const std::string_view digits(d.digits, d.count);
  const int n = d.count;
  const int e = d.exponent;
  if (e >= -5 && e <= 15) {
    if (e >= n - 1) {
      out += digits;
      out.append(e - n + 1, '0');
      out += ".0";
    } else if (e >= 0) {
      out += digits.substr(0, e + 1);
      out += '.';
      out += digits.substr(e + 1);
    } else {
      out += "0.";
      out.append(-e - 1, '0');
      out += digits;
    }
  } else {
    out += digits[0];
    if (n > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += 'e';
    out += e > 0 ? '+' : '-';
    out += std::to_string(std::abs(e));
  }
  return true;
}

}  // namespace

bool append_json_number(std::string& out, double x) {
  if (std::isfinite(x)) return append_finite(out, x);
  out += "null";
  return true;
}

data_daemon_shared::Result<std::vector<uint8_t>, std::string> render_joint_sample_json(
    double timestamp, double value) {
  std::string text;
  text.reserve(128);  // more than the longest object, so it never grows
  text += "{\"timestamp\":";
  if (!append_json_number(text, timestamp)) return Err(std::string("cannot format timestamp"));
  text += ",\"value\":";
  if (!append_json_number(text, value)) return Err(std::string("cannot format value"));
  text += '}';
  std::vector<uint8_t> bytes;
  bytes.reserve(128);
  bytes.assign(text.begin(), text.end());
  return bytes;
}

}  // namespace data_daemon_bridge
