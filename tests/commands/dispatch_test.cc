#include <gtest/gtest.h>

#include "support/command_fixture.h"

namespace kelp {
namespace {

using DispatchTest = test::CommandFixture;

TEST_F(DispatchTest, IdIsEchoedUnchangedOrNull) {
  EXPECT_EQ(run(R"({"cmd":"ping"})"), Json::parse(R"({"id":null,"ok":true,"result":{"pong":true}})"));
  EXPECT_EQ(run(R"({"cmd":"ping","id":"abc"})")["id"], "abc");
  EXPECT_EQ(run(R"({"cmd":"ping","id":7})")["id"], 7);
  EXPECT_EQ(run(R"({"cmd":"ping","id":{"b":[1,2.5,null],"a":true}})")["id"],
            Json::parse(R"({"b":[1,2.5,null],"a":true})"));
}

TEST_F(DispatchTest, ReplyTextKeepsConstructionOrder) {
  run(R"({"cmd":"ping","id":7})");
  EXPECT_EQ(lines.back(), R"({"id":7,"ok":true,"result":{"pong":true}})");
  run(R"({"cmd":"nope","id":1})");
  EXPECT_EQ(lines.back(), R"({"id":1,"ok":false,"error":"모르는 명령이에요: nope"})");
}

TEST_F(DispatchTest, CommandNamesAreExactAndCaseSensitive) {
  for (const char* name : {"PING", "Ping", " ping", "ping ", "Tree", "nope"}) {
    Json reply = run(Json{{"cmd", name}, {"id", 3}});
    EXPECT_EQ(reply["ok"], false) << name;
    EXPECT_EQ(reply["error"], std::string("모르는 명령이에요: ") + name);
  }
}

TEST_F(DispatchTest, MissingOrNonStringCommandGivesTheBareUnknownMessage) {
  for (const char* request : {R"({"id":1})", R"({"id":1,"cmd":5})", R"({"id":1,"cmd":null})",
                              R"({"id":1,"cmd":["ping"]})", R"({"id":1,"cmd":""})"}) {
    Json reply = run(request);
    EXPECT_EQ(reply, Json::parse(R"({"id":1,"ok":false,"error":"모르는 명령이에요: "})")) << request;
  }
}

TEST_F(DispatchTest, CommonFieldsOfTheWrongTypeCountAsAbsent) {
  auto fields = [](std::string_view text) { return readCommonFields(Json::parse(text)); };
  EXPECT_FALSE(fields(R"({"pid":"123"})").pid);
  EXPECT_FALSE(fields(R"({"pid":12.5})").pid);
  EXPECT_FALSE(fields(R"({"pid":true})").pid);
  EXPECT_FALSE(fields(R"({"pid":1e300})").pid);
  EXPECT_FALSE(fields(R"({"pid":18446744073709551615})").pid);
  EXPECT_EQ(fields(R"({"pid":123})").pid, 123);
  EXPECT_EQ(fields(R"({"pid":-4})").pid, -4);
  EXPECT_EQ(fields(R"({"pid":123.0})").pid, 123);  // no fractional part: still an integer
  EXPECT_FALSE(fields(R"({"app":42})").app);
  EXPECT_FALSE(fields(R"({"app":null})").app);
  EXPECT_EQ(fields(R"({"app":"Notes"})").app, "Notes");
  EXPECT_EQ(fields(R"({"app":""})").app, "");
}

TEST_F(DispatchTest, InformationCommandsDoNotNeedAccessibility) {
  sim.trusted = false;
  for (const char* name : {"doctor", "prompt", "displays", "apps", "ping"}) {
    EXPECT_EQ(run(Json{{"cmd", name}})["ok"], true) << name;
  }
}

}  // namespace
}  // namespace kelp
