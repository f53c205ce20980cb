#include "platform/locale/TextCodec.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(TextCodecTest, EveryAnsiByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);
  EXPECT_EQ(Utf8ToWide(AnsiToUtf8(all)), AnsiToWide(all));
  EXPECT_EQ(WideToUtf8(AnsiToWide(all)), AnsiToUtf8(all));
  const std::u16string wide = AnsiToWide(all);
  ASSERT_EQ(wide.size(), 256u);
  // Distinct bytes give distinct characters.
  for (int a = 0; a < 256; ++a) {
    for (int b = a + 1; b < 256; ++b) ASSERT_NE(wide[a], wide[b]) << a << " " << b;
  }
}

TEST(TextCodecTest, Windows1252HighHalf) {
  EXPECT_EQ(AnsiToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(AnsiToWide("\x8A\x9F\xE4\xDF"), u"\u0160\u0178\u00E4\u00DF");
  // The five unassigned bytes map to the C1 controls of the same value.
  EXPECT_EQ(AnsiToWide("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC \xC3\xA4"), "\x80 \xE4");
  // C1 controls other than those five have no byte.
  EXPECT_EQ(WideToAnsi(u"\u0080\u0081\u009F"), "?\x81?");
}

TEST(TextCodecTest, UnmappableCharactersBecomeOneQuestionMarkEach) {
  EXPECT_EQ(Utf8ToAnsi("a\xE6\x97\xA5\xF0\x9F\x98\x80z"), "a??z");
  EXPECT_EQ(WideToAnsi(u"a\U0001F600z"), "a?z");
}

TEST(TextCodecTest, InvalidUtf8IsReplacedPerBadSubsequence) {
  const std::u16string r = u"\uFFFD";
  EXPECT_EQ(Utf8ToWide("a\xC3"), u"a" + r);  // truncated at the end
  EXPECT_EQ(Utf8ToWide("\xE2\x82"
                       "A"),
            r + u"A");  // truncated before ASCII
  // Overlong forms of '/'.
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), r + r);
  EXPECT_EQ(Utf8ToWide("\xE0\x80\xAF"), r + r + r);
  EXPECT_EQ(Utf8ToWide("\xF0\x80\x80\xAF"), r + r + r + r);
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), r + r + r);          // encoded surrogate
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
  EXPECT_EQ(Utf8ToWide("\xFF\xFE"), r + r);
  EXPECT_EQ(Utf8ToWide("\x80"
                       "b"),
            r + u"b");
  EXPECT_EQ(Utf8ToAnsi("x\xC3(y"), "x?(y");
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(TextCodecTest, SurrogatePairs) {
  const std::string smiley = "\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8ToWide(smiley), u"\xD83D\xDE00");
  EXPECT_EQ(WideToUtf8(u"\xD83D\xDE00"), smiley);
  EXPECT_EQ(WideToUtf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
  // Unpaired halves become U+FFFD without swallowing their neighbours.
  EXPECT_EQ(WideToUtf8(u"a\xD83D"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(WideToUtf8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(WideToAnsi(u"\xD83D"), "?");
}

}  // namespace
}  // namespace platform
