#include "data_daemon_shared/quoted.h"

#include <gtest/gtest.h>

#include <string>

namespace data_daemon_shared {
namespace {

TEST(Quoted, MessageAndJsonFormsDifferInWhatTheyEscape) {
  const struct {
    std::string text;
    const char* message;
    const char* json;
  } cases[] = {
      {"", R"("")", R"("")"},
      {"uint8 \u00E9\U0001F600", "\"uint8 \u00E9\U0001F600\"", "\"uint8 \u00E9\U0001F600\""},
      {"a\"b\\c", R"("a\"b\\c")", R"("a\"b\\c")"},
      {"\n\r\t", R"("\n\r\t")", R"("\n\r\t")"},
      {std::string("\0", 1), R"("\0")", R"("\u0000")"},
      {"\x01\x1b\x1f", R"("\u{1}\u{1b}\u{1f}")", R"("\u0001\u001b\u001f")"},
      {"\x7f", R"("\u{7f}")", "\"\x7f\""},
      // What would steer a terminal: C1 controls (CSI among them), the bidirectional controls,
      // the line and paragraph separators; their neighbours pass.
      {"\u0080\u009b\u009f", R"("\u{80}\u{9b}\u{9f}")", "\"\u0080\u009b\u009f\""},
      {"\u202a\u202e\u2066\u2069", R"("\u{202a}\u{202e}\u{2066}\u{2069}")",
       "\"\u202a\u202e\u2066\u2069\""},
      {"a\u2028b\u2029", R"("a\u{2028}b\u{2029}")", "\"a\u2028b\u2029\""},
      {"\u00a0\u2027\u202f\u2065\u206a", "\"\u00a0\u2027\u202f\u2065\u206a\"",
       "\"\u00a0\u2027\u202f\u2065\u206a\""},
      // Bytes that are not UTF-8: one escape a byte in a message, as they are in JSON.
      {"\xff", R"("\xff")", "\"\xff\""},
      {"a\xc2\x9b\xe2\x80", R"("a\u{9b}\xe2\x80")", "\"a\xc2\x9b\xe2\x80\""},
  };
  // Qualified: std::quoted would be found for a std::string argument.
  for (const auto& c : cases) {
    EXPECT_EQ(data_daemon_shared::quoted(c.text), c.message) << c.json;
    EXPECT_EQ(data_daemon_shared::quoted(c.text, QuoteForm::Json), c.json);
  }
}

TEST(Quoted, AppendEscapedStopsBeforeTheFirstCharacterThatDoesNotFit) {
  const struct {
    std::string_view text;
    size_t max_size;
    size_t taken;
    const char* out;
  } cases[] = {
      {"abc", 10, 3, "abc"},         {"abc", 2, 2, "ab"},
      {"a\u00e9b", 2, 1, "a"},                             // never half of the two bytes of U+00E9
      {"a\u00e9b", 3, 3, "a\u00e9"}, {"a\nb", 2, 1, "a"},  // never half of an escape
      {"a\x1b", 6, 1, "a"},          {"a\x1b", 7, 2, "a\\u{1b}"},
      {"\U0001F600x", 3, 0, ""},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(append_escaped(out, c.text, c.max_size), c.taken) << c.out;
    EXPECT_EQ(out, c.out);
  }
}

}  // namespace
}  // namespace data_daemon_shared
