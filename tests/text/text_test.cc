#include "text/text.h"

#include <gtest/gtest.h>

namespace kelp::text {
namespace {

TEST(TextTest, CaseMappingIsFullUnicode) {
  EXPECT_EQ(toUpper("straße api_key"), "STRASSE API_KEY");
  EXPECT_EQ(toLower("ÇA VA ΣΟΦΙΑ"), "ça va σοφια");
  EXPECT_EQ(toLower("İ"), "i̇");  // dotted capital I keeps its dot as a combining mark
}

TEST(TextTest, TrimRemovesUnicodeWhiteSpaceAndLineBreaksAtBothEnds) {
  EXPECT_EQ(trim("  hello \n"), "hello");
  EXPECT_EQ(trim("\u3000\u00a0 전송\u2029\t"), "전송");
  EXPECT_EQ(trim("a  b"), "a  b");
  EXPECT_EQ(trim(" \n\t"), "");
  EXPECT_EQ(trim(""), "");
}

TEST(TextTest, LengthsCountGraphemesOrUtf16Units) {
  const std::string family = "👨‍👩‍👧";  // one user-perceived character, 8 UTF-16 units
  const std::string thumb = "👍🏽";
  EXPECT_EQ(graphemeCount(family), 1u);
  EXPECT_EQ(utf16Length(family), 8u);
  EXPECT_EQ(graphemeCount("e\u0301a"), 2u);
  EXPECT_EQ(graphemeCount("\r\n"), 1u);
  EXPECT_EQ(graphemeCount(""), 0u);
  EXPECT_EQ(utf16Length("한글"), 2u);

  std::string many;
  for (int i = 0; i < 130; ++i) many += thumb;
  EXPECT_EQ(graphemeCount(firstGraphemes(many, 120)), 120u);
  EXPECT_EQ(utf16Length(firstGraphemes(many, 120)), 480u);
  EXPECT_EQ(lastGraphemes(many, 80).size(), 80 * thumb.size());
}

TEST(TextTest, ClipsReturnTheWholeTextWhenShort) {
  EXPECT_EQ(firstGraphemes("abc", 120), "abc");
  EXPECT_EQ(lastGraphemes("abc", 80), "abc");
  EXPECT_EQ(firstGraphemes("abcdef", 3), "abc");
  EXPECT_EQ(lastGraphemes("abcdef", 2), "ef");
  EXPECT_EQ(firstGraphemes("abc", 0), "");
  EXPECT_EQ(lastGraphemes("abc", 0), "");
}

TEST(TextTest, InvalidUtf8IsReadWithReplacementCharacters) {
  EXPECT_EQ(trim(" a\xff "), "a\uFFFD");
  EXPECT_EQ(graphemeCount("a\xff"), 2u);
}

}  // namespace
}  // namespace kelp::text
