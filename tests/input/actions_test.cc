#include "input/actions.h"

#include <gtest/gtest.h>

#include "ax/node.h"
#include "input/text_entry.h"
#include "support/event_trace.h"

namespace kelp::input {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using test::trace;

class DoAction : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Shop", .active = true});
    window = sim.addElement(sim.appRoot(100), "AXWindow", {{"AXTitle", "Checkout"}});
  }
  ax::Node node(const Element& element) { return ax::walk(sim.accessibility(), element, 1).at(0); }
  ax::Node button(const std::string& title, bool framed = true) {
    std::vector<std::pair<std::string, platform::Value>> attributes{{"AXTitle", title}};
    if (framed) {
      attributes.emplace_back("AXPosition", Point{10, 20});
      attributes.emplace_back("AXSize", Size{100, 50});
    }
    return node(sim.addElement(window, "AXButton", attributes));
  }
  ax::Node field(const std::string& title) {
    return node(sim.addElement(window, "AXTextField",
                               {{"AXTitle", title}, {"AXPosition", Point{0, 0}}, {"AXSize", Size{200, 20}}}));
  }
  ActionResult act(const ax::Node& target, std::string_view action, const std::string& text = "",
                   const std::vector<std::string>& mods = {}) {
    return doAction(sim, safety, target, action, text, mods);
  }
  std::string valueOf(const ax::Node& target) { return ax::str(sim.accessibility(), target.el, "AXValue"); }

  platform::sim::SimDesktop sim;
  locate::SafetyPatterns safety = locate::compileSafetyPatterns();
  Element window;
};

TEST_F(DoAction, TheGateRefusesBeforeAnythingIsDone) {
  for (const char* action : {"click", "doubleclick"}) {
    ActionResult result = act(button("결제하기"), action, "", {"cmd"});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "blocked-by-safety");
  }
  ActionResult typed = act(field("Card number"), "type", "4111");
  EXPECT_EQ(typed.message, "blocked-by-safety");
  EXPECT_TRUE(sim.actions.empty());
  EXPECT_TRUE(sim.writes.empty());
  EXPECT_TRUE(sim.posted.empty());
  // Other actions on the same elements are not the gate's business.
  EXPECT_TRUE(act(button("결제하기"), "focus").ok);
}

TEST_F(DoAction, ClickPressesThenClicksThenSelects) {
  ActionResult pressed = act(button("Save"), "click");
  EXPECT_TRUE(pressed.ok);
  EXPECT_EQ(pressed.message, "Save");
  EXPECT_TRUE(sim.posted.empty());
  ASSERT_EQ(sim.actions.size(), 1u);
  EXPECT_EQ(sim.actions[0].second, "AXPress");

  ax::Node stubborn = button("Stubborn");
  sim.refuse(stubborn.el, "AXPress");
  EXPECT_TRUE(act(stubborn, "click").ok);
  EXPECT_EQ(trace(sim), "move 60,45 | +60 down#1 60,45 | +28 up#1 60,45");

  ax::Node row = button("Row", false);
  sim.refuse(row.el, "AXPress");
  EXPECT_TRUE(act(row, "click").ok);
  EXPECT_EQ(sim.writes.back().first, "AXSelected");

  ax::Node dead = button("Dead", false);
  sim.refuse(dead.el, "AXPress");
  sim.refuse(dead.el, "AXSelected");
  ActionResult refused = act(dead, "click");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.message, "이 항목은 누를 수 없어요");
}

TEST_F(DoAction, ModifiedAndDoubleClicksAreAlwaysSynthesised) {
  EXPECT_TRUE(act(button("Item"), "click", "", {"cmd"}).ok);
  EXPECT_TRUE(sim.actions.empty());
  EXPECT_EQ(trace(sim), "move 60,45 | +60 down#1+cmd 60,45 | +28 up#1+cmd 60,45");

  sim.posted.clear();
  EXPECT_TRUE(act(button("Item"), "doubleclick").ok);
  EXPECT_EQ(sim.posted.size(), 5u);
  EXPECT_TRUE(sim.actions.empty());

  for (auto mods : {std::vector<std::string>{}, std::vector<std::string>{"shift"}}) {
    ActionResult nowhere = act(button("Frameless", false), "doubleclick", "", mods);
    EXPECT_FALSE(nowhere.ok);
    EXPECT_EQ(nowhere.message, "위치를 알 수 없어요");
  }
}

TEST_F(DoAction, RightClickShowsTheMenuOrClicksTheRightButton) {
  EXPECT_TRUE(act(button("File"), "rightclick").ok);
  EXPECT_EQ(sim.actions.back().second, "AXShowMenu");
  EXPECT_TRUE(sim.posted.empty());

  ax::Node plain = button("Plain");
  sim.refuse(plain.el, "AXShowMenu");
  EXPECT_TRUE(act(plain, "rightclick").ok);
  EXPECT_EQ(trace(sim), "move 60,45 | +50 rdown 60,45 | +40 rup 60,45");

  ax::Node frameless = button("Frameless", false);
  sim.refuse(frameless.el, "AXShowMenu");
  EXPECT_EQ(act(frameless, "rightclick").message, "위치를 알 수 없어요");
}

TEST_F(DoAction, TypeWritesTheValueAndChecksItArrived) {
  ax::Node name = field("Name");
  ActionResult result = act(name, "type", "Kim");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.message, "Name");
  EXPECT_EQ(valueOf(name), "Kim");
  EXPECT_TRUE(sim.posted.empty());
  EXPECT_EQ(sim.nowMicros(), 60000);
}

TEST_F(DoAction, TypeFallsBackToTheKeyboardWhenTheWriteIsIgnored) {
  ax::Node memo = field("Memo");
  sim.refuse(memo.el, "AXValue");
  sim.setAttr(memo.el, "AXValue", "Dear ");
  ActionResult result = act(memo, "type", "안녕 😀");
  EXPECT_TRUE(result.ok) << result.message;
  // What the field held is selected first, so the text replaces it.
  EXPECT_EQ(valueOf(memo), "안녕 😀");
  // 60 ms check, 120 ms after the press, one chunk of 12 ms, 200 ms settle.
  EXPECT_EQ(sim.nowMicros(), 60000 + 120000 + 12000 + 200000);
  EXPECT_EQ(sim.actions.back().second, "AXPress");
}

TEST_F(DoAction, TypeWaitsForABusyFieldAndReportsTextThatNeverLanded) {
  ax::Node locked = field("Locked");
  sim.refuse(locked.el, "AXValue");
  sim.onTyping(locked.el, [](const std::string& value, const std::string&) { return value; });
  ActionResult result = act(locked, "type", "abc");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "글자가 그 칸에 들어가지 않았어요 — 그 칸을 먼저 눌러 커서를 넣고 type_here 로 쳐 보세요");

  // A busy application still shows its field empty when the settle after
  // typing is over, and takes the text in 300 ms later.
  ax::Node busy = field("Busy");
  sim.setAttr(busy.el, "AXValue", "");
  sim.refuse(busy.el, "AXValue");
  sim.onTyping(busy.el, [&](const std::string& value, const std::string& typed) {
    sim.atTime(sim.nowMicros() + 300000, [&, typed] { sim.setAttr(busy.el, "AXValue", typed); });
    return value;
  });
  EXPECT_TRUE(act(busy, "type", "abc").ok);
  EXPECT_EQ(valueOf(busy), "abc");
}

TEST_F(DoAction, TypeReplacesWhatTheFieldHeldAndCountsOnlyTheWholeTextAsLanded) {
  // The field ignores the write and the accessibility selection: the
  // desktop's select-all shortcut selects what it held.
  ax::Node bookmark = field("Bookmark name");
  sim.setAttr(bookmark.el, "AXValue", "Checkout test page");
  sim.refuse(bookmark.el, "AXValue");
  sim.refuse(bookmark.el, "AXSelectedTextRange");
  EXPECT_TRUE(act(bookmark, "type", "Shop checkout").ok);
  EXPECT_EQ(valueOf(bookmark), "Shop checkout");
  EXPECT_NE(trace(sim).find("+cmd"), std::string::npos) << trace(sim);

  // A field that puts the text into the middle of what it held holds a mix:
  // that is no landing, though the mix contains the text.
  ax::Node mixing = field("Mixing");
  sim.setAttr(mixing.el, "AXValue", "Checkout test page");
  sim.refuse(mixing.el, "AXValue");
  sim.onTyping(mixing.el, [](const std::string& value, const std::string& typed) {
    return value.substr(0, 15) + typed + value.substr(15);
  });
  ActionResult mixed = act(mixing, "type", "Shop checkout");
  EXPECT_FALSE(mixed.ok);
  EXPECT_EQ(mixed.message, "글자가 그 칸에 들어가지 않았어요 — 그 칸을 먼저 눌러 커서를 넣고 type_here 로 쳐 보세요");

  // A number field formats what it takes on its own.
  ax::Node amount = field("Amount");
  sim.refuse(amount.el, "AXValue");
  sim.onTyping(amount.el, [](const std::string&, const std::string&) { return std::string("1,234.50"); });
  EXPECT_TRUE(act(amount, "type", "1234.5").ok);
}

TEST_F(DoAction, ClickSelectsAnItemAsAPersonsClickWould) {
  const auto row = [&](const std::string& title, double y) {
    Element element = sim.addElement(window, "AXRow", {{"AXTitle", title}, {"AXSelected", false},
                                                       {"AXPosition", Point{0, y}}, {"AXSize", Size{200, 20}}});
    sim.addHitRegion(sim.accessibility().systemWide(), 0, y, 200, 20, element);
    return node(element);
  };
  // The pointer clicks it, as a person does (a list shows the item's page
  // for a click, not always for a selection); no press, which would open
  // the item. Here the click does not select it: the selection does.
  ax::Node loadSave = row("Load/Save", 100);
  EXPECT_TRUE(act(loadSave, "click").ok);
  EXPECT_EQ(trace(sim).substr(0, 45), "move 100,110 | +60 move 100,110 | +60 down#1 ") << trace(sim);
  EXPECT_TRUE(ax::boolAttr(sim.accessibility(), loadSave.el, "AXSelected", false));
  EXPECT_TRUE(sim.actions.empty());

  // An item that neither the click nor the selection selects was not
  // clicked as asked.
  sim.posted.clear();
  ax::Node general = row("General", 200);
  sim.refuse(general.el, "AXSelected");
  ActionResult stubborn = act(general, "click");
  EXPECT_FALSE(stubborn.ok);
  EXPECT_EQ(stubborn.message, "이 항목은 누를 수 없어요");
}

TEST_F(DoAction, WhereAPressWouldHoldTheApplicationThePointerPresses) {
  sim.pressesHoldApplication.insert(100);
  ax::Node save = button("Save As…");
  sim.addHitRegion(sim.accessibility().systemWide(), 10, 20, 100, 50, save.el);
  EXPECT_TRUE(act(save, "click").ok);
  EXPECT_TRUE(sim.actions.empty());
  // The pointer comes to rest on it, and clicks where it is then.
  EXPECT_EQ(trace(sim), "move 60,45 | +60 move 60,45 | +60 down#1 60,45 | +28 up#1 60,45");
  sim.posted.clear();
  sim.onWrite(save.el, nullptr);
  ax::Node moving = button("Moving");
  sim.addHitRegion(sim.accessibility().systemWide(), 10, 20, 100, 50, moving.el);
  sim.setAttr(moving.el, "AXPosition", Point{10, 45});
  EXPECT_TRUE(act(moving, "click").ok);
  EXPECT_EQ(trace(sim), "move 60,45 | +60 move 60,70 | +60 down#1 60,70 | +28 up#1 60,70")
      << "a place that was stale is read again once the pointer came";
  // Without a place on screen the press is all there is.
  sim.posted.clear();
  EXPECT_TRUE(act(button("Hidden", false), "click").ok);
  EXPECT_EQ(sim.actions.back().second, "AXPress");
  EXPECT_TRUE(sim.posted.empty());
}

TEST_F(DoAction, ClickOnAToggleThatShowsNoChangeFallsBackToThePointerWhereItReachesIt) {
  Element box = sim.addElement(window, "AXCheckBox", {{"AXTitle", "Bold"}, {"AXValue", std::int64_t{0}},
                                                      {"AXPosition", Point{0, 200}}, {"AXSize", Size{20, 20}}});
  sim.addHitRegion(sim.accessibility().systemWide(), 0, 200, 20, 20, box);
  // The press is taken but changes nothing; the click at the centre does.
  int clicks = 0;
  sim.onAction(box, [&](const std::string&) {});
  ActionResult result = act(node(box), "click");
  EXPECT_FALSE(result.ok) << "neither the press nor the click checked it";
  EXPECT_NE(trace(sim).find("down#1 10,210"), std::string::npos);

  // A busy application takes the press in 560 ms late, as the pointer's
  // click goes in, and the click then unchecks it again: no success.
  const auto checked = [&] {
    const platform::Value value = sim.accessibility().copyAttribute(box, "AXValue");
    return *value.as<std::int64_t>();
  };
  const auto flip = [&] { sim.setAttr(box, "AXValue", std::int64_t{1 - checked()}); };
  sim.onAction(box, [&](const std::string&) { sim.atTime(sim.nowMicros() + 560000, flip); });
  sim.onMouse = [&](const platform::MouseEvent& event) {
    if (event.type == platform::eventType::leftMouseDown) sim.atTime(sim.nowMicros() + 100000, flip);
  };
  EXPECT_FALSE(act(node(box), "click").ok);
  EXPECT_EQ(checked(), 0);
  sim.onMouse = nullptr;

  // A press that checks it needs no pointer.
  sim.posted.clear();
  sim.onAction(box, [&](const std::string&) { sim.setAttr(box, "AXValue", std::int64_t{++clicks % 2}); });
  EXPECT_TRUE(act(node(box), "click").ok);
  EXPECT_TRUE(sim.posted.empty());

  // An element that is gone after the press (its application with it) shows
  // no change: the click is not reported as done.
  Element doomed = sim.addElement(window, "AXCheckBox", {{"AXTitle", "Doomed"}, {"AXValue", std::int64_t{0}},
                                                         {"AXPosition", Point{0, 300}}, {"AXSize", Size{20, 20}}});
  const ax::Node doomedNode = node(doomed);
  sim.onAction(doomed, [&](const std::string&) { sim.remove(doomed); });
  EXPECT_FALSE(act(doomedNode, "click").ok);

  // Something else in front of it (a dialog the press opened) is not clicked.
  sim.posted.clear();
  Element dialog = sim.addElement(sim.appRoot(100), "AXWindow", {{"AXTitle", "Confirm"}});
  sim.addHitRegion(sim.accessibility().systemWide(), 0, 0, 500, 500, dialog);
  sim.onAction(box, [&](const std::string&) {});
  EXPECT_TRUE(act(node(box), "click").ok);
  EXPECT_TRUE(sim.posted.empty());
}

TEST(TextLanded, TheWholeTextUpToWhatFieldsDoOnTheirOwn) {
  struct Case {
    const char* value;
    const char* typed;
    bool secure;
    bool landed;
  } cases[] = {
      {"Shop checkout", "Shop checkout", false, true},
      {"Checkout test pShop checkoutage", "Shop checkout", false, false},
      {"/tmp/x/g4.txt/tmp/x/g4.txt", "/tmp/x/g4.txt", false, false},
      {"", "abc", false, false},
      {"", "", false, true},
      {"line one\r\nline two", "line one\nline two", false, true},
      {" padded ", "padded", false, true},
      {"Hello world", "hello world", false, true},
      {"it\u2019s \u201Cfine\u201D", "it's \"fine\"", false, true},
      {"1,234.50", "1234.5", false, true},
      {"1.234,5", "1234.5", false, true},
      {"3", "3.00", false, true},
      {"12", "1.2", false, false},
      {"\u2022\u2022\u2022\u2022", "pass", true, true},
      {"\u2022\u2022\u2022", "pass", true, false},
      {"pass", "pass", true, true},
  };
  for (const Case& c : cases) EXPECT_EQ(textLanded(c.value, c.typed, c.secure), c.landed) << c.value << " / " << c.typed;
}

TEST_F(DoAction, TypeStopsWhenItsApplicationWillNotComeForward) {
  sim.apps[0].active = false;
  sim.activationDelay[100] = std::nullopt;
  ax::Node memo = field("Memo");
  sim.refuse(memo.el, "AXValue");
  ActionResult result = act(memo, "type", "abc");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "그 프로그램을 앞으로 부를 수 없어서 글자를 넣지 못했어요");
  EXPECT_TRUE(sim.posted.empty());
}

TEST_F(DoAction, FocusAndUnknownActions) {
  ax::Node memo = field("Memo");
  ActionResult focused = act(memo, "focus");
  EXPECT_TRUE(focused.ok);
  EXPECT_EQ(focused.message, "Memo");
  sim.refuse(memo.el, "AXFocused");
  ActionResult refused = act(memo, "focus");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.message, "Memo");

  for (const char* action : {"Click", "press", ""}) {
    ActionResult unknown = act(memo, action);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.message, "모르는 동작이에요");
  }
}

}  // namespace
}  // namespace kelp::input
