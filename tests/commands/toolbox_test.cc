// The commands agents that look at the screen use: the pointer at a point of
// a picture, waiting for a condition, the clipboard, and choosing items and
// numbers; each with the safety gate in front.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::sim::PostedEvent;
using platform::Size;
namespace type = platform::eventType;

class ToolboxTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Shop", .active = true});
    // Two displays side by side; the second's pictures are scaled down.
    sim.captureDisplays = std::vector<platform::CaptureDisplay>{{.id = 1, .width = 800, .height = 600, .x = 0, .y = 0},
                                                                {.id = 2, .width = 2048, .height = 1152, .x = 800, .y = 0}};
    window = sim.addElement(sim.appRoot(100), "AXWindow", {{"AXTitle", "Checkout"}});
    pay = sim.addElement(window, "AXButton", {{"AXTitle", "Place order"}});
    payText = sim.addElement(pay, "AXStaticText", {{"AXValue", "Place order"}});
    group = sim.addElement(window, "AXGroup", {{"AXTitle", "결제하기"}});
    cancel = sim.addElement(group, "AXButton", {{"AXTitle", "Cancel"}});
    const Element root = sim.accessibility().systemWide();
    sim.addHitRegion(root, 100, 100, 100, 40, pay);
    sim.addHitRegion(root, 120, 110, 40, 20, payText);
    sim.addHitRegion(root, 300, 100, 80, 40, cancel);
  }

  std::vector<PostedEvent> mouseEvents() const {
    std::vector<PostedEvent> events;
    for (const PostedEvent& event : sim.posted) {
      if (event.kind != PostedEvent::Kind::key) events.push_back(event);
    }
    return events;
  }

  Element window, pay, payText, group, cancel;
};

TEST_F(ToolboxTest, APixelOfAPictureIsThePointItShows) {
  const Json shot = run(R"({"cmd":"screenshot","which":"all"})");
  ASSERT_EQ(shot["result"]["images"].size(), 2u) << shot.dump();
  EXPECT_EQ(shot["result"]["images"][1]["x"], 800.0);
  EXPECT_EQ(shot["result"]["images"][1]["scale"], 0.5);

  const Json reply = run(R"({"cmd":"pointer","action":"move","image":1,"x":100,"y":50})");
  EXPECT_EQ(reply["ok"], true) << reply.dump();
  EXPECT_EQ(reply["result"]["x"], 1000.0);
  EXPECT_EQ(reply["result"]["y"], 100.0);
  ASSERT_EQ(mouseEvents().size(), 1u);
  EXPECT_EQ(mouseEvents()[0].mouse.at, (Point{1000, 100}));

  struct Case {
    const char* request;
    const char* error;
  };
  for (const Case& bad : {
           Case{R"({"cmd":"pointer","image":2,"x":1,"y":1})", "마지막 screenshot 에 그 번호의 그림이 없어요"},
           Case{R"({"cmd":"pointer","image":"one","x":1,"y":1})", "마지막 screenshot 에 그 번호의 그림이 없어요"},
           Case{R"({"cmd":"pointer","image":0,"x":800,"y":1})", "그 좌표는 어느 화면에도 없어요"},
           Case{R"({"cmd":"pointer","x":2900,"y":10})", "그 좌표는 어느 화면에도 없어요"},
           Case{R"({"cmd":"pointer","x":10,"y":-1})", "그 좌표는 어느 화면에도 없어요"},
           Case{R"({"cmd":"pointer","action":"drag","x":10,"y":10,"toX":5000,"toY":10})",
                "그 좌표는 어느 화면에도 없어요"},
           Case{R"({"cmd":"pointer","x":10})", "x 와 y 를 숫자로 주세요"},
           Case{R"({"cmd":"pointer","action":"drag","x":10,"y":10})", "x 와 y 를 숫자로 주세요"},
           Case{R"({"cmd":"pointer","action":"poke","x":10,"y":10})", "모르는 동작이에요"},
           Case{R"({"cmd":"pointer","action":"down","button":"fourth","x":10,"y":10})", "모르는 동작이에요"},
           Case{R"({"cmd":"pointer","action":"scroll","x":10,"y":10,"dy":1e300})",
                "스크롤 양이 너무 크거나 숫자가 아니에요"},
       }) {
    EXPECT_EQ(run(bad.request)["error"], bad.error) << bad.request;
  }
  EXPECT_EQ(mouseEvents().size(), 1u) << "nothing posted for a refused request";

  // A screenshot that failed leaves no pictures to point into.
  sim.captureDisplays = std::nullopt;
  EXPECT_EQ(run(R"({"cmd":"screenshot"})")["ok"], false);
  EXPECT_EQ(run(R"({"cmd":"pointer","image":0,"x":1,"y":1})")["error"], "마지막 screenshot 에 그 번호의 그림이 없어요");
}

TEST_F(ToolboxTest, EachPointerActionPostsItsButtons) {
  struct Case {
    const char* request;
    std::vector<int> types;
    int lastClickState;
  };
  const std::vector<Case> cases = {
      {R"({"action":"click"})", {type::mouseMoved, type::leftMouseDown, type::leftMouseUp}, 1},
      {R"({"action":"doubleclick","mods":["Shift"]})",
       {type::mouseMoved, type::leftMouseDown, type::leftMouseUp, type::leftMouseDown, type::leftMouseUp},
       2},
      {R"({"action":"tripleclick"})",
       {type::mouseMoved, type::leftMouseDown, type::leftMouseUp, type::leftMouseDown, type::leftMouseUp,
        type::leftMouseDown, type::leftMouseUp},
       3},
      {R"({"action":"rightclick"})", {type::mouseMoved, type::rightMouseDown, type::rightMouseUp}, 1},
      {R"({"action":"middleclick"})", {type::mouseMoved, type::otherMouseDown, type::otherMouseUp}, 1},
      {R"({"action":"down","button":"right"})", {type::rightMouseDown}, 1},
      {R"({"action":"up","button":"middle"})", {type::otherMouseUp}, 1},
  };
  for (const Case& c : cases) {
    sim.posted.clear();
    Json request = Json::parse(c.request);
    request.update({{"cmd", "pointer"}, {"x", 500}, {"y", 300}});
    const Json reply = run(request);
    EXPECT_EQ(reply["result"]["done"], true) << c.request << reply.dump();
    std::vector<int> types;
    for (const PostedEvent& event : mouseEvents()) types.push_back(event.mouse.type);
    EXPECT_EQ(types, c.types) << c.request;
    ASSERT_FALSE(mouseEvents().empty());
    EXPECT_EQ(mouseEvents().back().mouse.clickState, c.lastClickState) << c.request;
  }
  sim.posted.clear();
  run(R"({"cmd":"pointer","action":"doubleclick","mods":["Shift"],"x":5,"y":5})");
  EXPECT_EQ(mouseEvents()[1].mouse.flags, platform::flags::shift) << "the key's own modifier names";

  sim.posted.clear();
  EXPECT_EQ(run(R"({"cmd":"pointer","action":"drag","x":10,"y":20,"toX":110,"toY":220})")["result"]["toX"], 110.0);
  EXPECT_EQ(mouseEvents().back().mouse.type, type::leftMouseUp);
  EXPECT_EQ(mouseEvents().back().mouse.at, (Point{110, 220}));
  sim.posted.clear();
  run(R"({"cmd":"pointer","action":"scroll","x":10,"y":20,"dy":-6})");
  ASSERT_FALSE(mouseEvents().empty());
  EXPECT_EQ(mouseEvents().back().kind, PostedEvent::Kind::scroll);
  EXPECT_LT(mouseEvents().back().scroll.dy, 0) << "the signs act's scroll uses";

  // Events the desktop lost are no action done, whichever the action.
  sim.pointerLost = true;
  for (const char* action : {R"({"action":"move"})", R"({"action":"click"})", R"({"action":"drag","toX":1,"toY":2})",
                             R"({"action":"scroll","dy":-6})"}) {
    Json request = Json::parse(action);
    request.update({{"cmd", "pointer"}, {"x", 500}, {"y", 300}});
    const Json reply = run(request);
    EXPECT_EQ(reply["ok"], false) << action << reply.dump();
    EXPECT_EQ(reply["result"]["done"], false) << action;
  }
  sim.pointerLost = false;
}

TEST_F(ToolboxTest, TheGateRefusesPressesThatLandOnAPaymentButton) {
  for (const char* action : {"click", "doubleclick", "tripleclick", "rightclick", "down", "up"}) {
    for (const Point at : {Point{105, 105}, Point{130, 115}}) {  // the button, and the text inside it
      const Json request = {{"cmd", "pointer"}, {"action", action}, {"x", at.x}, {"y", at.y}};
      const Json reply = run(request);
      EXPECT_EQ(reply["error"], "blocked-by-safety") << request.dump();
      EXPECT_EQ(reply["result"]["done"], false) << request.dump();
    }
  }
  EXPECT_TRUE(mouseEvents().empty());
  // Moving over it presses nothing; a button inside a group named for a
  // payment is no payment.
  EXPECT_EQ(run(R"({"cmd":"pointer","action":"move","x":130,"y":115})")["ok"], true);
  const Json cancelled = run(R"({"cmd":"pointer","x":310,"y":110})");
  EXPECT_EQ(cancelled["ok"], true) << cancelled.dump();
  EXPECT_EQ(cancelled["result"]["element"], Json::parse(R"({"role":"AXButton","label":"Cancel","app":"Shop"})"));
}

TEST_F(ToolboxTest, WaitPollsUntilTheConditionHoldsOrTheTimeIsUp) {
  Element dialog;
  sim.atTime(350'000, [&] { dialog = sim.addElement(window, "AXButton", {{"AXTitle", "Done"}}); });
  const int walksBefore = sim.snapshotsBegun;
  Json met = run(R"({"cmd":"wait","app":"Shop","locator":{"role":"AXButton","label":"Done"}})");
  EXPECT_EQ(met["result"]["met"], true) << met.dump();
  EXPECT_EQ(met["result"]["waitedMs"], 400) << "the first look after it came";
  EXPECT_EQ(met["result"]["element"]["label"], "Done");
  EXPECT_TRUE(met["result"]["element"].contains("ref"));
  EXPECT_LE(sim.snapshotsBegun - walksBefore, 5 * 2) << "one walk a round";

  sim.atTime(sim.nowMicros() + 200'000, [&] { sim.remove(dialog); });
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Shop","locator":{"label":"Done"},"until":"absent"})")["result"],
            Json::parse(R"({"met":true,"waitedMs":200})"));

  const Element total = sim.addElement(window, "AXStaticText", {{"AXTitle", "Total"}, {"AXValue", "0"}});
  sim.atTime(sim.nowMicros() + 150'000, [&] { sim.setAttr(total, "AXValue", "Total 42.00"); });
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Shop","locator":{"label":"Total"},"until":"value","text":"42"})")
                ["result"]["met"],
            true);

  // Not met in time is no failure; the time is bounded either way.
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Shop","locator":{"label":"Never"},"timeout":300})"),
            Json::parse(R"({"id":null,"ok":true,"result":{"met":false,"waitedMs":300}})"));
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Shop","locator":{"label":"Never"},"timeout":999999})")["result"]["waitedMs"],
            30000);
  EXPECT_EQ(run(R"({"cmd":"wait","ms":120})")["result"], Json::parse(R"({"met":true,"waitedMs":120})"));

  sim.atTime(sim.nowMicros() + 250'000, [&] { sim.addWindow({.ownerName = "Shop", .ownerPid = 100, .title = "Receipt"}); });
  EXPECT_EQ(run(R"({"cmd":"wait","window":"Rece"})")["result"]["met"], true) << "a part of the title, as a locator's";
  EXPECT_EQ(run(R"({"cmd":"wait","window":"Receipt","pid":100,"until":"absent","timeout":100})")["result"]["met"], false);

  // An application launched a moment ago is waited for, not reported missing.
  sim.atTime(sim.nowMicros() + 300'000, [&] {
    sim.addApp({.pid = 200, .name = "Viewer"});
    sim.addElement(sim.addElement(sim.appRoot(200), "AXWindow", {{"AXTitle", "Photo"}}), "AXButton",
                   {{"AXTitle", "Close"}});
  });
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Viewer","locator":{"label":"Close"}})")["result"]["met"], true);
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Nobody","locator":{"label":"Close"},"until":"absent"})")["result"]["met"],
            true);

  for (const char* bad : {R"({"cmd":"wait","app":"Shop","locator":{"label":"Done"},"until":"gone"})",
                          R"({"cmd":"wait","window":"Receipt","until":"enabled"})"}) {
    EXPECT_EQ(run(bad)["error"], messages::badWaitCondition) << bad;
  }
  EXPECT_EQ(run(R"({"cmd":"wait","app":"Shop","locator":{"label":"Done"},"until":"value"})")["error"],
            messages::waitValueNeedsText);
}

TEST_F(ToolboxTest, TheClipboardTakesNoCardNumberAndAPasteMissesACardField) {
  EXPECT_EQ(run(R"({"cmd":"clipboard"})")["result"], Json::parse(R"({"text":null})"));
  const Json set = run(R"({"cmd":"clipboard","text":"한글 😀"})");
  EXPECT_EQ(set["result"]["set"], true) << set.dump();
  EXPECT_EQ(set["result"]["chars"], 4);
  EXPECT_EQ(run(R"({"cmd":"clipboard"})")["result"]["text"], "한글 😀");

  EXPECT_EQ(run(R"({"cmd":"clipboard","text":"card 4111 1111 1111 1111"})")["error"], "blocked-by-safety");
  EXPECT_EQ(sim.clipboardText, "한글 😀") << "a refused text never reaches the clipboard";
  sim.clipboardRefuses = true;
  EXPECT_EQ(run(R"({"cmd":"clipboard","text":"x"})")["error"], messages::clipboardNotTaken);
  sim.caps.clipboard = false;
  EXPECT_EQ(run(R"({"cmd":"clipboard"})")["error"], messages::clipboardUnavailable);

  const Element card = sim.addElement(window, "AXTextField", {{"AXTitle", "Card number"}});
  sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", card);
  struct Case {
    const char* key;
    std::vector<std::string> mods;
    bool refused;
  };
  for (const Case& c : {Case{"v", {"ctrl"}, true}, Case{"V", {"cmd"}, true}, Case{"insert", {"shift"}, true},
                        Case{"v", {}, false}, Case{"c", {"ctrl"}, false}}) {
    const Json reply = run(Json{{"cmd", "key"}, {"key", c.key}, {"mods", c.mods}});
    EXPECT_EQ(reply["error"] == "blocked-by-safety", c.refused) << c.key << reply.dump();
  }
}

TEST_F(ToolboxTest, SelectChoosesAnItemAndSetvalueANumberAndBothReadBack) {
  const Element list = sim.addElement(window, "AXPopUpButton", {{"AXTitle", "Size"}});
  const Element small = sim.addElement(list, "AXMenuItem", {{"AXTitle", "Small"}, {"AXSelected", true}});
  const Element large = sim.addElement(list, "AXMenuItem", {{"AXTitle", "Large"}, {"AXSelected", false}});
  const Element order = sim.addElement(list, "AXMenuItem", {{"AXTitle", "Buy now"}, {"AXSelected", false}});
  // The drop-down keeps one item selected.
  for (const Element& row : {small, large, order}) {
    sim.onWrite(row, [this, row, small, large, order](const std::string& attribute) {
      if (attribute != "AXSelected") return;
      for (const Element& other : {small, large, order}) {
        if (!(other == row)) sim.setAttr(other, "AXSelected", false);
      }
    });
  }
  const Json chosen = run(R"({"cmd":"act","app":"Shop","locator":{"label":"Size"},"action":"select","text":"large"})");
  EXPECT_EQ(chosen["ok"], true) << chosen.dump();
  EXPECT_EQ(sim.accessibility().copyAttribute(large, "AXSelected"), platform::Value(true));

  const Json missing = run(R"({"cmd":"act","app":"Shop","locator":{"label":"Size"},"action":"select","text":"Huge"})");
  EXPECT_EQ(missing["error"], "「Huge」 항목이 없어요. 여기 있는 것: Small, Large, Buy now") << missing.dump();
  EXPECT_EQ(run(R"({"cmd":"act","app":"Shop","locator":{"label":"Size"},"action":"select","text":"Buy now"})")["error"],
            "blocked-by-safety");
  EXPECT_EQ(sim.accessibility().copyAttribute(order, "AXSelected"), platform::Value(false));

  const Element spin = sim.addElement(window, "AXIncrementor", {{"AXTitle", "Quantity"}, {"AXValue", 1.0}});
  // The spin button keeps to its range, as toolkits do.
  sim.onWrite(spin, [this, spin](const std::string&) {
    const platform::Value now = sim.accessibility().copyAttribute(spin, "AXValue");
    if (const double* number = now.as<double>(); number && *number > 10) sim.setAttr(spin, "AXValue", 10.0);
  });
  const char* const quantity = R"({"label":"Quantity"})";
  auto setvalue = [&](const std::string& text) {
    return run(Json{{"cmd", "act"}, {"app", "Shop"}, {"locator", Json::parse(quantity)}, {"action", "setvalue"},
                    {"text", text}});
  };
  EXPECT_EQ(setvalue("7")["ok"], true);
  EXPECT_EQ(sim.accessibility().copyAttribute(spin, "AXValue"), platform::Value(7.0));
  EXPECT_EQ(setvalue("25")["error"], std::string(messages::valueDidNotTake) + " (10)");
  EXPECT_EQ(setvalue("seven")["error"], messages::notANumber);
  sim.refuse(spin, "AXValue");
  EXPECT_EQ(setvalue("3")["error"], messages::valueNotSettable);

  const Element cardField = sim.addElement(window, "AXTextField", {{"AXTitle", "Card number"}});
  (void)cardField;
  EXPECT_EQ(run(R"({"cmd":"act","app":"Shop","locator":{"label":"Card number"},"action":"setvalue","text":"4"})")
                ["error"],
            "blocked-by-safety");
}

}  // namespace
}  // namespace kelp
