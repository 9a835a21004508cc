#include <gtest/gtest.h>

#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;
namespace type = platform::eventType;

class RecordingTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Notes", .active = true});
    Element window = sim.addElement(sim.appRoot(100), "AXWindow", {{"AXTitle", "Main"}});
    Element group = sim.addElement(window, "AXGroup");
    save = sim.addElement(group, "AXButton", {{"AXTitle", "Save"}, {"AXPosition", platform::Point{10, 10}},
                                              {"AXSize", platform::Size{80, 20}}});
    // What the hit test finds is the button's unnamed inner part.
    Element inside = sim.addElement(save, "AXImage");
    sim.addHitRegion(sim.accessibility().systemWide(), 10, 10, 80, 20, inside);
  }
  Element save;
};

TEST_F(RecordingTest, RepliesOfEachCommandBeforeDuringAndAfterARecording) {
  EXPECT_EQ(run(R"({"cmd":"rec-stop","id":1})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"events":[],"droppedKeys":[]}})"));
  EXPECT_EQ(run(R"({"cmd":"rec-ignore","id":2,"ignoreApps":["A"]})"),
            Json::parse(R"({"id":2,"ok":false,"result":{"recording":false,"ignoring":["A"]},"error":"not-recording"})"));
  EXPECT_EQ(run(R"({"cmd":"rec-start","id":3,"ignoreApps":["Mail"]})"),
            Json::parse(R"({"id":3,"ok":true,"result":{"recording":true},"error":null})"));
  EXPECT_EQ(run(R"({"cmd":"rec-state","id":4})"),
            Json::parse(R"({"id":4,"ok":true,"result":{"recording":true,"count":0,"recent":[],"front":"Notes"}})"));
  EXPECT_EQ(run(R"({"cmd":"rec-start","id":5})")["ok"], true);
  EXPECT_EQ(run(R"({"cmd":"rec-ignore","id":6,"ignoreApps":["A","A","B"]})"),
            Json::parse(R"({"id":6,"ok":true,"result":{"recording":true,"ignoring":["A","B"]},"error":null})"));
  EXPECT_EQ(run(R"({"cmd":"rec-ignore","id":7,"ignoreApps":"A"})")["result"]["ignoring"], Json::array());
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"rec-stop","id":8})")["ok"], true);
  EXPECT_EQ(run(R"({"cmd":"rec-start","id":9})"),
            Json::parse(R"({"id":9,"ok":false,"result":{"recording":false},"error":"no-accessibility"})"));
  sim.trusted = true;
  sim.caps.eventTap = false;
  EXPECT_EQ(run(R"({"cmd":"rec-start","id":10})")["error"], "no-accessibility") << "a refused tap";
}

// A click as a person makes it, between commands, is recorded with a
// locator that "act" resolves to the same button.
TEST_F(RecordingTest, ARecordedClickReplaysOnTheSameElement) {
  ASSERT_EQ(run(R"({"cmd":"rec-start","id":1})")["ok"], true);
  sim.scheduleTapEvent(1000, {.type = type::leftMouseDown, .location = {20, 15}, .clickState = 1});
  sim.scheduleTapEvent(60000, {.type = type::leftMouseUp, .location = {20, 15}, .clickState = 1});
  sim.runFor(100000);
  EXPECT_EQ(run(R"({"cmd":"rec-state","id":2})")["result"]["recent"], Json::parse(R"(["Notes","Save"])"));
  const Json events = run(R"({"cmd":"rec-stop","id":3})")["result"]["events"];
  ASSERT_EQ(events.size(), 2u) << events.dump();
  EXPECT_EQ(events[1]["kind"], "app-click");
  EXPECT_EQ(events[1]["locator"], Json::parse(R"({"role":"AXButton","label":"Save","identifier":"","window":"Main"})"));

  sim.actions.clear();
  const Json replay = run(Json{{"cmd", "act"}, {"id", 4}, {"app", "Notes"}, {"locator", events[1]["locator"]}});
  EXPECT_EQ(replay["ok"], true) << replay.dump();
  ASSERT_FALSE(sim.actions.empty());
  EXPECT_TRUE(sim.actions.front().first == save);
}

}  // namespace
}  // namespace kelp
