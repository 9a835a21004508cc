#include <gtest/gtest.h>

#include "support/command_fixture.h"
#include "support/event_trace.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using test::trace;

class ActTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 300, .name = "Notes", .active = true});
    window = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Memo"}});
    sim.setAttr(sim.appRoot(300), "AXWindows", platform::ValueList{window});
    save = sim.addElement(window, "AXButton",
                          {{"AXTitle", "Save"}, {"AXPosition", Point{10, 20}}, {"AXSize", Size{100, 50}}});
    sim.addElement(window, "AXTextField", {{"AXTitle", "Title"}, {"AXPosition", Point{0, 100}}, {"AXSize", Size{300, 20}}});
    sim.addElement(window, "AXButton", {{"AXTitle", "Frameless"}});
  }
  Element window;
  Element save;
};

TEST_F(ActTest, RefsAndLocatorsChooseTheTarget) {
  EXPECT_EQ(run(R"({"cmd":"act","id":1,"ref":0})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"found":true,"label":"Save"},"error":null})"));
  // One past the end, or negative, is no ref; without a locator nothing is found.
  for (const char* request : {R"({"cmd":"act","id":2,"ref":3})", R"({"cmd":"act","id":2,"ref":-1})",
                              R"({"cmd":"act","id":2,"ref":"0"})"}) {
    EXPECT_EQ(run(request), Json::parse(R"({"id":2,"ok":true,"result":{"found":false}})")) << request;
  }
  EXPECT_EQ(run(R"({"cmd":"act","id":3,"ref":9,"locator":{"label":"Frameless"}})")["result"]["label"], "Frameless");
  // A valid ref wins over the locator.
  EXPECT_EQ(run(R"({"cmd":"act","id":4,"ref":0,"locator":{"label":"Frameless"}})")["result"]["label"], "Save");
  EXPECT_EQ(run(R"({"cmd":"act","id":5,"locator":{"label":"Nothing like it"}})")["result"],
            Json::parse(R"({"found":false})"));
}

// A ref of a tree that walked further than 400 elements is found by an act
// that walks as far.
TEST_F(ActTest, MaxLetsAnActReachAsFarAsItsTree) {
  for (int i = 0; i < 450; ++i) sim.addElement(window, "AXCell", {{"AXTitle", "C" + std::to_string(i)}});
  Element nameBox = sim.addElement(window, "AXTextField", {{"AXTitle", "Name Box"}});
  const Json tree = run(R"({"cmd":"find","id":1,"q":"name box","max":1000})");
  ASSERT_EQ(tree["result"]["elements"].size(), 1u);
  const Json ref = tree["result"]["elements"][0]["ref"];
  EXPECT_EQ(run(Json{{"cmd", "act"}, {"id", 2}, {"ref", ref}, {"action", "focus"}})["result"],
            Json::parse(R"({"found":false})"));
  EXPECT_EQ(run(Json{{"cmd", "act"}, {"id", 3}, {"ref", ref}, {"max", 1000}, {"action", "focus"}})["result"]["label"],
            "Name Box");
  EXPECT_TRUE(sim.writes.back().first == "AXFocused");
  (void)nameBox;
}

TEST_F(ActTest, FailuresBeforeTheElement) {
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"act","id":1,"ref":0})"), Json::parse(R"({"id":1,"ok":false,"error":"no-accessibility"})"));
  sim.trusted = true;
  EXPECT_EQ(run(R"({"cmd":"act","id":2,"app":"Nope","ref":0})"),
            Json::parse(R"({"id":2,"ok":false,"error":"그 프로그램을 찾지 못했어요"})"));
}

TEST_F(ActTest, BackgroundApplicationsComeForwardEvenWhenNothingIsFound) {
  sim.addApp({.pid = 400, .name = "Other", .active = true});
  sim.apps[0].active = false;
  run(R"({"cmd":"act","id":1,"app":"Notes","ref":99})");
  EXPECT_TRUE(sim.apps[0].active);
}

TEST_F(ActTest, RefusalsCarryTheReasonTwice) {
  sim.addElement(window, "AXButton", {{"AXTitle", "Pay now"}});
  Json reply = run(R"({"cmd":"act","id":1,"locator":{"label":"Pay now"},"action":"doubleclick"})");
  EXPECT_EQ(reply, Json::parse(R"({"id":1,"ok":false,"result":{"found":true,"label":"blocked-by-safety"},
                                   "error":"blocked-by-safety"})"));
  EXPECT_TRUE(sim.posted.empty());
  reply = run(R"({"cmd":"act","id":2,"ref":2,"action":"scroll"})");
  EXPECT_EQ(reply, Json::parse(R"({"id":2,"ok":false,"error":"위치를 알 수 없어요"})"));
  reply = run(R"({"cmd":"act","id":3,"ref":0,"action":"wiggle"})");
  EXPECT_EQ(reply["error"], "모르는 동작이에요");
  EXPECT_EQ(reply["result"]["label"], "모르는 동작이에요");
}

TEST_F(ActTest, TypeAndClickWithModsGoThroughTheElementAction) {
  Json reply = run(R"({"cmd":"act","id":1,"ref":1,"action":"type","text":"Groceries"})");
  EXPECT_TRUE(reply["ok"]);
  EXPECT_EQ(ax::str(sim.accessibility(), ax::elementsOf(ax::attr(sim.accessibility(), window, "AXChildren"))[1],
                    "AXValue"),
            "Groceries");
  sim.posted.clear();
  run(R"({"cmd":"act","id":2,"ref":0,"mods":["cmd"]})");
  EXPECT_EQ(trace(sim), "move 60,45 | +60 down#1+cmd 60,45 | +28 up#1+cmd 60,45");
}

TEST_F(ActTest, ScrollAndDragUseTheElementsCentre) {
  EXPECT_EQ(run(R"({"cmd":"act","id":1,"ref":0,"action":"scroll"})")["result"],
            Json::parse(R"({"found":true,"label":"Save"})"));
  EXPECT_EQ(trace(sim), "move 60,45 | +40 wheel 0,0");

  sim.posted.clear();
  run(R"({"cmd":"act","id":2,"ref":0,"action":"drag","dx":100})");
  EXPECT_EQ(test::describe(sim.posted.back()), "up 160,45");

  // A valid toRef wins over the offset and the toLocator.
  sim.posted.clear();
  run(R"({"cmd":"act","id":3,"ref":0,"action":"drag","dx":100,"toRef":1,"toLocator":{"label":"Save"}})");
  EXPECT_EQ(test::describe(sim.posted.back()), "up 150,110");

  // A destination without a position falls back to the offset.
  sim.posted.clear();
  run(R"({"cmd":"act","id":4,"ref":0,"action":"drag","dy":-5,"toRef":2})");
  EXPECT_EQ(test::describe(sim.posted.back()), "up 60,40");
  sim.posted.clear();
  run(R"({"cmd":"act","id":5,"ref":0,"action":"drag","toLocator":{"label":"Title"}})");
  EXPECT_EQ(test::describe(sim.posted.back()), "up 150,110");
}

TEST_F(ActTest, AmountsNoEventCanCarryAreRefusedWithoutInput) {
  for (const char* request : {R"({"cmd":"act","id":1,"ref":0,"action":"scroll","dy":1e300})",
                              R"({"cmd":"act","id":1,"ref":0,"action":"scroll","dx":-9e12})",
                              R"({"cmd":"act","id":1,"ref":0,"action":"scroll","dx":5,"dy":-1.7e308})"}) {
    Json reply = run(request);
    EXPECT_FALSE(reply["ok"]) << request;
    EXPECT_EQ(reply["error"], "스크롤 양이 너무 크거나 숫자가 아니에요") << request;
  }
  EXPECT_TRUE(sim.posted.empty());
}

TEST_F(ActTest, AppearedListsAtMostTwelveNewNodesInWalkOrder) {
  Json reply = run(R"({"cmd":"act","id":1,"ref":0})");
  EXPECT_FALSE(reply["result"].contains("appeared")) << "nothing changed";

  // Pressing "Save" now opens a menu of 20 items, the first with a long value,
  // and one item with a known role and label.
  sim.onAction(save, [&](const std::string& action) {
    if (action != "AXPress") return;
    Element menu = sim.addElement(window, "AXMenu");
    sim.addElement(menu, "AXButton", {{"AXTitle", "Save"}});
    for (int i = 0; i < 20; ++i) {
      std::vector<std::pair<std::string, platform::Value>> attributes{{"AXTitle", "Item " + std::to_string(i)}};
      if (i == 0) attributes.emplace_back("AXValue", std::string(100, 'v'));
      sim.addElement(menu, "AXMenuItem", attributes);
    }
  });
  const std::int64_t before = sim.nowMicros();
  reply = run(R"({"cmd":"act","id":2,"ref":0})");
  EXPECT_EQ(sim.nowMicros() - before, 450000);
  const Json& appeared = reply["result"]["appeared"];
  ASSERT_EQ(appeared.size(), 12u);
  EXPECT_EQ(appeared[0], Json::parse(R"({"ref":4,"role":"AXMenuItem","label":"Item 0","value":")" +
                                     std::string(60, 'v') + R"("})"));
  EXPECT_FALSE(appeared[1].contains("value"));
  EXPECT_EQ(appeared[11]["ref"], 15);
  EXPECT_EQ(appeared[11]["label"], "Item 11");
  // The refs hold for the next request, which walks the whole application.
  EXPECT_EQ(run(R"({"cmd":"act","id":3,"ref":15,"action":"focus"})")["result"]["label"], "Item 11");
}

}  // namespace
}  // namespace kelp
