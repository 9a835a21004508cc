// The request loop of server mode: which lines are answered, how, and in
// what order.
#include <string>
#include <vector>

#include "protocol/fixture.h"

namespace kelp::test {
namespace {

using RequestLoop = HelperTest;

TEST_F(RequestLoop, EchoesTheIdOfEveryJsonType) {
  const std::vector<Json> ids = {"abc",
                                 7,
                                 -12345678901234,
                                 2.5,
                                 true,
                                 false,
                                 Json::array({1, "x", nullptr}),
                                 Json{{"a", Json::array({1, 2})}},
                                 "",
                                 "한글 ✓"};
  std::string input;
  for (const Json& id : ids) input += Json{{"cmd", "ping"}, {"id", id}}.dump() + "\n";
  input += "{\"cmd\":\"ping\"}\n";
  input += "{\"cmd\":\"ping\",\"id\":null}\n";

  std::vector<Json> replies = serveParsed(input);
  ASSERT_EQ(replies.size(), ids.size() + 2);
  for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(replies[i], pong(ids[i])) << "id " << ids[i].dump();
  EXPECT_EQ(replies[ids.size()], pong(nullptr)) << "a request without id";
  EXPECT_EQ(replies[ids.size() + 1], pong(nullptr)) << "a request with id null";
}

TEST_F(RequestLoop, AnswersEachLineInOrderWhileInputStaysOpen) {
  auto session = startSession();
  // Two lines in one write still give two replies, in order.
  ASSERT_TRUE(session->sendRaw("{\"cmd\":\"ping\",\"id\":1}\n{\"cmd\":\"nope\",\"id\":2}\n"));
  EXPECT_EQ(session->reply(), pong(1));
  EXPECT_EQ(session->reply(), failure(2, UNKNOWN_COMMAND + "nope"));
  // A reply must reach the parent while the helper waits for more input.
  EXPECT_EQ(session->request({{"cmd", "ping"}, {"id", 3}}), pong(3));
  finishCleanly(*session);
}

TEST_F(RequestLoop, SkipsEmptyLinesWithoutReply) {
  EXPECT_EQ(serveParsed("\n{\"cmd\":\"ping\",\"id\":1}\n\n\n{\"cmd\":\"ping\",\"id\":2}\n\n"),
            (std::vector<Json>{pong(1), pong(2)}));
  EXPECT_EQ(serve("\n\n\n"), std::vector<std::string>{});
  // "\r\n" alone is an empty line once its terminator is taken off.
  EXPECT_EQ(serve("\r\n"), std::vector<std::string>{});
}

TEST_F(RequestLoop, AnswersLinesThatAreNotJsonObjectsWithTheFixedReply) {
  const std::vector<std::string> unreadableLines = {" ",
                                                    "   \t",
                                                    "[1,2]",
                                                    "[]",
                                                    "7",
                                                    "\"ping\"",
                                                    "null",
                                                    "true",
                                                    "{",
                                                    "ping",
                                                    "{'cmd':'ping'}",
                                                    "{\"cmd\":\"ping\"",
                                                    "{\"cmd\":\"ping\"} {}",
                                                    "{\"cmd\":\"ping\",}",
                                                    "\x01",
                                                    "{\"cmd\":\"ping\"} x"};
  std::string input;
  for (std::size_t i = 0; i < unreadableLines.size(); ++i) {
    input += unreadableLines[i] + "\n";
    // The loop must go on after each unreadable line.
    input += Json{{"cmd", "ping"}, {"id", i}}.dump() + "\n";
  }
  std::vector<Json> replies = serveParsed(input);
  ASSERT_EQ(replies.size(), 2 * unreadableLines.size());
  for (std::size_t i = 0; i < unreadableLines.size(); ++i) {
    EXPECT_EQ(replies[2 * i], unreadable()) << "line: " << unreadableLines[i];
    EXPECT_EQ(replies[2 * i + 1], pong(i)) << "after line: " << unreadableLines[i];
  }
}

TEST_F(RequestLoop, InputThatIsNotUtf8OrNotUnicodeGetsExactlyOneReply) {
  // Raw bytes that are not UTF-8 inside a string: the request cannot be read.
  std::vector<std::string> lines =
      serve("{\"cmd\":\"ping\",\"id\":\"a\xff\xfe b\xc3\"}\n{\"cmd\":\"ping\",\"id\":1}\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(parseReply(lines[0]), unreadable());
  EXPECT_EQ(parseReply(lines[1]), pong(1));

  // An escaped lone surrogate is no character at all; whether the request is
  // refused or echoed, there is one reply and it is valid JSON.
  lines = serve("{\"cmd\":\"ping\",\"id\":\"\\ud800\"}\n{\"cmd\":\"ping\",\"id\":2}\n");
  ASSERT_EQ(lines.size(), 2u);
  auto first = parseReply(lines[0]);
  ASSERT_TRUE(first.has_value()) << lines[0];
  EXPECT_TRUE(first->is_object());
  EXPECT_EQ(parseReply(lines[1]), pong(2));
}

TEST_F(RequestLoop, AnswersAVeryDeeplyNestedRequestOnceAndGoesOn) {
  const int depth = 100000;
  std::string id = std::string(depth, '[') + std::string(depth, ']');
  std::vector<std::string> lines =
      serve("{\"cmd\":\"ping\",\"id\":" + id + "}\n{\"cmd\":\"ping\",\"id\":3}\n");
  ASSERT_EQ(lines.size(), 2u);
  auto first = parseReply(lines[0]);
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(first->is_object());
  EXPECT_EQ(parseReply(lines[1]), pong(3));
}

TEST_F(RequestLoop, ParsesCrLfLinesLikeLfLines) {
  EXPECT_EQ(
      serveParsed(
          "{\"cmd\":\"ping\",\"id\":1}\r\n{\"cmd\":\"PING\",\"id\":2}\r\n{\"cmd\":\"ping\",\"id\":3}\n"),
      (std::vector<Json>{pong(1), failure(2, UNKNOWN_COMMAND + "PING"), pong(3)}));
}

TEST_F(RequestLoop, AnswersAnUnterminatedLastLine) {
  EXPECT_EQ(serveParsed("{\"cmd\":\"ping\",\"id\":1}\n{\"cmd\":\"ping\",\"id\":9}"),
            (std::vector<Json>{pong(1), pong(9)}));
  EXPECT_EQ(serveParsed("[1]"), std::vector<Json>{unreadable()});
}

TEST_F(RequestLoop, EndOfInputEndsTheProcessWithStatusZeroAndNoMoreOutput) {
  // No input at all.
  EXPECT_EQ(serve(""), std::vector<std::string>{});

  auto session = startSession();
  EXPECT_EQ(session->request({{"cmd", "ping"}, {"id", "last"}}), pong("last"));
  finishCleanly(*session);
}

TEST_F(RequestLoop, AnswersThousandsOfRequestsInOrder) {
  const int count = 2000;
  std::string input;
  for (int i = 0; i < count; ++i) {
    // Every fifth request is one the helper cannot read, to interleave both writers.
    input += i % 5 == 4 ? std::string("[") + std::to_string(i) + "]\n"
                        : Json{{"cmd", "ping"}, {"id", i}}.dump() + "\n";
  }
  auto session = startSession();
  // All requests go out at once; the runner keeps the replies flowing meanwhile.
  ASSERT_TRUE(session->sendRaw(input));
  for (int i = 0; i < count; ++i) {
    auto reply = session->reply();
    ASSERT_TRUE(reply.has_value()) << "no reply " << i;
    ASSERT_EQ(*reply, i % 5 == 4 ? unreadable() : pong(i)) << "reply " << i;
  }
  finishCleanly(*session);
}

}  // namespace
}  // namespace kelp::test
