// The recorder's decisions, with scripted answers to what it reads of the
// desktop, and the simulated desktop's tap, clock and run loop.
#include "recorder/recorder.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "input/keyboard.h"
#include "platform/sim/sim_desktop.h"
#include "recorder/records.h"

namespace kelp::recorder {
namespace {

using platform::Element;
using platform::Point;
using platform::TappedEvent;
namespace type = platform::eventType;

// What the recorder reads, as a test arranges it: elements in rectangles of
// the screen, the frontmost application, the focused element, and values
// and frames by element.
class ScriptedView final : public RecorderView {
 public:
  explicit ScriptedView(platform::sim::SimDesktop& sim) : sim_(sim) {}

  Described& place(double x, double y, double w, double h, std::string app, std::string role, std::string label,
                   std::string identifier = "") {
    Described described{sim_.makeElement(100), std::move(app), std::move(role), std::move(label),
                        std::move(identifier), Json()};
    described.locator = {{"role", described.role},
                         {"label", described.label},
                         {"identifier", described.identifier},
                         {"window", "Main"}};
    regions_.push_back({x, y, w, h, described});
    return regions_.back().described;
  }
  void setValue(const Element& element, std::string value) { values_.emplace_back(element, std::move(value)); }
  void setFrame(const Element& element, ax::Frame frame) { frames_.emplace_back(element, frame); }
  void vanish(const Element& element) { gone_.push_back(element); }

  std::optional<FrontApp> front = FrontApp{100, "Notes", false};
  std::optional<Described> focused;

  std::optional<Described> at(Point point) override {
    for (auto it = regions_.rbegin(); it != regions_.rend(); ++it) {
      if (point.x >= it->x && point.y >= it->y && point.x < it->x + it->w && point.y < it->y + it->h) {
        return it->described;
      }
    }
    return std::nullopt;
  }
  std::optional<FrontApp> frontmost() override { return front; }
  std::optional<Described> focusedElement(const FrontApp&) override { return focused; }
  Naming naming(const Element& element) override {
    for (const Element& vanished : gone_) {
      if (vanished == element) return {};
    }
    for (const Region& region : regions_) {
      const Described& d = region.described;
      if (d.element == element) return {d.role, d.label, d.identifier};
    }
    if (focused && focused->element == element) return {focused->role, focused->label, focused->identifier};
    return {};
  }
  std::string value(const Element& element) override { return latest(values_, element).value_or(""); }
  std::optional<ax::Frame> frame(const Element& element) override { return latest(frames_, element); }

 private:
  struct Region {
    double x, y, w, h;
    Described described;
  };
  template <typename T>
  static std::optional<T> latest(const std::vector<std::pair<Element, T>>& list, const Element& element) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      if (it->first == element) return it->second;
    }
    return std::nullopt;
  }
  platform::sim::SimDesktop& sim_;
  std::deque<Region> regions_;  // stable references to what place() gave
  std::vector<std::pair<Element, std::string>> values_;
  std::vector<std::pair<Element, ax::Frame>> frames_;
  std::vector<Element> gone_;
};

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto scripted = std::make_unique<ScriptedView>(sim);
    view = scripted.get();
    recorder = std::make_unique<Recorder>(sim, safety, std::move(scripted));
    save = &view->place(0, 0, 100, 30, "Notes", "AXButton", "Save");
    field = &view->place(0, 40, 200, 30, "Notes", "AXTextField", "Title");
    page = &view->place(0, 100, 400, 300, "Notes", "AXScrollArea", "Page");
    other = &view->place(500, 0, 100, 30, "Mail", "AXButton", "Send");
    ASSERT_TRUE(recorder->start({}));
  }

  void press(int eventType, Point at, std::int64_t clickState = 1, std::uint64_t flags = 0) {
    sim.deliverTapEvent({.type = eventType, .location = at, .flags = flags, .clickState = clickState});
  }
  void click(Point at, std::int64_t clickState = 1, std::uint64_t flags = 0) {
    press(type::leftMouseDown, at, clickState, flags);
    press(type::leftMouseUp, at, clickState, flags);
  }
  void key(const char* name, std::uint64_t flags = 0) {
    sim.deliverTapEvent({.type = type::keyDown, .flags = flags, .keyCode = input::KEYMAP().at(name)});
  }
  // A scroll event over `at`, `afterMicros` of virtual time from now.
  void scrollLater(std::int64_t afterMicros, Point at, double dy, double dx = 0) {
    sim.runLoop().addTimer(afterMicros, [this, at] { sim.pointer = at; });
    sim.scheduleTapEvent(afterMicros, {.type = type::scrollWheel, .location = at, .scrollDx = dx, .scrollDy = dy});
  }
  std::vector<std::string> kinds() {
    std::vector<std::string> list;
    for (const Json& event : recorder->events()) list.push_back(event["kind"]);
    return list;
  }
  const Json& last() { return recorder->events().back(); }

  platform::sim::SimDesktop sim;
  locate::SafetyPatterns safety = locate::compileSafetyPatterns();
  ScriptedView* view = nullptr;
  std::unique_ptr<Recorder> recorder;
  Described* save = nullptr;
  Described* field = nullptr;
  Described* page = nullptr;
  Described* other = nullptr;
};

using Kinds = std::vector<std::string>;

TEST_F(RecorderTest, AShortcutRecordsTheSwitchToItsApplicationThenTheKey) {
  key("s", platform::flags::command);
  ASSERT_EQ(kinds(), (Kinds{"app-activate", "app-key"}));
  const Json& activate = recorder->events()[0];
  EXPECT_EQ(activate["app"], "Notes");
  EXPECT_EQ(activate["label"], "Notes");
  EXPECT_EQ(last()["key"], "s");
  EXPECT_EQ(last()["mods"], Json::array({"cmd"}));
  EXPECT_EQ(last()["label"], "⌘S");
  EXPECT_EQ(last()["at"], sim.wallStartMillis);
  EXPECT_FALSE(last().contains("app"));
  key("left", platform::flags::control);
  EXPECT_EQ(last()["mods"], Json::array({"ctrl"}));
  key("tab", platform::flags::shift);
  EXPECT_EQ(last()["label"], "⇧Tab");
}

TEST_F(RecorderTest, KeysLeftOutAreNotedExactlyAndAtMostThirtyTimes) {
  key("a");
  sim.deliverTapEvent({.type = type::keyDown, .keyCode = 105});  // F13: no name
  sim.deliverTapEvent({.type = type::keyDown, .flags = platform::flags::command | platform::flags::shift,
                       .keyCode = 105});
  click({10, 50});  // watch the field
  key("left");
  EXPECT_EQ(recorder->droppedKeys(), (std::vector<std::string>{
                                         "code=0 name=a mods= \u2014 글자 입력",
                                         "code=105 name=? mods= \u2014 표에 없는 키",
                                         "code=105 name=? mods=cmd+shift \u2014 표에 없는 키",
                                         "code=123 name=left mods= \u2014 글자 칸 안의 화살표",
                                     }));
  for (int i = 0; i < 40; ++i) key("b");
  EXPECT_EQ(recorder->droppedKeys().size(), DROPPED_KEYS_LIMIT);
  key("left", platform::flags::control);
  EXPECT_EQ(last()["kind"], "app-key") << "with control it is a shortcut, also in a field";
}

TEST_F(RecorderTest, ClicksDoubleClicksAndRightClicks) {
  click({10, 10}, 1, platform::flags::command);
  EXPECT_EQ(last()["mods"], Json::array({"cmd"}));
  click({10, 10}, 1);
  EXPECT_FALSE(last().contains("mods"));
  click({10, 10}, 2);
  EXPECT_EQ(kinds(), (Kinds{"app-activate", "app-click", "app-doubleclick"}));
  EXPECT_EQ(last()["locator"], save->locator) << "the locator that \"act\" resolves";
  click({10, 10}, 3);
  EXPECT_EQ(last()["kind"], "app-click") << "a third click starts anew";
  press(type::rightMouseDown, {510, 10});
  EXPECT_EQ(kinds().back(), "app-rightclick");
  EXPECT_EQ(recorder->events()[recorder->events().size() - 2]["kind"], "app-activate");
  view->place(0, 500, 10, 10, "Notes", "AXButton", "");
  click({5, 505});
  EXPECT_EQ(last()["kind"], "app-activate") << "a click on what has no name is not recorded";
}

TEST_F(RecorderTest, TypingIntoAClickedFieldIsRecordedWhenTheNextActionComes) {
  click({10, 50});
  key("h");
  view->setValue(field->element, "hello");
  click({10, 10});
  ASSERT_EQ(kinds(), (Kinds{"app-activate", "app-type", "app-click"}));
  const Json& typed = recorder->events()[1];
  EXPECT_EQ(typed["value"], "hello");
  EXPECT_EQ(typed["label"], "Title");
  EXPECT_EQ(typed["locator"], field->locator);

  click({10, 50});  // holds "hello": nothing typed
  click({10, 10});
  EXPECT_EQ(kinds().size(), 4u);

  click({10, 50});
  view->setValue(field->element, std::string(500, 'x'));
  recorder->stop();
  EXPECT_EQ(last()["value"], std::string(400, 'x'));
}

TEST_F(RecorderTest, SensitiveFieldsAndCardNumbersGiveManualRecordsWithoutValues) {
  Described& password = view->place(0, 600, 100, 30, "Notes", "AXSecureTextField", "Password");
  Described& card = view->place(0, 640, 100, 30, "Notes", "AXTextField", "카드 번호");
  Described& named = view->place(0, 680, 100, 30, "Notes", "AXTextField", "", "cvc");
  click({5, 605});
  view->setValue(password.element, "secret");
  click({5, 645});  // also without anything typed
  click({5, 685});
  view->setValue(named.element, "123");
  click({10, 50});
  view->setValue(field->element, "4111 1111 1111 1111");
  key("return");
  ASSERT_EQ(kinds(), (Kinds{"app-activate", "manual", "manual", "manual", "manual", "app-key"}));
  EXPECT_EQ(recorder->events()[1]["label"], "Password");
  EXPECT_EQ(recorder->events()[2]["locator"], card.locator);
  EXPECT_EQ(recorder->events()[4]["label"], "Title") << "a card number is kept out whatever the field";
  for (const Json& event : recorder->events()) EXPECT_FALSE(event.contains("value")) << event.dump();
}

TEST_F(RecorderTest, FieldsFocusedByKeyboardAreWatchedOnlyWhenTheyAreSingleLine) {
  view->focused = *field;
  key("a");
  view->setValue(field->element, "a");
  key("return");
  EXPECT_EQ(kinds(), (Kinds{"app-type", "app-activate", "app-key"})) << "typing is flushed before the key";
  Described& area = view->place(0, 700, 100, 100, "Notes", "AXTextArea", "Body");
  view->focused = area;
  sim.clock().sleepMicros(FOCUS_PROBE_INTERVAL_MICROS);
  key("b");
  view->setValue(area.element, "b");
  key("return");
  EXPECT_EQ(kinds().size(), 4u) << "a text area is watched only after a click";
}

TEST_F(RecorderTest, DragsRecordWhereTheyEnded) {
  Described& window = view->place(0, 800, 300, 20, "Notes", "AXWindow", "Notes");
  press(type::leftMouseDown, {10, 810});
  press(type::leftMouseDragged, {60, 850});
  view->setFrame(window.element, {50, 840, 300, 200});
  press(type::leftMouseUp, {60, 850});
  EXPECT_EQ(last()["kind"], "app-window");
  EXPECT_EQ(last()["frame"], Json::parse(R"({"x":50.0,"y":840.0,"w":300.0,"h":200.0})"));

  press(type::leftMouseDown, {10, 10});
  press(type::leftMouseDragged, {520, 20});
  press(type::leftMouseUp, {520, 20});
  EXPECT_EQ(last()["kind"], "app-drag");
  EXPECT_EQ(last()["toLocator"], other->locator);
  EXPECT_EQ(last()["dx"], 510.0);
  EXPECT_EQ(last()["dy"], 10.0);
}

TEST_F(RecorderTest, AScrollBurstIsOneRecordMadeAQuietPeriodAfterItsLastEvent) {
  scrollLater(0, {50, 150}, 3);
  scrollLater(100000, {50, 150}, 2);
  scrollLater(200000, {50, 150}, 1);
  sim.runFor(200000 + SCROLL_QUIET_MICROS - 1);
  EXPECT_TRUE(recorder->events().empty()) << "still within the quiet period";
  sim.runFor(1);
  ASSERT_EQ(kinds(), (Kinds{"app-scroll"}));
  EXPECT_EQ(last()["dy"], 6.0);
  EXPECT_EQ(last()["dx"], 0.0);
  EXPECT_EQ(last()["label"], "Page");
  EXPECT_EQ(last()["at"], sim.wallStartMillis + 650);

  scrollLater(0, {50, 150}, 0.5);
  sim.runFor(SCROLL_QUIET_MICROS);
  EXPECT_EQ(kinds().size(), 1u) << "less than one unit is no scroll";
}

TEST_F(RecorderTest, ScrollingOverAnotherApplicationEndsTheFirstSumAtOnce) {
  scrollLater(0, {50, 150}, -2);
  scrollLater(100000, {550, 10}, 0, 4);
  sim.runFor(100000);
  ASSERT_EQ(kinds(), (Kinds{"app-scroll"}));
  EXPECT_EQ(last()["app"], "Notes");
  EXPECT_EQ(last()["dy"], -2.0);
  sim.runFor(SCROLL_QUIET_MICROS);
  ASSERT_EQ(kinds().size(), 2u);
  EXPECT_EQ(last()["app"], "Mail");
  EXPECT_EQ(last()["dx"], 4.0);
}

TEST_F(RecorderTest, StoppingDuringABurstRecordsTheScrollBeforeThePendingTyping) {
  click({10, 50});
  view->setValue(field->element, "draft");
  scrollLater(0, {50, 150}, 1);
  sim.runFor(1000);
  recorder->stop();
  EXPECT_EQ(kinds(), (Kinds{"app-activate", "app-scroll", "app-type"}));
  EXPECT_FALSE(recorder->running());
  sim.runFor(SCROLL_QUIET_MICROS);
  EXPECT_EQ(kinds().size(), 3u) << "the timer went with the sum";
  EXPECT_EQ(recorder->stop(), recorder->events()) << "stopping again gives the same events";
}

TEST_F(RecorderTest, IgnoredApplicationsLeaveOnlyNotes) {
  ASSERT_TRUE(recorder->setIgnore({"Mail"}));
  view->front = FrontApp{200, "Mail", false};
  click({510, 10});
  key("x");
  key("s", platform::flags::command);
  scrollLater(0, {550, 10}, 3);
  sim.runFor(SCROLL_QUIET_MICROS);
  EXPECT_TRUE(recorder->events().empty());
  EXPECT_EQ(recorder->droppedKeys(), (std::vector<std::string>{"code=7 name=x mods= \u2014 브라우저가 맡음",
                                                                "code=1 name=s mods=cmd \u2014 브라우저가 맡음"}));
  recorder->stop();
  EXPECT_FALSE(recorder->setIgnore({})) << "no recording to change";
}

TEST_F(RecorderTest, StartingAgainKeepsTheRecordingAndOnlyANewStartClearsIt) {
  click({10, 10});
  ASSERT_TRUE(recorder->setIgnore({"Notes"}));
  EXPECT_TRUE(recorder->start({"Mail"}));
  click({510, 10});
  EXPECT_EQ(kinds().back(), "app-click") << "the first ignore list still holds";
  recorder->stop();
  sim.trusted = false;
  EXPECT_FALSE(recorder->start({}));
  EXPECT_EQ(kinds().size(), 4u) << "without trust the last recording stays readable";
  sim.trusted = true;
  EXPECT_TRUE(recorder->start({}));
  EXPECT_TRUE(recorder->events().empty());
}

TEST(RecentLabelsTest, LatestLabelsOldestFirstCutToFortyCharacters) {
  Json events = Json::array({{{"label", "A"}}, {{"label", ""}, {"value", "skipped"}}, {{"label", "B"}},
                             {{"value", "C"}}, {{"label", 7}, {"value", "D"}}});
  EXPECT_EQ(recentLabels(events, 8), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(recentLabels(events, 2), (std::vector<std::string>{"C", "D"}));
  std::string korean;
  for (int i = 0; i < 40; ++i) korean += "가";
  Json long_ = Json::array({{{"label", std::string(50, 'x')}}, {{"label", korean}}});
  EXPECT_EQ(recentLabels(long_, 8), (std::vector<std::string>{std::string(40, 'x'), korean}));
}

}  // namespace
}  // namespace kelp::recorder
