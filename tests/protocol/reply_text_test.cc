// The exact text of reply lines, where the parent depends on more than the
// JSON value: one line per reply, plain "/", UTF-8 rather than escapes.
#include <string>
#include <vector>

#include "protocol/fixture.h"

namespace kelp::test {
namespace {

using ReplyText = HelperTest;

TEST_F(ReplyText, PingIsWrittenExactly) {
  EXPECT_EQ(run({}, "{\"cmd\":\"ping\",\"id\":7}\n").out,
            "{\"id\":7,\"ok\":true,\"result\":{\"pong\":true}}\n");
  EXPECT_EQ(run({}, "{\"cmd\":\"ping\"}\n").out, "{\"id\":null,\"ok\":true,\"result\":{\"pong\":true}}\n");
}

TEST_F(ReplyText, SlashesAreWrittenPlainly) {
  std::vector<std::string> lines = serve("{\"cmd\":\"doctor\",\"id\":1}\n{\"cmd\":\"a/b/\",\"id\":2}\n");
  ASSERT_EQ(lines.size(), 2u);

  auto doctor = parseReply(lines[0]);
  ASSERT_TRUE(doctor.has_value()) << lines[0];
  const std::string path = doctor->at("result").at("helperPath").get<std::string>();
  ASSERT_NE(path.find('/'), std::string::npos) << path;
  EXPECT_NE(lines[0].find("\"helperPath\":\"" + path + "\""), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find('\\'), std::string::npos) << lines[0];

  EXPECT_EQ(parseReply(lines[1]), failure(2, UNKNOWN_COMMAND + "a/b/"));
  EXPECT_NE(lines[1].find("a/b/"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].find('\\'), std::string::npos) << lines[1];
}

TEST_F(ReplyText, LineBreaksInsideMessagesAreEscapedAndTheReplyStaysOneLine) {
  const std::vector<std::string> names = {"bad\nname", "two\r\nlines", "\n", "tab\there", "\u2028sep"};
  std::string input;
  for (std::size_t i = 0; i < names.size(); ++i) input += Json{{"cmd", names[i]}, {"id", i}}.dump() + "\n";
  std::vector<std::string> lines = serve(input);
  ASSERT_EQ(lines.size(), names.size()) << "a line break inside a message split a reply";
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(lines[i].find('\r'), std::string::npos) << lines[i];
    EXPECT_EQ(parseReply(lines[i]), failure(i, UNKNOWN_COMMAND + names[i])) << lines[i];
  }
  EXPECT_NE(lines[0].find("bad\\nname"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("two\\r\\nlines"), std::string::npos) << lines[1];
}

TEST_F(ReplyText, TextIsWrittenAsUtf8NotAsEscapes) {
  std::vector<std::string> lines = serve("[]\n{\"cmd\":\"\\ud55c\\uae00\",\"id\":1}\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(parseReply(lines[0]), unreadable());
  EXPECT_NE(lines[0].find("\"요청을 읽지 못했어요\""), std::string::npos) << lines[0];
  EXPECT_EQ(parseReply(lines[1]), failure(1, UNKNOWN_COMMAND + "한글"));
  EXPECT_NE(lines[1].find("모르는 명령이에요: 한글"), std::string::npos) << lines[1];
}

}  // namespace
}  // namespace kelp::test
