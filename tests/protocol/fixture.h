// Shared by the tests that drive the built kelp-cua through its standard
// streams without a display or a session bus.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/helper.h"
#include "support/process.h"

namespace kelp::test {

inline const std::string UNREADABLE = "요청을 읽지 못했어요";
inline const std::string UNKNOWN_COMMAND = "모르는 명령이에요: ";

inline Json pong(const Json& id) { return {{"id", id}, {"ok", true}, {"result", {{"pong", true}}}}; }
inline Json failure(const Json& id, const std::string& message) {
  return {{"id", id}, {"ok", false}, {"error", message}};
}
inline Json unreadable() { return failure(nullptr, UNREADABLE); }

class HelperTest : public ::testing::Test {
 protected:
  TempDir runtime_{"kelp-protocol"};
  Environment environment_ = isolatedEnvironment(runtime_.path());

  // Runs the helper with `args` on `input` until it ends by itself. Every
  // run must end with status 0, write nothing to standard error and end its
  // output with a line break.
  RunResult run(const std::vector<std::string>& args, const std::string& input) {
    RunResult result = runHelper(args, input, environment_);
    EXPECT_FALSE(result.timedOut) << "kelp-cua did not end by itself";
    EXPECT_TRUE(result.status.success()) << result.status.describe();
    EXPECT_EQ(result.err, "") << "kelp-cua wrote to standard error";
    if (!result.out.empty()) {
      EXPECT_EQ(result.out.back(), '\n') << "the last reply has no line break";
    }
    return result;
  }

  // Server mode: reply lines for `input`.
  std::vector<std::string> serve(const std::string& input) { return run({}, input).lines(); }

  // Server mode: replies for `input`, each of which must be JSON.
  std::vector<Json> serveParsed(const std::string& input) {
    std::vector<Json> replies;
    for (const std::string& line : serve(input)) {
      auto reply = parseReply(line);
      EXPECT_TRUE(reply.has_value()) << "reply is not JSON: " << line;
      replies.push_back(reply.value_or(Json()));
    }
    return replies;
  }

  std::unique_ptr<HelperSession> startSession() { return std::make_unique<HelperSession>(environment_); }

  // Ends a session's input and checks that it ends cleanly with no more output.
  void finishCleanly(HelperSession& session) {
    auto status = session.finish();
    ASSERT_TRUE(status.has_value()) << "kelp-cua still runs after its input ended";
    EXPECT_TRUE(status->success()) << status->describe();
    EXPECT_EQ(session.trailingOutput(), "");
    EXPECT_EQ(session.stderrText(), "");
  }
};

}  // namespace kelp::test
