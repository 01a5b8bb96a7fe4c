#include "data_daemon_shared/byte_size.h"

#include <gtest/gtest.h>

#include <variant>

#include "unicode_text.h"

namespace data_daemon_shared {
namespace {

constexpr int64_t kI64Max = 9'223'372'036'854'775'807;

// An input and either its size or the first words of its error; the error's placeholder is
// always the input as passed.
struct SizeCase {
  std::string input;
  std::variant<int64_t, const char*> expected;
};

constexpr const char* kInvalid = "Invalid byte value";
constexpr const char* kUnit = "Unknown byte unit in value";
constexpr const char* kRange = "Byte value out of range";

TEST(ParseByteSize, Table) {
  const SizeCase cases[] = {
      {"1024", 1024},
      {" 2G ", 2'147'483'648},
      {"512m", 536'870'912},
      {"512MB", 536'870'912},
      {"7b", 7},
      {"0", 0},
      {"0k", 0},
      {"007", 7},
      {"KB1", 1024},       // the unit may stand anywhere
      {"1k0", 10'240},     // digits after the unit join the number
      {"1\u212AB", 1024},  // the Kelvin sign lower-cases to k
      {"\u3000\u00A0"
       "4mb\u2029\t",
       4'194'304},  // Unicode White_Space trimmed
      {"9223372036854775807", kI64Max},
      {"8589934591g", 9'223'372'035'781'033'984},
      {"10 kb", kUnit},  // the space belongs to the unit
      {"-5", kUnit},     // so does a sign
      {"1.5g", kUnit},   // and a decimal point: the unit is ".g"
      {"10t", kUnit},
      {"10kib", kUnit},
      {"5bytes", kUnit},
      {"\u0661\u0660k", kInvalid},  // Arabic-Indic digits are no digits
      {"5\u0661k", kUnit},          // ... but part of the unit
      {" 5X ", kUnit},
      {"", kInvalid},
      {"   ", kInvalid},
      {"kb", kInvalid},
      {"9223372036854775808", kInvalid},
      {"9223372036854775808k", kInvalid},  // the number is tested before the unit
      {"99999999999999999999zz", kInvalid},
      {"8589934592g", kRange},
      {"9007199254740992k", kRange},
  };
  for (const auto& c : cases) {
    const auto result = parse_byte_size(c.input);
    if (const auto* value = std::get_if<int64_t>(&c.expected)) {
      ASSERT_TRUE(result.ok()) << "'" << c.input << "': " << result.error();
      EXPECT_EQ(result.value(), *value) << "'" << c.input << "'";
    } else {
      ASSERT_FALSE(result.ok()) << "'" << c.input << "' gave " << result.value();
      EXPECT_EQ(result.error(),
                std::string(std::get<const char*>(c.expected)) + ": '" + c.input + "'");
    }
  }
}

TEST(ParseByteSize, CollectorsPartitionByCharacter) {
  const std::string text = "a1\u00E92 3\u0663-";
  EXPECT_EQ(collect_digits(text), "123");
  EXPECT_EQ(collect_non_digits(text), "a\u00E9 \u0663-");
  EXPECT_EQ(collect_digits(""), "");
  EXPECT_EQ(collect_non_digits("0042"), "");
}

TEST(UnicodeText, LowerCaseAndTrim) {
  EXPECT_EQ(to_lower("ABC xyz 09"), "abc xyz 09");
  EXPECT_EQ(to_lower("\u212A\u00C4\u0100\u0391\u03A3\u0130\u0416\u10A0\U00010400"),
            "k\u00E4\u0101\u03B1\u03C3i\u0307\u0436\u2D00\U00010428");
  EXPECT_EQ(to_lower("\u0101\u00DF\u2C00"), "\u0101\u00DF\u2C30");
  EXPECT_EQ(to_lower("A\xFF"
                     "B\xE2\x82"),
            "a\xFF"
            "b\xE2\x82");  // broken bytes kept

  EXPECT_EQ(trim_white_space("\u0085\u1680\u205F x y\u200A\u202F"), "x y");
  EXPECT_EQ(trim_white_space("\u200B x \u200B"), "\u200B x \u200B");  // zero width: no space
  EXPECT_EQ(trim_white_space(" \t\n"), "");

  EXPECT_TRUE(is_valid_utf8("a\u00E9\U0001F600"));
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << bad;
  }
  // Each maximal broken sequence becomes one replacement character.
  EXPECT_EQ(to_valid_utf8("a\xE2\x82z\xFF\xC0\xAF"), "a\uFFFDz\uFFFD\uFFFD\uFFFD");
}

}  // namespace
}  // namespace data_daemon_shared
