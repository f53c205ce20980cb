// Quoting what the user typed in a message.
#include <gtest/gtest.h>

#include "app/UserText.h"

using tilgung::QuoteUserText;

TEST(UserText, EscapesControlsAndInvalidUtf8AndCutsLongTexts) {
  const struct {
    std::string in;
    std::size_t limit;
    std::string out;
  } cases[] = {
      {"10000", 60, "\"10000\""},
      {"", 60, "\"\""},
      {"zwei\nZeilen\r\t", 60, "\"zwei\\nZeilen\\r\\t\""},
      {std::string("a\0b", 3), 60, "\"a\\x00b\""},
      {"\x1b[31mrot", 60, "\"\\x1B[31mrot\""},
      {"del\x7f", 60, "\"del\\x7F\""},
      {"\xc2\x85", 60, "\"\\u0085\""},                 // C1 control NEL
      {"a\u202Eb", 60, "\"a\\u202Eb\""},               // right-to-left override (Cf)
      {"a\u2028b\u2029", 60, "\"a\\u2028b\\u2029\""},  // line, paragraph separator
      {"zero\u200Bwidth\uFEFF", 60, "\"zero\\u200Bwidth\\uFEFF\""},
      {"tag\U000E0041", 60, "\"tag\\U000E0041\""},  // tag character (Cf)
      {"\u00A0\u00AD", 60, "\"\u00A0\\u00AD\""},    // no-break space stays, soft hyphen (Cf) not
      {"f\xfcr", 60, "\"f\\xFCr\""},                // Latin-1, not UTF-8
      {"\xe2\x82", 60, "\"\\xE2\\x82\""},           // sequence cut short
      {"\xc0\xaf", 60, "\"\\xC0\\xAF\""},           // overlong form
      {"\xed\xa0\x80", 60, "\"\\xED\\xA0\\x80\""},  // surrogate
      {"jährlich €", 60, "\"jährlich €\""},         // valid UTF-8 stays
      {"say \"x\" \\", 60, "\"say \\\"x\\\" \\\\\""},
      {"äöüäöü", 3, "\"äöü\"…"},  // cut by characters, not bytes
      {"abc", 3, "\"abc\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuoteUserText(c.in, c.limit), c.out) << c.in;
  }
}

TEST(UserText, ALongTextIsCutToTheLimit) {
  const std::string quoted = QuoteUserText(std::string(10000, 'x'));
  EXPECT_EQ(quoted, "\"" + std::string(tilgung::kQuotedTextLimit, 'x') + "\"…");
}
