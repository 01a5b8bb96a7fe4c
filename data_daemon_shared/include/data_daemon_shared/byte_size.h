// Byte sizes written as text: a number of bytes, or digits and a unit such as 512m or 2GB.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data_daemon_shared/result.h"

namespace data_daemon_shared {

// Reads a byte size. The input is trimmed of Unicode White_Space and lower-cased; a text of
// ASCII digits alone is a number of bytes. Otherwise its ASCII digits, wherever they stand, form
// the number and all its other characters the unit, which must be one of b, k, kb, m, mb, g, gb
// (powers of two): "1k0" is 10 KiB, while "10 kb" (a unit with a space), "-5" and "1.5g" are
// refused. A size read from text is never negative.
//
// The error is the display text, one of
//   "Invalid byte value: '<input>'"          no digits, no unit, or a number past i64
//   "Unknown byte unit in value: '<input>'"  a unit outside the table
//   "Byte value out of range: '<input>'"     number times unit past i64
// with the input exactly as passed, untrimmed.
Result<int64_t, std::string> parse_byte_size(std::string_view input);

// The ASCII digits "0" to "9" of text, in order.
std::string collect_digits(std::string_view text);

// Every character of text that is not an ASCII digit, in order.
std::string collect_non_digits(std::string_view text);

}  // namespace data_daemon_shared
