// The self-test in a real desktop: the built kelp-cua shows a GTK window
// of its own and operates it through the accessibility bus.
#include <string>
#include <vector>

#include "desktop/fixture.h"
#include "desktop/nodes.h"

namespace kelp::test {
namespace {

using DesktopSelfTest = WidgetFactoryDesktop;

TEST_F(DesktopSelfTest, ReportsEveryCheckPassedTwiceAndOtherApplicationsStillRead) {
  const RunResult once = desktop().runHelper({"selftest"});
  ASSERT_TRUE(once.status.success()) << once.status.describe();
  ASSERT_EQ(once.lines().size(), 1u) << once.out;
  const std::optional<Json> reply = parseReply(once.lines()[0]);
  ASSERT_TRUE(reply) << once.out;
  expectAWorkingSelfTestReport((*reply)["result"]);
  EXPECT_EQ((*reply)["result"]["readBack"], "보고서.docx");
  EXPECT_EQ(once.err, "");

  const std::vector<Json> replies = ask({{{"cmd", "selftest"}, {"id", 1}},
                                         {{"cmd", "selftest"}, {"id", 2}},
                                         {{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 5}, {"id", 3}}});
  ASSERT_EQ(replies.size(), 3u);
  expectAWorkingSelfTestReport(replies[0]["result"]);
  expectAWorkingSelfTestReport(replies[1]["result"]);
  EXPECT_EQ(replies[1]["result"]["windows"], 2) << "the first window stays";
  EXPECT_EQ(elementsOf(replies[2]).size(), 5u) << replies[2].dump();
}

TEST_F(DesktopSelfTest, ClicksIntoTheHelpersOwnWindowAreNotRecorded) {
  auto helper = desktop().startHelper();
  auto ask = [&](const Json& request) {
    const std::optional<Json> reply = helper->request(request);
    EXPECT_TRUE(reply) << "no reply to " << request.dump() << ": " << helper->stderrText();
    return reply.value_or(Json::object());
  };
  ASSERT_EQ(ask({{"cmd", "selftest"}})["ok"], true);
  const Json own = ask({{"cmd", "tree"}, {"pid", helper->process().pid()}});
  const Json elements = elementsOf(own);
  const auto saves = nodesWith(elements, "AXButton", "저장하기");
  ASSERT_FALSE(saves.empty()) << own.dump();
  const Json& frame = (*saves.front())["frame"];
  const Json factory = elementsOf(ask({{"cmd", "tree"}, {"app", WIDGET_FACTORY}, {"max", 400}}));
  const auto names = nodesWith(factory, "AXButton", "Name");
  ASSERT_FALSE(names.empty());
  const Json& name = (*names.front())["frame"];
  auto at = [](const Json& box) {
    return std::vector<std::string>{std::to_string(box["x"].get<int>() + 10), std::to_string(box["y"].get<int>() + 10)};
  };
  ASSERT_EQ(ask({{"cmd", "rec-start"}})["ok"], true);
  desktop().xdotool({"mousemove", at(frame)[0], at(frame)[1], "click", "1", "sleep", "0.6",
                     "mousemove", at(name)[0], at(name)[1], "click", "1"});
  const Json stopped = ask({{"cmd", "rec-stop"}});
  // The tap saw both clicks; only the one in the other application counts.
  std::vector<std::string> kinds;
  for (const Json& event : stopped["result"]["events"]) kinds.push_back(event["kind"]);
  EXPECT_EQ(kinds, (std::vector<std::string>{"app-activate", "app-click"})) << stopped.dump();
  EXPECT_EQ(stopped["result"]["events"].back()["label"], "Name");
  EXPECT_TRUE(helper->finish().has_value());
}

}  // namespace
}  // namespace kelp::test
