// How the event tap turns X device events into the seam's events, without
// an X server.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <vector>

#include "platform/linux/x11/record.h"

namespace kelp::platform::linux_desktop {
namespace {

namespace type = eventType;

// An XSETTINGS property in the byte order `msbFirst`, with the given
// integer settings and one string setting before them.
std::vector<unsigned char> settingsBlob(bool msbFirst, const std::vector<std::pair<std::string, std::int32_t>>& ints) {
  std::vector<unsigned char> data;
  auto card = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
      const int shift = 8 * (msbFirst ? size - 1 - i : i);
      data.push_back(static_cast<unsigned char>((value >> shift) & 0xff));
    }
  };
  auto pad = [&] {
    while (data.size() % 4) data.push_back(0);
  };
  auto name = [&](int kind, const std::string& text) {
    card(static_cast<std::uint32_t>(kind), 1);
    data.push_back(0);
    card(static_cast<std::uint32_t>(text.size()), 2);
    data.insert(data.end(), text.begin(), text.end());
    pad();
    card(0, 4);  // last change serial
  };
  data.push_back(msbFirst ? 1 : 0);
  data.insert(data.end(), 3, 0);
  card(7, 4);  // serial
  card(static_cast<std::uint32_t>(ints.size() + 1), 4);
  name(1, "Net/ThemeName");
  card(7, 4);
  const std::string theme = "Adwaita";
  data.insert(data.end(), theme.begin(), theme.end());
  pad();
  for (const auto& [key, value] : ints) {
    name(0, key);
    card(static_cast<std::uint32_t>(value), 4);
  }
  return data;
}

TEST(ClickSettingsTest, DoubleClickTimeAndDistanceComeFromTheSettingsManager) {
  for (bool msbFirst : {false, true}) {
    const auto blob = settingsBlob(msbFirst, {{"Net/DoubleClickTime", 250}, {"Net/DoubleClickDistance", 8}});
    const std::optional<ClickSettings> found = clickSettingsFrom({blob.data(), blob.size()});
    ASSERT_TRUE(found) << msbFirst;
    EXPECT_EQ(found->timeMillis, 250);
    EXPECT_EQ(found->distance, 8);
  }
  const auto without = settingsBlob(false, {{"Gtk/CursorBlinkTime", 1200}});
  EXPECT_EQ(clickSettingsFrom({without.data(), without.size()})->timeMillis, 400) << "GTK's default";
  const auto whole = settingsBlob(false, {{"Net/DoubleClickTime", 250}});
  EXPECT_FALSE(clickSettingsFrom({whole.data(), whole.size() - 2})) << "a truncated property is no settings";
}

TEST(ClickCounterTest, ClicksCountOnWithinTimeAndDistanceOfTheSameButton) {
  ClickCounter clicks({.timeMillis = 400, .distance = 5});
  EXPECT_EQ(clicks.press(1, 100, 100, 1000), 1);
  EXPECT_EQ(clicks.release(1), 1);
  EXPECT_EQ(clicks.press(1, 104, 97, 1300), 2);
  EXPECT_EQ(clicks.release(1), 2);
  EXPECT_EQ(clicks.press(1, 104, 97, 1650), 3);
  EXPECT_EQ(clicks.press(1, 104, 97, 2100), 1) << "too late";
  EXPECT_EQ(clicks.press(1, 120, 97, 2200), 1) << "too far";
  EXPECT_EQ(clicks.press(3, 120, 97, 2300), 1) << "another button";
  EXPECT_EQ(clicks.press(3, 120, 97, 0xffffffffu), 1);
  EXPECT_EQ(clicks.press(3, 120, 97, 100), 2) << "the server's clock wraps";
}

TEST(TranslateInputTest, DeviceEventsBecomeTheSeamsEvents) {
  ClickCounter clicks;
  const Point origin{0, 100};  // a monitor above the main one
  auto keysyms = [](unsigned keycode, unsigned) -> Keysym {
    switch (keycode) {
      case 38: return XK_a;
      case 50: return XK_Shift_L;
      case 191: return XK_F13;
      default: return XK_Return;
    }
  };
  auto translate = [&](RawInput input) { return translateInput(input, clicks, keysyms, origin); };

  const auto key = translate({.type = KeyPress, .detail = 38, .state = ControlMask | Mod4Mask, .rootX = 5, .rootY = 150});
  ASSERT_TRUE(key);
  EXPECT_EQ(key->type, type::keyDown);
  EXPECT_EQ(key->keyCode, 0);
  EXPECT_EQ(key->flags, flags::control | flags::command);
  EXPECT_EQ(key->location, (Point{5, 50}));
  EXPECT_FALSE(translate({.type = KeyPress, .detail = 50})) << "a modifier alone";
  EXPECT_FALSE(translate({.type = KeyRelease, .detail = 38}));
  EXPECT_EQ(translate({.type = KeyPress, .detail = 191})->keyCode, UNNAMED_KEY_CODE);
  EXPECT_EQ(translate({.type = KeyPress, .detail = 36, .state = ShiftMask | Mod1Mask})->flags,
            flags::shift | flags::option);

  const auto down = translate({.type = ButtonPress, .detail = 1, .timeMillis = 10});
  const auto again = translate({.type = ButtonPress, .detail = 1, .timeMillis = 200});
  const auto up = translate({.type = ButtonRelease, .detail = 1, .timeMillis = 250});
  EXPECT_EQ(down->type, type::leftMouseDown);
  EXPECT_EQ(again->clickState, 2);
  EXPECT_EQ(up->type, type::leftMouseUp);
  EXPECT_EQ(up->clickState, 2);
  EXPECT_EQ(translate({.type = ButtonPress, .detail = 3})->type, type::rightMouseDown);
  EXPECT_FALSE(translate({.type = ButtonRelease, .detail = 3}));
  EXPECT_FALSE(translate({.type = ButtonPress, .detail = 2}));
  EXPECT_EQ(translate({.type = MotionNotify, .state = Button1Mask})->type, type::leftMouseDragged);
  EXPECT_FALSE(translate({.type = MotionNotify}));

  struct Wheel {
    unsigned button;
    double dx, dy;
  };
  for (const Wheel& wheel : {Wheel{4, 0, 1}, Wheel{5, 0, -1}, Wheel{6, 1, 0}, Wheel{7, -1, 0}}) {
    const auto scroll = translate({.type = ButtonPress, .detail = wheel.button});
    ASSERT_TRUE(scroll) << wheel.button;
    EXPECT_EQ(scroll->type, type::scrollWheel);
    EXPECT_EQ(scroll->scrollDx, wheel.dx) << wheel.button;
    EXPECT_EQ(scroll->scrollDy, wheel.dy) << wheel.button;
    EXPECT_FALSE(translate({.type = ButtonRelease, .detail = wheel.button}));
  }
}

TEST(KeyCodeForKeysymTest, IsTheInverseOfTheKeyTable) {
  for (std::uint16_t code = 0; code < 128; ++code) {
    if (const std::optional<Keysym> keysym = keysymForKeyCode(code)) {
      EXPECT_EQ(keyCodeForKeysym(*keysym), code) << code;
    }
  }
  EXPECT_EQ(keyCodeForKeysym(XK_S), keyCodeForKeysym(XK_s));
  EXPECT_FALSE(keyCodeForKeysym(XK_F13));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
