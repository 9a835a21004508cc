// Faults a person's desktop brings: an application that hangs, one that
// vanishes under a request, a desktop that goes away, a parent that stops
// reading. Each request still gets one well-formed reply, and the helper
// neither crashes nor hangs. The bounds only catch a hang; they time nothing.
#include <signal.h>

#include <chrono>
#include <thread>

#include "desktop/fixture.h"

namespace kelp::test {
namespace {

constexpr Milliseconds HANG_BOUND{30000};

// Well-formed: one JSON object answering the request's id, "ok" a boolean.
void expectAnswered(HelperSession& helper, const Json& request) {
  const std::optional<Json> reply = helper.request(request, HANG_BOUND);
  ASSERT_TRUE(reply.has_value()) << "no reply in time to " << request.dump();
  EXPECT_EQ(reply->value("id", Json()), request["id"]) << reply->dump();
  EXPECT_TRUE(reply->contains("ok") && (*reply)["ok"].is_boolean()) << reply->dump();
}

std::size_t elementCount(HelperSession& helper, const std::string& app, int id) {
  const std::optional<Json> reply = helper.request({{"cmd", "tree"}, {"app", app}, {"id", id}}, HANG_BOUND);
  if (!reply || !reply->value("ok", false)) return 0;
  return (*reply)["result"]["elements"].size();
}

void expectQuietEnd(HelperSession& helper) {
  const std::optional<ExitStatus> status = helper.finish();
  ASSERT_TRUE(status.has_value()) << "kelp-cua still runs after its input ended";
  EXPECT_TRUE(status->success()) << status->describe();
  EXPECT_EQ(helper.stderrText(), "");
}

// A stopped application gets going again however the test ends.
struct ContinueWhenDone {
  pid_t pid;
  ~ContinueWhenDone() { ::kill(pid, SIGCONT); }
};

using DesktopFaults = WidgetFactoryDesktop;

TEST_F(DesktopFaults, AStoppedApplicationHoldsNoRequestAndAnswersAgainOnceItGoesOn) {
  DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
  StopWhenDone stop{mousepad};
  auto helper = desktop().startHelper();
  ASSERT_GT(elementCount(*helper, "mousepad", 1), 0u);

  ASSERT_EQ(::kill(mousepad.pid(), SIGSTOP), 0);
  ContinueWhenDone resume{mousepad.pid()};
  for (const Json& request : {
           Json{{"cmd", "apps"}, {"id", 2}},
           Json{{"cmd", "windowtitles"}, {"id", 3}},
           Json{{"cmd", "tree"}, {"app", "mousepad"}, {"id", 4}},
           Json{{"cmd", "find"}, {"app", "mousepad"}, {"q", "File"}, {"id", 5}},
           Json{{"cmd", "act"}, {"app", "mousepad"}, {"locator", {{"label", "File"}}}, {"action", "focus"}, {"id", 6}},
           Json{{"cmd", "menu"}, {"app", "mousepad"}, {"path", {"File"}}, {"list", true}, {"id", 7}},
           Json{{"cmd", "screenshot"}, {"id", 8}},
       }) {
    expectAnswered(*helper, request);
  }
  EXPECT_GT(elementCount(*helper, "gtk3-widget-factory", 9), 0u) << "another application reads as before";

  ::kill(mousepad.pid(), SIGCONT);
  int id = 10;
  EXPECT_TRUE(eventually([&] { return elementCount(*helper, "mousepad", id++) > 0; }, Milliseconds(15000)))
      << "the application answers again once it goes on";
  expectQuietEnd(*helper);
}

TEST_F(DesktopFaults, AnApplicationKilledUnderAWalkOrBeforeAnActGetsAReply) {
  auto helper = desktop().startHelper();
  {
    DesktopApp& mousepad = desktop().startApplication(program({"mousepad"}));
    const std::optional<Json> tree = helper->request({{"cmd", "tree"}, {"app", "mousepad"}, {"id", 1}}, HANG_BOUND);
    ASSERT_TRUE(tree && !(*tree)["result"]["elements"].empty());
    const Json ref = (*tree)["result"]["elements"][0]["ref"];
    mousepad.process->signalGroup(SIGKILL);
    mousepad.process->waitForExit(Milliseconds(5000));
    expectAnswered(*helper, {{"cmd", "act"}, {"app", "mousepad"}, {"ref", ref}, {"id", 2}});
  }
  // Killed while the walk is under way: the reply lists what was read, or says why nothing was.
  DesktopApp& another = desktop().startApplication(program({"mousepad"}));
  ASSERT_TRUE(helper->sendLine(Json{{"cmd", "tree"}, {"app", "mousepad"}, {"id", 3}}.dump()));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  another.process->signalGroup(SIGKILL);
  const std::optional<Json> reply = helper->reply(HANG_BOUND);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)["id"], 3);
  EXPECT_GT(elementCount(*helper, "gtk3-widget-factory", 4), 0u);
  expectQuietEnd(*helper);
}

TEST_F(DesktopFaults, AParentThatStopsReadingEndsTheHelperQuietly) {
  auto helper = desktop().startHelper();
  ASSERT_TRUE(helper->request({{"cmd", "ping"}, {"id", 1}}).has_value());
  helper->process().closeStdout();
  // Its input stays open: the failed write alone ends it.
  ASSERT_TRUE(helper->sendLine(Json{{"cmd", "tree"}, {"app", "gtk3-widget-factory"}, {"id", 2}}.dump()));
  const std::optional<ExitStatus> status = helper->process().waitForExit(HANG_BOUND);
  ASSERT_TRUE(status.has_value()) << "the helper goes on with no one to reply to";
  EXPECT_TRUE(status->success()) << status->describe();
  EXPECT_EQ(helper->stderrText(), "");
}

// Each desktop of its own, since it does not survive the test.
class DesktopGoneAway : public ::testing::Test {};

void expectAnswersWithoutTheDesktop(DesktopSession& desktop, void (DesktopSession::*end)(),
                                    const char* missing) {
  desktop.startApplication();
  auto helper = desktop.startHelper();
  ASSERT_GT(elementCount(*helper, "gtk3-widget-factory", 1), 0u);
  (desktop.*end)();
  int id = 2;
  for (Json request : {Json{{"cmd", "apps"}}, Json{{"cmd", "windowtitles"}}, Json{{"cmd", "displays"}},
                       Json{{"cmd", "tree"}, {"app", "gtk3-widget-factory"}}, Json{{"cmd", "screenshot"}},
                       Json{{"cmd", "key"}, {"key", "a"}}, Json{{"cmd", "typetext"}, {"text", "a"}},
                       Json{{"cmd", "rec-start"}}, Json{{"cmd", "rec-stop"}}, Json{{"cmd", "ping"}}}) {
    request["id"] = id++;
    expectAnswered(*helper, request);
  }
  const std::optional<Json> doctor = helper->request({{"cmd", "doctor"}, {"id", id}}, HANG_BOUND);
  ASSERT_TRUE(doctor.has_value());
  EXPECT_EQ((*doctor)["result"][missing], false) << doctor->dump();
  expectQuietEnd(*helper);
}

TEST_F(DesktopGoneAway, TheXServerEndingLeavesEveryRequestAnswered) {
  DesktopSession desktop;
  expectAnswersWithoutTheDesktop(desktop, &DesktopSession::killXServer, "screen");
}

TEST_F(DesktopGoneAway, TheSessionBusEndingLeavesEveryRequestAnswered) {
  DesktopSession desktop;
  expectAnswersWithoutTheDesktop(desktop, &DesktopSession::killSessionBus, "accessibility");
}

}  // namespace
}  // namespace kelp::test
