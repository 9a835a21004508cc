// The ways around the safety gate that requests once had: each is refused
// now, and nothing reaches the application.
#include <gtest/gtest.h>

#include "ax/attributes.h"
#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;

class SafetyGateTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Shop", .active = true});
    Element app = sim.appRoot(100);
    Element window = sim.addElement(app, "AXWindow", {{"AXTitle", "Checkout"}});
    pay = sim.addElement(window, "AXButton", {{"AXTitle", "결제하기"}, {"AXPosition", platform::Point{10, 10}},
                                              {"AXSize", platform::Size{80, 30}}});
    name = sim.addElement(window, "AXTextField", {{"AXTitle", "Name"}});
    Element bar = sim.addElement(app, "AXMenuBar");
    sim.setAttr(app, "AXMenuBar", bar);
    Element orders = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "Orders"}});
    // The menu shows its items once it is pressed open, as many do.
    sim.onAction(orders, [this, orders](const std::string& action) {
      if (action != "AXPress" || !ax::elementsOf(ax::attr(sim.accessibility(), orders, "AXChildren")).empty()) return;
      Element menu = sim.addElement(orders, "AXMenu");
      placeOrder = sim.addElement(menu, "AXMenuItem", {{"AXTitle", "Place order"}});
      sim.addElement(menu, "AXMenuItem", {{"AXTitle", "History"}});
    });
  }
  void focus(const Element& element) { sim.setAttr(sim.appRoot(100), "AXFocusedUIElement", element); }
  int pressesOf(const Element& element) {
    int count = 0;
    for (const auto& [target, action] : sim.actions) count += target == element && action == "AXPress";
    return count;
  }
  Element pay, name, placeOrder;
};

TEST_F(SafetyGateTest, AMenuItemThatOrdersIsNotChosen) {
  EXPECT_EQ(run(R"({"cmd":"menu","id":1,"app":"Shop","path":["Orders","Place order"]})"),
            Json::parse(R"({"id":1,"ok":false,"result":{"app":"Shop","done":false,"label":"Place order"},
                            "error":"blocked-by-safety"})"));
  EXPECT_EQ(pressesOf(placeOrder), 0);
  ASSERT_EQ(sim.posted.size(), 2u) << "the menu the walk opened is closed with Escape";
  EXPECT_EQ(sim.posted[0].key.keyCode, 53);
  EXPECT_EQ(run(R"({"cmd":"menu","id":2,"app":"Shop","path":["Orders"],"list":true})")["result"]["items"].size(), 2u)
      << "listing stays allowed";
}

TEST_F(SafetyGateTest, KeysThatPressAFocusedPaymentButtonAreNotSent) {
  EXPECT_TRUE(run(R"({"cmd":"act","id":1,"app":"Shop","locator":{"label":"결제하기"},"action":"focus"})")["ok"]);
  for (const char* key : {"return", "enter", "keypadenter", "space", "Return"}) {
    const Json request = {{"cmd", "key"}, {"id", 2}, {"key", key}, {"mods", {"shift"}}};
    EXPECT_EQ(run(request), Json::parse(R"({"id":2,"ok":false,"result":{"pressed":false},"error":"blocked-by-safety"})"))
        << key;
  }
  EXPECT_TRUE(sim.posted.empty());
  EXPECT_TRUE(run(R"({"cmd":"key","id":3,"key":"tab"})")["ok"]) << "moving the focus away is allowed";
}

TEST_F(SafetyGateTest, TextIsNotTypedAtAPaymentButtonNorAnyCardNumberAnywhere) {
  focus(pay);
  EXPECT_EQ(run(R"({"cmd":"typetext","id":1,"text":" "})"),
            Json::parse(R"({"id":1,"ok":false,"error":"blocked-by-safety"})"));
  focus(name);
  EXPECT_EQ(run(R"({"cmd":"typetext","id":2,"text":"4111 1111 1111 1111"})")["error"], "blocked-by-safety");
  EXPECT_TRUE(sim.posted.empty());

  const Json typed = run(R"({"cmd":"act","id":3,"app":"Shop","locator":{"label":"Name"},"action":"type",
                             "text":"5555-5555-5555-4444"})");
  EXPECT_EQ(typed["error"], "blocked-by-safety");
  EXPECT_EQ(run(R"({"cmd":"act","id":4,"app":"Shop","locator":{"label":"결제하기"},"action":"type","text":"\n"})")
                ["error"],
            "blocked-by-safety");
  EXPECT_TRUE(sim.writes.empty()) << "no value was written";
  EXPECT_TRUE(sim.posted.empty());
  EXPECT_EQ(pressesOf(pay), 0);

  EXPECT_TRUE(run(R"({"cmd":"typetext","id":5,"text":"010-1234-5678"})")["ok"]) << "a phone number is no card";
}

}  // namespace
}  // namespace kelp
