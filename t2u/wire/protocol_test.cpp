#include "t2u/wire/protocol.h"

#include <gtest/gtest.h>

namespace t2u::wire {
namespace {

TEST(ProtocolText, RoundTripsAnyTextAsOneWord) {
  const std::string cases[] = {"", "dev-1", "vakP60372", "two words", "100%", "tab\there", "caf\xc3\xa9", "%41"};
  for (const std::string& text : cases) {
    std::string word = encode_text(text);
    EXPECT_FALSE(word.empty()) << text;
    EXPECT_EQ(word.find(' '), std::string::npos) << text;
    EXPECT_EQ(word.find('\n'), std::string::npos) << text;
    auto back = decode_text(word);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, text);
  }
}

TEST(ProtocolText, RefusesMalformedWords) {
  const std::string cases[] = {"", "ab%", "ab%4", "%zz", "%00", "a%0", std::string("a\0b", 3), "a\tb", "caf\xc3\xa9",
                               "a\x7f"};
  for (const std::string& word : cases) EXPECT_FALSE(decode_text(word).has_value()) << word;
}

TEST(ProtocolWords, SplitsOnSpacesAndParsesNumbers) {
  auto w = split_words("  STATUS 7  -3 2 ");
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], "STATUS");
  EXPECT_EQ(parse_unsigned(w[1], 10), 7u);
  EXPECT_EQ(parse_signed(w[2]), -3);
  EXPECT_FALSE(parse_unsigned("70000", 65535).has_value());
  EXPECT_FALSE(parse_unsigned("-1", 65535).has_value());
  EXPECT_FALSE(parse_unsigned("12x", 65535).has_value());
  EXPECT_FALSE(parse_signed("").has_value());
}

}  // namespace
}  // namespace t2u::wire
