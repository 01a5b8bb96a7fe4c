// The few Unicode text operations configuration reading needs, on UTF-8 text, without a Unicode
// library: validity, White_Space trimming and the full lower-case mapping.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace data_daemon_shared {

// One character at the start of a UTF-8 text and the number of bytes it took. When the bytes are
// not well-formed, valid is false and length covers the maximal ill-formed subpart (at least one
// byte): the bytes that began a well-formed sequence before it broke off.
struct Utf8Char {
  char32_t c;
  size_t length;
  bool valid;
};

// The character at the start of text, by the well-formed byte sequences of UTF-8 (no overlong
// forms, no surrogates, nothing past U+10FFFF). REQUIRES: !text.empty()
Utf8Char decode_utf8_char(std::string_view text);

// True when text is well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
// The one check for both the configuration's texts and the wire format's (postcard.h).
bool is_valid_utf8(std::string_view text);

// True for the Unicode White_Space characters: U+0009 to U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
bool is_white_space(char32_t c);

// text without its leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view text);

// text with each maximal ill-formed byte sequence replaced by U+FFFD.
std::string to_valid_utf8(std::string_view text);

// text with every character replaced by its full lower-case mapping (U+0130 becomes two
// characters, the Kelvin sign becomes "k"). Sigma is always mapped to U+03C3: the word-final
// form is a context rule that comparisons against ASCII words never need. Bytes that are not
// valid UTF-8 are kept as they are.
std::string to_lower(std::string_view text);

}  // namespace data_daemon_shared
