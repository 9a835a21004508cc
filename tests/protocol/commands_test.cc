// Choosing the command by name, in server mode and in one-shot mode.
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/fixture.h"

namespace kelp::test {
namespace {

using Dispatch = HelperTest;
using OneShot = HelperTest;

TEST_F(Dispatch, UnknownCommandsAreNamedInTheError) {
  EXPECT_EQ(serveParsed("{\"cmd\":\"PING\",\"id\":1}\n"
                        "{\"id\":2}\n"
                        "{\"cmd\":5,\"id\":3}\n"
                        "{\"cmd\":null,\"id\":4}\n"
                        "{\"cmd\":\"\",\"id\":5}\n"
                        "{\"cmd\":\" ping\",\"id\":6}\n"
                        "{\"cmd\":\"ping \",\"id\":7}\n"
                        "{\"cmd\":[\"ping\"],\"id\":8}\n"
                        "{}\n"),
            (std::vector<Json>{failure(1, UNKNOWN_COMMAND + "PING"), failure(2, UNKNOWN_COMMAND),
                               failure(3, UNKNOWN_COMMAND), failure(4, UNKNOWN_COMMAND),
                               failure(5, UNKNOWN_COMMAND), failure(6, UNKNOWN_COMMAND + " ping"),
                               failure(7, UNKNOWN_COMMAND + "ping "), failure(8, UNKNOWN_COMMAND),
                               failure(nullptr, UNKNOWN_COMMAND)}));
}

TEST_F(Dispatch, FieldsOfTheWrongTypeAreNeverAnError) {
  EXPECT_EQ(serveParsed("{\"cmd\":\"ping\",\"id\":1,\"app\":5,\"pid\":\"123\"}\n"
                        "{\"cmd\":\"ping\",\"id\":2,\"pid\":1.5,\"app\":null}\n"
                        "{\"cmd\":\"ping\",\"id\":3,\"extra\":{\"x\":[1]}}\n"),
            (std::vector<Json>{pong(1), pong(2), pong(3)}));
}

TEST_F(OneShot, DoctorWritesOneLineWithIdZeroAndExitsZero) {
  ProcessOptions options;
  options.argv = {helperPath(), "doctor"};
  options.environment = environment_;
  Process helper(options);
  helper.closeStdin();
  const std::string out = helper.readAllStdout(Milliseconds(20000));
  auto status = helper.waitForExit(Milliseconds(20000));
  ASSERT_TRUE(status.has_value()) << "kelp-cua doctor did not end";
  EXPECT_TRUE(status->success()) << status->describe();
  EXPECT_EQ(helper.drainStderr(Milliseconds(1000)), "");

  ASSERT_FALSE(out.empty());
  ASSERT_EQ(out.find('\n'), out.size() - 1) << "expected exactly one line: " << out;
  auto reply = parseReply(out.substr(0, out.size() - 1));
  ASSERT_TRUE(reply.has_value()) << out;
  EXPECT_EQ(reply->at("id"), 0);
  EXPECT_EQ(reply->at("ok"), true);
  EXPECT_FALSE(reply->contains("error"));
  const Json& result = reply->at("result");
  ASSERT_EQ(result.size(), 5u) << result.dump();
  ASSERT_TRUE(result.at("accessibility").is_boolean()) << result.dump();
  ASSERT_TRUE(result.at("screen").is_boolean()) << result.dump();
  ASSERT_TRUE(result.at("helperPath").is_string()) << result.dump();
  ASSERT_TRUE(result.at("pid").is_number_integer()) << result.dump();

  // Without a display or a session bus there is nothing to be trusted by
  // and no other application's window to see.
  EXPECT_EQ(result.at("accessibility"), false);
  EXPECT_EQ(result.at("screen"), false);
  EXPECT_EQ(result.at("pid"), helper.pid());
  EXPECT_EQ(result.at("desktop"), Json::parse(R"({"session":"x11","input":false,"capture":false,"windows":false,
      "windowFrames":false,"recording":false})"));
  std::error_code error;
  EXPECT_EQ(std::filesystem::canonical(result.at("helperPath").get<std::string>(), error),
            std::filesystem::canonical(helperPath()))
      << result.at("helperPath");
}

TEST_F(OneShot, RunsTheCommandOfTheArgumentsAndIgnoresStandardInput) {
  // A request waiting on standard input must not be read in one-shot mode.
  const std::string pending = "{\"cmd\":\"ping\",\"id\":5}\n";
  EXPECT_EQ(run({"ping"}, pending).out, "{\"id\":0,\"ok\":true,\"result\":{\"pong\":true}}\n");
  EXPECT_EQ(run({"ping", "SomeApp", "more", "args"}, pending).lines().size(), 1u);
  EXPECT_EQ(parseReply(run({"PING"}, pending).out), failure(0, UNKNOWN_COMMAND + "PING"));
  EXPECT_EQ(parseReply(run({""}, "").out), failure(0, UNKNOWN_COMMAND));
}

TEST_F(OneShot, ActivateIsAnsweredOnceWithIdZero) {
  RunResult result = run({"activate", "SomeApp"}, "");
  ASSERT_EQ(result.lines().size(), 1u) << result.out;
  auto reply = parseReply(result.lines().front());
  ASSERT_TRUE(reply.has_value()) << result.out;
  // Nothing of that name runs or is installed here, so nothing is launched.
  EXPECT_EQ(*reply, failure(0, "그 프로그램을 찾지 못했어요"));
}

}  // namespace
}  // namespace kelp::test
