#include "orvik/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Text, QuotedLiteral) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"12x", "\"12x\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\t\r\n", "\"\\t\\r\\n\""},
      {"e\xcc\x81", "\"e\\u{301}\""},     // combining acute accent
      {"\x1b[0m", "\"\\u{1b}[0m\""},      // escape control
      {"\xe2\x80\xa8", "\"\\u{2028}\""},  // line separator
      {"caf\xc3\xa9 \xe2\x80\x94", "\"café —\""},
      {"\xc2\xa0", "\"\xc2\xa0\""},       // no-break space is printable
      {"\xef\xbb\xbf", "\"\\u{feff}\""},  // format character
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(text::quoted_literal(c.in), c.want);
  }
  EXPECT_EQ(text::quoted_literal(std::string_view("a\0b", 3)), "\"a\\0b\"");
}

TEST(Text, TrimUsesUnicodeWhiteSpace) {
  EXPECT_EQ(text::trim(" \t\n key \r\n"), "key");
  EXPECT_EQ(text::trim("\xe3\x80\x80"
                       "k"
                       "\xc2\xa0"),
            "k");  // ideographic space, no-break space
  EXPECT_EQ(text::trim("   "), "");
  EXPECT_EQ(text::trim("a b"), "a b");
  EXPECT_EQ(text::trim("\xff "), "\xff");
}

TEST(Text, Utf8) {
  EXPECT_TRUE(text::is_valid_utf8("caf\xc3\xa9"));
  EXPECT_FALSE(text::is_valid_utf8("caf\xe9"));
  EXPECT_FALSE(text::is_valid_utf8("\xed\xa0\x80"));  // surrogate
  EXPECT_FALSE(text::is_valid_utf8("\xc0\xaf"));      // overlong
  EXPECT_EQ(text::utf8_lossy("a\xe2\x82"
                             "b\xff"),
            "a\xef\xbf\xbd"
            "b\xef\xbf\xbd");
  EXPECT_EQ(text::char_count("h\xc3\xa9llo\xf0\x9f\x98\x80"), 6u);
  EXPECT_EQ(text::first_chars("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9");
  EXPECT_EQ(text::to_lower("HIGH Minimal \xc3\x89"), "high minimal \xc3\xa9");
}

}  // namespace
