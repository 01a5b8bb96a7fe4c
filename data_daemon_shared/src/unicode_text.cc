#include "unicode_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>

namespace data_daemon_shared {

Utf8Char decode_utf8_char(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t b0 = byte(0);
  if (b0 < 0x80) return {b0, 1, true};
  size_t length;
  char32_t c;
  uint8_t low = 0x80;  // the range of the second byte; later bytes are 0x80 to 0xBF
  uint8_t high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, c = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, c = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  for (size_t i = 1; i < length; ++i) {
    if (i >= text.size() || byte(i) < low || byte(i) > high) return {0, i, false};
    c = (c << 6) | (byte(i) & 0x3F);
    low = 0x80, high = 0xBF;
  }
  return {c, length, true};
}

namespace {

std::optional<Utf8Char> decode(std::string_view text) {
  const Utf8Char d = decode_utf8_char(text);
  if (!d.valid) return std::nullopt;
  return d;
}

// The start of the last character of text, if it is well-formed.
// REQUIRES: !text.empty()
std::optional<Utf8Char> decode_last(std::string_view text) {
  size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80)
    --start;
  auto d = decode(text.substr(start));
  if (!d || start + d->length != text.size()) return std::nullopt;
  return d;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The one-to-one lower-case mappings of Unicode 14, as runs: every character from first to last
// in steps of stride maps to itself plus delta. Sorted by first; runs do not overlap.
struct LowerRun {
  char32_t first;
  char32_t last;
  int32_t delta;
  uint8_t stride;
};

constexpr LowerRun kLowerRuns[] = {
#include "unicode_lower_runs.inc"
};

char32_t lower_one(char32_t c) {
  const auto* run = std::upper_bound(std::begin(kLowerRuns), std::end(kLowerRuns), c,
                                     [](char32_t v, const LowerRun& r) { return v < r.first; });
  if (run == std::begin(kLowerRuns)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->stride != 0) return c;
  return static_cast<char32_t>(static_cast<int32_t>(c) + run->delta);
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  while (!text.empty()) {
    auto d = decode(text);
    if (!d) return false;
    text.remove_prefix(d->length);
  }
  return true;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  while (!text.empty()) {
    auto d = decode(text);
    if (!d || !is_white_space(d->c)) break;
    text.remove_prefix(d->length);
  }
  while (!text.empty()) {
    auto d = decode_last(text);
    if (!d || !is_white_space(d->c)) break;
    text.remove_suffix(d->length);
  }
  return text;
}

std::string to_valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const Utf8Char d = decode_utf8_char(text);
    out += d.valid ? text.substr(0, d.length) : "\xEF\xBF\xBD";  // U+FFFD
    text.remove_prefix(d.length);
  }
  return out;
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    auto d = decode(text);
    if (!d) {
      out += text[0];
      text.remove_prefix(1);
      continue;
    }
    if (d->c == 0x130) {  // LATIN CAPITAL LETTER I WITH DOT ABOVE: i and COMBINING DOT ABOVE
      out += "i\xCC\x87";
    } else {
      append_utf8(out, lower_one(d->c));
    }
    text.remove_prefix(d->length);
  }
  return out;
}

}  // namespace data_daemon_shared
