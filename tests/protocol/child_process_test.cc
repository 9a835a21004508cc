// The child-process runner that every test of the built binary stands on.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "support/process.h"

namespace kelp::test {
namespace {

ProcessOptions shell(const std::string& script) {
  ProcessOptions options;
  options.argv = {"/bin/sh", "-c", script};
  return options;
}

// Alive and not a zombie.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

TEST(ChildProcess, ReportsHowTheChildEnded) {
  RunResult exited = runProgram(shell("echo out; echo err >&2; exit 3"), "", Milliseconds(10000));
  EXPECT_FALSE(exited.timedOut);
  EXPECT_TRUE(exited.status.exited);
  EXPECT_EQ(exited.status.code, 3);
  EXPECT_FALSE(exited.status.success());
  EXPECT_EQ(exited.out, "out\n");
  EXPECT_EQ(exited.err, "err\n");

  RunResult killed = runProgram(shell("kill -TERM $$"), "", Milliseconds(10000));
  EXPECT_FALSE(killed.status.exited);
  EXPECT_EQ(killed.status.signal, SIGTERM);
}

TEST(ChildProcess, AMissingProgramIsAnErrorNamingIt) {
  ProcessOptions options;
  options.argv = {"kelp-no-such-program-anywhere"};
  try {
    Process process(options);
    FAIL() << "started a program that does not exist";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("kelp-no-such-program-anywhere"), std::string::npos)
        << error.what();
  }
}

TEST(ChildProcess, GivesTheChildExactlyTheEnvironmentAsked) {
  ProcessOptions bare;
  bare.argv = {"/usr/bin/env"};
  bare.environment = Environment::empty().set("ONLY", "this one");
  EXPECT_EQ(runProgram(bare, "", Milliseconds(10000)).out, "ONLY=this one\n");

  ProcessOptions changed;
  changed.argv = {"/usr/bin/env"};
  changed.environment = Environment::inherit().set("KELP_ADDED", "1").unset("PATH");
  std::string out = runProgram(changed, "", Milliseconds(10000)).out;
  EXPECT_NE(out.find("\nKELP_ADDED=1\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("\nPATH="), std::string::npos) << out;
  EXPECT_NE(out.rfind("PATH=", 0), 0u) << out;
}

TEST(ChildProcess, MovesMegabytesBothWaysWithoutDeadlock) {
  std::string input;
  for (int i = 0; input.size() < 4 * 1024 * 1024; ++i) input += "line " + std::to_string(i) + "\n";
  // cat writes back while it is still being written to.
  RunResult echoed = runProgram(shell("cat; cat /dev/null >&2"), input, Milliseconds(30000));
  EXPECT_FALSE(echoed.timedOut);
  EXPECT_TRUE(echoed.status.success());
  EXPECT_TRUE(echoed.out == input) << "got " << echoed.out.size() << " of " << input.size() << " bytes";
}

TEST(ChildProcess, ReadsLinesAsTheyComeAndTheLastOneWithoutBreak) {
  Process process(shell("read reply; echo \"got $reply\"; printf 'a\\nb'"));
  EXPECT_EQ(process.readLine(Milliseconds(50)), std::nullopt) << "a line before any was written";
  EXPECT_FALSE(process.stdoutAtEnd());
  ASSERT_TRUE(process.write("hello\n"));
  EXPECT_EQ(process.readLine(Milliseconds(10000)), "got hello");
  EXPECT_EQ(process.readLine(Milliseconds(10000)), "a");
  EXPECT_EQ(process.readLine(Milliseconds(10000)), "b");
  EXPECT_EQ(process.readLine(Milliseconds(10000)), std::nullopt);
  EXPECT_TRUE(process.stdoutAtEnd());
  auto status = process.waitForExit(Milliseconds(10000));
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->success());
  // Its input has no reader any more: writing fails instead of killing us.
  EXPECT_FALSE(process.write(std::string(1 << 20, 'x')));
}

TEST(ChildProcess, EndsTheWholeProcessGroupWhenDestroyed) {
  pid_t grandchild = 0;
  pid_t child = 0;
  {
    ProcessOptions options = shell("trap '' TERM; sleep 300 & echo $!; wait");
    options.terminationGrace = Milliseconds(200);
    Process process(options);
    child = process.pid();
    auto line = process.readLine(Milliseconds(10000));
    ASSERT_TRUE(line.has_value());
    grandchild = static_cast<pid_t>(std::stol(*line));
    ASSERT_TRUE(alive(grandchild));
    EXPECT_TRUE(process.running());
  }
  EXPECT_FALSE(alive(child)) << "the child ignoring SIGTERM survived";
  EXPECT_FALSE(alive(grandchild)) << "a process the child started survived";
}

TEST(ChildProcess, TerminateReportsTheSignal) {
  Process process(shell("exec sleep 300"));
  EXPECT_TRUE(process.running());
  EXPECT_EQ(process.waitForExit(Milliseconds(20)), std::nullopt);
  ExitStatus status = process.terminate();
  EXPECT_FALSE(status.exited);
  EXPECT_EQ(status.signal, SIGTERM);
  EXPECT_FALSE(process.running());
}

}  // namespace
}  // namespace kelp::test
