#include "service/server.h"

#include <gtest/gtest.h>

#include <deque>

#include "support/command_fixture.h"

namespace kelp {
namespace {

class ServerTest : public test::CommandFixture {
 protected:
  // Feeds `input` to the read loop and returns every reply line.
  std::vector<std::string> serveLines(std::deque<std::string> input) {
    lines.clear();
    LineReader reader = [&]() -> std::optional<std::string> {
      if (input.empty()) return std::nullopt;
      std::string line = std::move(input.front());
      input.pop_front();
      return line;
    };
    EXPECT_EQ(serve(context, reader), 0);
    return lines;
  }
  static constexpr const char* UNREADABLE = R"({"id":null,"ok":false,"error":"요청을 읽지 못했어요"})";
};

TEST_F(ServerTest, RepliesInArrivalOrderAndSkipsEmptyLines) {
  auto out = serveLines({R"({"cmd":"ping","id":1})", "", R"({"cmd":"ping","id":2})", R"({"cmd":"x","id":3})"});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(Json::parse(out[0])["id"], 1);
  EXPECT_EQ(Json::parse(out[1])["id"], 2);
  EXPECT_EQ(Json::parse(out[2])["error"], "모르는 명령이에요: x");
}

TEST_F(ServerTest, LinesThatAreNotJsonObjectsGetTheUnreadableReply) {
  for (const char* line : {" ", "\t", "[1,2]", "7", "\"ping\"", "null", "{\"cmd\":", "{\"cmd\":\"ping\"} trailing",
                           "{'cmd':'ping'}", "{\"a\":\"\xff\"}"}) {
    auto out = serveLines({line});
    ASSERT_EQ(out.size(), 1u) << line;
    EXPECT_EQ(out[0], UNREADABLE) << line;
  }
}

TEST_F(ServerTest, AbsurdlyDeepRequestsAreRefusedInsteadOfCrashing) {
  std::string deep = R"({"cmd":"ping","id":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  auto out = serveLines({deep, R"({"cmd":"ping","id":[[["ok"]]]})"});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], UNREADABLE);
  EXPECT_EQ(Json::parse(out[1])["id"], Json::parse(R"([[["ok"]]])"));
  // Brackets inside strings do not count as nesting.
  out = serveLines({R"({"cmd":"ping","id":")" + std::string(5000, '[') + "\"}"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Json::parse(out[0])["ok"], true);
}

TEST_F(ServerTest, CommandsRunOnTheRunLoopThread) {
  // Many requests cross the two threads; each one is answered before the next is read.
  std::deque<std::string> input;
  for (int i = 0; i < 500; ++i) input.push_back(R"({"cmd":"ping","id":)" + std::to_string(i) + "}");
  auto out = serveLines(input);
  ASSERT_EQ(out.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(Json::parse(out[i])["id"], i);
}

TEST_F(ServerTest, EndOfInputAtOnceStopsCleanly) { EXPECT_TRUE(serveLines({}).empty()); }

TEST_F(ServerTest, OneShotRunsTheArgumentsAsOneRequestWithIdZero) {
  globals.args = {"kelp-cua", "ping"};
  lines.clear();
  EXPECT_EQ(runOneShot(context), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], R"({"id":0,"ok":true,"result":{"pong":true}})");

  // The second argument is the target application; later ones are ignored.
  sim.addApp({.pid = 100, .name = "Notes"});
  globals.args = {"kelp-cua", "activate", "Notes", "ignored"};
  lines.clear();
  runOneShot(context);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Json::parse(lines[0]), Json::parse(R"({"id":0,"ok":true,"result":{"name":"Notes"}})"));
  EXPECT_TRUE(sim.apps[0].active);
}

TEST_F(ServerTest, StartUpScrubsTheEnvironmentAndKeepsTheArguments) {
  sim.env = {{"OPENAI_API_KEY", "sk-123"}, {"PATH", "/bin"}};
  Globals started = startUp(sim, {"kelp-cua", "doctor"});
  EXPECT_EQ(started.args, (std::vector<std::string>{"kelp-cua", "doctor"}));
  EXPECT_TRUE(started.systemWide == sim.accessibility().systemWide());
  EXPECT_EQ(sim.env, (std::vector<std::pair<std::string, std::string>>{{"PATH", "/bin"}}));
}

}  // namespace
}  // namespace kelp
