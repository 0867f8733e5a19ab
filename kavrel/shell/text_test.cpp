#include "kavrel/shell/text.h"

#include <gtest/gtest.h>

namespace {

TEST(ScriptText, WideToNarrowCountsBytes) {
  struct Case {
    std::u16string wide;
    std::string narrow;
  } cases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {u"Padrão", "Padr\xc3\xa3o"},                   // two bytes for one character
      {u"\u20ac", "\xe2\x82\xac"},                     // three bytes
      {u"\U0001F600", "\xf0\x9f\x98\x80"},            // a surrogate pair becomes four bytes
      {std::u16string(1, u'\xD800') + u"x", "\xef\xbf\xbdx"},  // a lone surrogate is replaced
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kavrel::to_narrow(c.wide), c.narrow);
    EXPECT_EQ(kavrel::to_narrow(c.wide).size(), c.narrow.size());
  }
  EXPECT_EQ(kavrel::to_narrow(static_cast<const char16_t*>(nullptr)), "");
}

TEST(ScriptText, NarrowToWideReplacesWhatIsNotUtf8) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  } cases[] = {
      {"Reconectar", u"Reconectar"},
      {"Ch\xc3\xa3o", u"Chão"},
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\xc3", u"\uFFFD"},                 // cut short at the end
      {"\xc3(", u"\uFFFD("},               // a continuation byte missing
      {"\xc0\xaf", u"\uFFFD\uFFFD"},       // an overlong form
      {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"\xff", u"\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(kavrel::to_wide(c.narrow), c.wide) << c.narrow;
  EXPECT_EQ(kavrel::to_wide(static_cast<const char*>(nullptr)), u"");
}

}  // namespace
