#include "data_daemon_shared/yaml_scalar.h"

#include <cmath>
#include <cstdlib>

namespace data_daemon_shared {

namespace {

bool is_one_of(std::string_view text, std::initializer_list<std::string_view> words) {
  for (auto w : words) {
    if (text == w) return true;
  }
  return false;
}

bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Splits off a leading "+" or "-"; returns whether it was "-".
bool take_sign(std::string_view& text) {
  if (text.empty() || (text[0] != '+' && text[0] != '-')) return false;
  const bool negative = text[0] == '-';
  text.remove_prefix(1);
  return negative;
}

// A run of decimal digits that is "0" or does not start with "0".
bool is_unpadded_decimal(std::string_view digits) {
  if (digits.empty()) return false;
  for (char c : digits) {
    if (!is_decimal_digit(c)) return false;
  }
  return digits.size() == 1 || digits[0] != '0';
}

// Whether text is an integer of the plain-scalar forms; value is set when it fits i64.
bool read_integer(std::string_view text, std::optional<int64_t>& value) {
  const bool negative = take_sign(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o' || text[1] == 'b')) {
    base = text[1] == 'x' ? 16 : text[1] == 'o' ? 8 : 2;
    text.remove_prefix(2);
  } else if (!is_unpadded_decimal(text)) {
    return false;
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  bool overflow = false;
  for (char c : text) {
    const int d = digit_value(c);
    if (d >= base) return false;
    overflow = overflow || __builtin_mul_overflow(magnitude, uint64_t(base), &magnitude) ||
               __builtin_add_overflow(magnitude, uint64_t(d), &magnitude);
  }
  value.reset();
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (!overflow && magnitude <= limit) {
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  }
  return true;
}

// Whether text is a decimal floating-point number whose value is finite as a double.
bool is_finite_decimal(std::string_view text) {
  take_sign(text);
  size_t i = 0;
  const auto digits = [&] {
    const size_t start = i;
    while (i < text.size() && is_decimal_digit(text[i])) ++i;
    return text.substr(start, i - start);
  };
  const std::string_view whole = digits();
  std::string_view fraction;
  const bool has_point = i < text.size() && text[i] == '.';
  if (has_point) {
    ++i;
    fraction = digits();
  }
  if (whole.empty() && fraction.empty()) return false;
  if (!whole.empty() && !is_unpadded_decimal(whole)) return false;
  long long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    std::string_view rest = text.substr(i);
    const bool negative = take_sign(rest);
    i = text.size() - rest.size();
    const std::string_view exp_digits = digits();
    if (exp_digits.empty()) return false;
    for (char c : exp_digits) {
      exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000LL);  // past any double
    }
    if (negative) exponent = -exponent;
  } else if (!has_point) {
    return false;  // digits alone are an integer or, with a leading zero, text
  }
  if (i != text.size()) return false;
  // Rewritten as "<digits>e<exponent>" the number holds no decimal point, so strtod reads it
  // the same in every locale.
  std::string plain(whole);
  plain += fraction;
  plain += 'e';
  plain += std::to_string(exponent - static_cast<long long>(fraction.size()));
  return std::isfinite(std::strtod(plain.c_str(), nullptr));
}

bool is_special_float(std::string_view text) {
  if (is_one_of(text, {".nan", ".NaN", ".NAN"})) return true;
  take_sign(text);
  return is_one_of(text, {".inf", ".Inf", ".INF"});
}

}  // namespace

PlainScalar classify_plain_scalar(std::string_view text) {
  PlainScalar result;
  if (is_one_of(text, {"", "~", "null", "Null", "NULL"})) {
    result.kind = PlainScalarKind::Null;
  } else if (is_one_of(text, {"true", "True", "TRUE"})) {
    result.kind = PlainScalarKind::Boolean;
    result.boolean = true;
  } else if (is_one_of(text, {"false", "False", "FALSE"})) {
    result.kind = PlainScalarKind::Boolean;
  } else if (read_integer(text, result.integer)) {
    result.kind = PlainScalarKind::Integer;
  } else if (is_special_float(text) || is_finite_decimal(text)) {
    result.kind = PlainScalarKind::Float;
  }
  return result;
}

Result<bool, YamlError> is_yaml_null(const YamlNode& node) {
  if (!node.is_plain_scalar()) return false;
  if (node.tag == kYamlNullTag) {
    if (is_one_of(node.text, {"~", "null", "Null", "NULL"})) return true;
    // The tag asks for null, so the text is reported as the string it is.
    return Err(YamlError{"invalid value: string \"" + node.text + "\", expected null", node.line,
                         node.column});
  }
  return classify_plain_scalar(node.text).kind == PlainScalarKind::Null;
}

std::string describe_yaml_value(const YamlNode& node) {
  switch (node.kind) {
    case YamlNodeKind::Sequence: return "sequence";
    case YamlNodeKind::Mapping: return "map";
    case YamlNodeKind::Scalar: break;
  }
  if (node.is_plain_scalar()) {
    switch (classify_plain_scalar(node.text).kind) {
      case PlainScalarKind::Null: return "null";
      case PlainScalarKind::Boolean: return "boolean `" + node.text + "`";
      case PlainScalarKind::Integer: return "integer `" + node.text + "`";
      case PlainScalarKind::Float: return "floating point `" + node.text + "`";
      case PlainScalarKind::Text: break;
    }
  }
  return "string \"" + node.text + "\"";
}

YamlError yaml_invalid_type(const YamlNode& found, std::string_view expected) {
  return YamlError{
      "invalid type: " + describe_yaml_value(found) + ", expected " + std::string(expected),
      found.line, found.column};
}

YamlError yaml_invalid_value(const YamlNode& found, std::string_view expected) {
  return YamlError{
      "invalid value: " + describe_yaml_value(found) + ", expected " + std::string(expected),
      found.line, found.column};
}

}  // namespace data_daemon_shared
