#include "data_daemon_shared/quoted.h"

#include <gtest/gtest.h>

#include <string>

namespace data_daemon_shared {
namespace {

TEST(Quoted, MessageAndJsonFormsDifferOnlyInControlCharacters) {
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
      {"\xff", "\"\xff\"", "\"\xff\""},  // bytes that are not UTF-8 pass through too
  };
  // Qualified: std::quoted would be found for a std::string argument.
  for (const auto& c : cases) {
    EXPECT_EQ(data_daemon_shared::quoted(c.text), c.message) << c.json;
    EXPECT_EQ(data_daemon_shared::quoted(c.text, QuoteForm::Json), c.json);
  }
}

}  // namespace
}  // namespace data_daemon_shared
