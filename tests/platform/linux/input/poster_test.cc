// gtest comes before any X11 header: X11 defines macros that break it.
#include <gtest/gtest.h>

#include "platform/linux/input/poster.h"

#include <X11/keysym.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kelp::platform::linux_desktop {
namespace {

// Keycodes of the test's keyboard.
constexpr int ESCAPE = 9;
constexpr int KEY_A = 10;
constexpr int SHIFT = 11;
constexpr int CONTROL = 12;
constexpr int SUPER = 13;
constexpr int FIRST_SPARE = 14;  // and 15
constexpr int KEY_V = 16;  // then Return 17 and Tab 18

KeyboardLayout testLayout() {
  KeyboardLayout layout;
  layout.minKeycode = ESCAPE;
  layout.rows = {
      {XK_Escape, XK_Escape, false, false}, {XK_a, XK_A, false, false},
      {XK_Shift_L, XK_Shift_L, true, false}, {XK_Control_L, XK_Control_L, true, false},
      {XK_Super_L, XK_Super_L, true, false},  {0, 0, false, true},
      {0, 0, false, true},                    {XK_v, XK_V, false, false},
      {XK_Return, XK_Return, false, false},   {XK_Tab, XK_ISO_Left_Tab, false, false},
  };
  return layout;
}

// Writes down what the core asks of a display server, one word an event.
class RecordingSink final : public InputSink {
 public:
  std::vector<std::string> log;
  KeyboardLayout layout = testLayout();
  std::uint64_t sessionNumber = 1;
  bool shared = true;
  bool remaps = true;       // false: a compositor that keeps its keymap
  bool offerTaken = true;   // the clipboard took the text
  bool pasteRead = true;    // the application read it

  std::optional<std::uint64_t> session() override { return sessionNumber; }
  KeyboardLayout keyboardLayout() override { return layout; }
  bool keymapShared() override { return shared; }
  bool remapsKeys() override { return remaps; }
  bool offerForPaste(const std::string& text) override {
    log.push_back("offer " + text);
    return offerTaken;
  }
  bool awaitPaste() override {
    log.push_back("await");
    return pasteRead;
  }
  bool mapKeysyms(const KeyboardLayout& changedLayout, const std::vector<Lease>& changed) override {
    layout = changedLayout;
    for (const Lease& lease : changed) log.push_back("map" + std::to_string(lease.keycode));
    return true;
  }
  void key(int keycode, bool down) override { log.push_back((down ? "+" : "-") + std::to_string(keycode)); }
  std::optional<Point> devicePoint(Point at) override { return Point{std::floor(at.x), std::floor(at.y)}; }
  void moveTo(Point) override { log.push_back("move"); }
  void button(Button which, bool down) override {
    log.push_back(std::string(down ? "+" : "-") + (which == Button::left ? "left" : "right"));
  }
  void wheel(const WheelGesture::Clicks& clicks) override { log.push_back("wheel" + std::to_string(clicks.vertical)); }
  bool flush() override { return true; }
};

// Timers that fire only when the test says so.
class ManualRunLoop final : public RunLoop {
 public:
  void run() override {}
  void stop() override {}
  void runSync(std::function<void()> task) override { task(); }
  TimerId addTimer(std::int64_t delayMicros, std::function<void()> fire) override {
    timers[++next] = {delayMicros, std::move(fire)};
    return next;
  }
  void cancelTimer(TimerId id) override { timers.erase(id); }
  // Fires every timer due within `micros`, in the order they were set.
  void fireWithin(std::int64_t micros) {
    std::vector<TimerId> due;
    for (const auto& [id, timer] : timers) {
      if (timer.first <= micros) due.push_back(id);
    }
    for (const TimerId id : due) {
      auto it = timers.find(id);
      if (it == timers.end()) continue;
      auto fire = std::move(it->second.second);
      timers.erase(it);
      fire();
    }
  }
  std::map<TimerId, std::pair<std::int64_t, std::function<void()>>> timers;
  TimerId next = 0;
};

struct PosterTest : ::testing::Test {
  RecordingSink sink;
  ManualRunLoop loop;
  InputPoster poster{sink, loop};

  bool type(const std::u16string& text) { return poster.postKey({0, true, 0, text}); }
  bool key(std::uint16_t keyCode, bool down, std::uint64_t mask = 0) { return poster.postKey({keyCode, down, mask, {}}); }
  bool mouse(int type, std::uint64_t mask = 0) { return poster.postMouse({type, {10.5, 20.5}, 1, mask}); }
  std::vector<std::string> take() { return std::exchange(sink.log, {}); }
};

using Log = std::vector<std::string>;

TEST_F(PosterTest, TextShiftsForCapitalsAndBorrowsKeycodesWithNothingHeld) {
  // Two spare keycodes for three new characters: the third takes back the
  // least recently used, and Shift comes up before the mapping changes.
  EXPECT_TRUE(type(u"a\uD55C\uAE00A\uC138"));
  EXPECT_EQ(take(), (Log{"map14", "map15", "+10", "-10", "+14", "-14", "+15", "-15", "+11", "+10", "-10",  //
                         "-11", "map14", "+14", "-14"}));
  // A character keeps its keycode while it is still mapped.
  EXPECT_TRUE(type(u"\uAE00"));
  EXPECT_EQ(take(), (Log{"+15", "-15"}));
  // Leaving gives the keycodes back on a shared keymap.
  poster.finish();
  const Log given = take();
  EXPECT_EQ(given.size(), 2u);
  EXPECT_EQ(sink.layout.rows[FIRST_SPARE - ESCAPE].plain, 0u);
  EXPECT_EQ(sink.layout.rows[FIRST_SPARE + 1 - ESCAPE].plain, 0u);
}

TEST_F(PosterTest, APrivateKeymapKeepsItsKeycodes) {
  sink.shared = false;
  EXPECT_TRUE(type(u"\uD55C"));
  take();
  EXPECT_TRUE(loop.timers.empty());
  poster.finish();
  EXPECT_EQ(take(), Log{});
}

TEST_F(PosterTest, AShortcutHoldsItsModifierAndAKeyThatLostItsKeyUpIsLetGo) {
  constexpr std::uint16_t A = 0;
  constexpr std::uint16_t ESC = 53;
  EXPECT_TRUE(key(A, true, flags::control));
  EXPECT_TRUE(key(A, false));
  EXPECT_EQ(take(), (Log{"+12", "+10", "-10", "-12"}));
  // No key-up: the stuck-key timer lets go of the key and its modifier.
  EXPECT_TRUE(key(ESC, true, flags::command));
  EXPECT_EQ(take(), (Log{"+13", "+9"}));
  loop.fireWithin(500'000);
  EXPECT_EQ(take(), (Log{"-9", "-13"}));
  // A key down twice comes up in between.
  EXPECT_TRUE(key(A, true));
  EXPECT_TRUE(key(A, true));
  EXPECT_EQ(take(), (Log{"+10", "-10", "+10"}));
  // Text first lets go of what is held.
  EXPECT_TRUE(type(u"a"));
  EXPECT_EQ(take(), (Log{"-10", "+10", "-10"}));
}

TEST_F(PosterTest, ANewSessionHoldsNothingOfTheOldOne) {
  EXPECT_TRUE(key(0, true, flags::shift));
  take();
  sink.sessionNumber = 2;
  EXPECT_TRUE(key(0, false));
  EXPECT_EQ(take(), Log{});
  poster.finish();
  EXPECT_EQ(take(), Log{});
}

TEST_F(PosterTest, AModifiedClickHoldsItsModifierUntilTheButtonComesUp) {
  EXPECT_TRUE(mouse(eventType::leftMouseDown, flags::command | flags::shift));
  EXPECT_TRUE(mouse(eventType::leftMouseUp));
  EXPECT_EQ(take(), (Log{"move", "+13", "+11", "+left", "move", "-left", "-11", "-13"}));
  // Without a key for the modifier, nothing is clicked.
  sink.layout.rows[CONTROL - ESCAPE].modifier = false;
  EXPECT_FALSE(mouse(eventType::rightMouseDown, flags::control));
  EXPECT_EQ(take(), Log{});
}

TEST_F(PosterTest, ScrollsOfOneRequestAddUpAndTheNextRequestStartsAfresh) {
  const auto scroll = [&](double dy) { return poster.postScroll({{5, 5}, 0, dy}); };
  EXPECT_TRUE(scroll(10));
  EXPECT_TRUE(scroll(10));
  EXPECT_TRUE(scroll(35));
  EXPECT_EQ(take(), (Log{"move", "wheel1", "move", "wheel0", "move", "wheel0"}));
  loop.fireWithin(0);
  EXPECT_TRUE(scroll(10));
  EXPECT_EQ(take(), (Log{"move", "wheel1"}));
}

// ---- a compositor that keeps its keymap: characters beyond it are pasted ----

TEST_F(PosterTest, FromACharacterWithoutAKeyTheTextIsPastedUpToTheNextKeyThatIsNoCharacter) {
  sink.remaps = false;
  // Typed up to the first keyless character, then one paste up to the
  // Return, which is pressed, and a paste again from the next keyless one.
  EXPECT_TRUE(type(u"aA\uD55C\uAE00a b\nA\u00E9a"));
  EXPECT_EQ(take(), (Log{"+10", "-10", "+11", "+10", "-10", "-11",                                     //
                         "offer \uD55C\uAE00a b", "+12", "+16", "-16", "-12", "await", "+17", "-17",  //
                         "+11", "+10", "-10", "-11", "offer \u00E9a", "+12", "+16", "-16", "-12", "await"}));
  // Nothing was borrowed, so nothing is given back.
  poster.finish();
  EXPECT_EQ(take(), Log{});
  EXPECT_EQ(sink.layout.rows[FIRST_SPARE - ESCAPE].plain, 0u);
}

TEST_F(PosterTest, APasteThatDidNotLandIsAFailureAndTheRestStillGoesIn) {
  sink.remaps = false;
  sink.pasteRead = false;
  EXPECT_FALSE(type(u"\U0001F600\ta"));
  EXPECT_EQ(take(), (Log{"offer \U0001F600", "+12", "+16", "-16", "-12", "await", "+18", "-18", "+10", "-10"}));
  // A clipboard that refused the text gets no paste shortcut.
  sink.pasteRead = true;
  sink.offerTaken = false;
  EXPECT_FALSE(type(u"\uD55C\na"));
  EXPECT_EQ(take(), (Log{"offer \uD55C", "+17", "-17", "+10", "-10"}));
}

TEST_F(PosterTest, WithoutAPasteShortcutKeylessCharactersFailAndNothingIsOffered) {
  sink.remaps = false;
  sink.layout.rows[KEY_V - ESCAPE] = KeyRow{};
  EXPECT_FALSE(type(u"a\uD55C"));
  EXPECT_EQ(take(), (Log{"+10", "-10"}));
  sink.layout = testLayout();
  sink.layout.rows[CONTROL - ESCAPE].modifier = false;
  EXPECT_FALSE(type(u"\uD55C"));
  EXPECT_EQ(take(), Log{});
}

TEST_F(PosterTest, AKeyMissingFromAKeymapThatCannotChangeIsNotPressed) {
  constexpr std::uint16_t F5 = 96;
  sink.remaps = false;
  EXPECT_FALSE(key(F5, true));
  EXPECT_EQ(take(), Log{});
  // Where keys can be remapped, a spare keycode takes it.
  sink.remaps = true;
  EXPECT_TRUE(key(F5, true));
  EXPECT_EQ(take(), (Log{"map14", "+14"}));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
