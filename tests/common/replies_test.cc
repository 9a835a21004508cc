#include "common/replies.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kelp {
namespace {

TEST(ReplyTest, TextThatIsNotUtf8IsWrittenWithReplacementCharacters) {
  std::vector<std::string> lines;
  ReplyWriter writer([&](std::string_view line) { lines.emplace_back(line); });
  writer.fail(nullptr, std::string("bad \xff\xfe bytes, cut \xe2\x82"));
  ASSERT_EQ(lines.size(), 1u);
  Json reply = Json::parse(lines[0]);  // valid UTF-8 again, or parse would throw
  EXPECT_EQ(reply["error"], "bad \uFFFD\uFFFD bytes, cut \uFFFD");
}

TEST(ReplyTest, InvalidBytesInKeysAndNestedValuesAreReplacedToo) {
  Json reply;
  reply["id"] = Json::array({std::string("a\xc3")});
  reply["ok"] = true;
  reply["result"] = Json::object({{std::string("k\x80"), "v"}});
  std::string line = serializeReply(reply);
  EXPECT_EQ(Json::parse(line), Json::parse(R"({"id":["a�"],"ok":true,"result":{"k�":"v"}})"));
}

TEST(ReplyTest, NonFiniteNumbersAreWrittenAsNull) {
  Json reply;
  reply["id"] = 1;
  reply["ok"] = true;
  reply["result"] = {{"nan", std::nan("")},
                     {"inf", std::numeric_limits<double>::infinity()},
                     {"ninf", -std::numeric_limits<double>::infinity()},
                     {"half", 0.5}};
  EXPECT_EQ(serializeReply(reply), R"({"id":1,"ok":true,"result":{"nan":null,"inf":null,"ninf":null,"half":0.5}})");
}

TEST(ReplyTest, OneLineWithPlainSlashesAndEscapedControlCharacters) {
  Json reply;
  reply["id"] = nullptr;
  reply["ok"] = false;
  reply["error"] = "a/b\nc\r\td \"q\" 한글";
  EXPECT_EQ(serializeReply(reply), R"({"id":null,"ok":false,"error":"a/b\nc\r\td \"q\" 한글"})");
}

}  // namespace
}  // namespace kelp
