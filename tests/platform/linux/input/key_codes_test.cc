// gtest comes before any X11 header: X11 defines macros that break it.
#include <gtest/gtest.h>

#include "platform/linux/input/key_codes.h"

#include <X11/keysym.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>

namespace kelp::platform::linux_desktop {
namespace {

// ---- keys --------------------------------------------------------------------

struct NamedKey {
  const char* name;
  std::uint16_t code;
  Keysym keysym;
};

// Every key name the core knows, with the Mac key code it sends and the key a
// person expects on a PC keyboard.
const NamedKey NAMED_KEYS[] = {
    {"return", 36, XK_Return},       {"enter", 36, XK_Return},          {"tab", 48, XK_Tab},
    {"space", 49, XK_space},         {"delete", 51, XK_BackSpace},      {"escape", 53, XK_Escape},
    {"left", 123, XK_Left},          {"right", 124, XK_Right},          {"down", 125, XK_Down},
    {"up", 126, XK_Up},              {"home", 115, XK_Home},            {"end", 119, XK_End},
    {"pageup", 116, XK_Page_Up},     {"pagedown", 121, XK_Page_Down},   {"forwarddelete", 117, XK_Delete},
    {"a", 0, XK_a},                  {"s", 1, XK_s},                    {"d", 2, XK_d},
    {"f", 3, XK_f},                  {"h", 4, XK_h},                    {"g", 5, XK_g},
    {"z", 6, XK_z},                  {"x", 7, XK_x},                    {"c", 8, XK_c},
    {"v", 9, XK_v},                  {"b", 11, XK_b},                   {"q", 12, XK_q},
    {"w", 13, XK_w},                 {"e", 14, XK_e},                   {"r", 15, XK_r},
    {"y", 16, XK_y},                 {"t", 17, XK_t},                   {"o", 31, XK_o},
    {"u", 32, XK_u},                 {"i", 34, XK_i},                   {"p", 35, XK_p},
    {"l", 37, XK_l},                 {"j", 38, XK_j},                   {"k", 40, XK_k},
    {"n", 45, XK_n},                 {"m", 46, XK_m},                   {"1", 18, XK_1},
    {"2", 19, XK_2},                 {"3", 20, XK_3},                   {"4", 21, XK_4},
    {"5", 23, XK_5},                 {"6", 22, XK_6},                   {"7", 26, XK_7},
    {"8", 28, XK_8},                 {"9", 25, XK_9},                   {"0", 29, XK_0},
    {"minus", 27, XK_minus},         {"equal", 24, XK_equal},           {"comma", 43, XK_comma},
    {"period", 47, XK_period},       {"slash", 44, XK_slash},           {"semicolon", 41, XK_semicolon},
    {"quote", 39, XK_apostrophe},    {"backslash", 42, XK_backslash},   {"grave", 50, XK_grave},
    {"leftbracket", 33, XK_bracketleft}, {"rightbracket", 30, XK_bracketright},
    {"f1", 122, XK_F1},              {"f2", 120, XK_F2},                {"f3", 99, XK_F3},
    {"f4", 118, XK_F4},              {"f5", 96, XK_F5},                 {"f6", 97, XK_F6},
    {"f7", 98, XK_F7},               {"f8", 100, XK_F8},                {"f9", 101, XK_F9},
    {"f10", 109, XK_F10},            {"f11", 103, XK_F11},              {"f12", 111, XK_F12},
    {"keypadenter", 76, XK_KP_Enter}, {"keypadclear", 71, XK_Clear},    {"keypadequals", 81, XK_KP_Equal},
    {"keypadmultiply", 67, XK_KP_Multiply}, {"keypaddivide", 75, XK_KP_Divide},
    {"keypadplus", 69, XK_KP_Add},   {"keypadminus", 78, XK_KP_Subtract}, {"keypaddecimal", 65, XK_KP_Decimal},
    {"keypad0", 82, XK_KP_0},        {"keypad1", 83, XK_KP_1},          {"keypad2", 84, XK_KP_2},
    {"keypad3", 85, XK_KP_3},        {"keypad4", 86, XK_KP_4},          {"keypad5", 87, XK_KP_5},
    {"keypad6", 88, XK_KP_6},        {"keypad7", 89, XK_KP_7},          {"keypad8", 91, XK_KP_8},
    {"keypad9", 92, XK_KP_9},
};

TEST(KeysymForKeyCodeTest, EveryKeyTheCoreNamesPressesThatKey) {
  EXPECT_EQ(std::size(NAMED_KEYS), 92u);
  for (const NamedKey& key : NAMED_KEYS) {
    EXPECT_EQ(keysymForKeyCode(key.code), std::optional<Keysym>(key.keysym)) << key.name << " (code " << key.code << ")";
  }
}

TEST(KeysymForKeyCodeTest, CodesOutsideTheTableHaveNoKey) {
  std::set<std::uint16_t> named;
  for (const NamedKey& key : NAMED_KEYS) named.insert(key.code);
  int unnamed = 0;
  for (std::uint32_t code = 0; code <= 0xffff; ++code) {
    if (named.contains(static_cast<std::uint16_t>(code))) continue;
    ++unnamed;
    EXPECT_EQ(keysymForKeyCode(static_cast<std::uint16_t>(code)), std::nullopt) << "code " << code;
  }
  EXPECT_EQ(unnamed, 0x10000 - 91);
}

TEST(ModifierKeysymsTest, EachFlagHoldsItsKeyInAFixedOrder) {
  EXPECT_TRUE(modifierKeysyms(0).empty());
  EXPECT_EQ(modifierKeysyms(0x100000), std::vector<Keysym>{XK_Super_L});
  EXPECT_EQ(modifierKeysyms(0x40000), std::vector<Keysym>{XK_Control_L});
  EXPECT_EQ(modifierKeysyms(0x80000), std::vector<Keysym>{XK_Alt_L});
  EXPECT_EQ(modifierKeysyms(0x20000), std::vector<Keysym>{XK_Shift_L});
  EXPECT_EQ(modifierKeysyms(0x20000 | 0x40000 | 0x80000 | 0x100000),
            (std::vector<Keysym>{XK_Super_L, XK_Control_L, XK_Alt_L, XK_Shift_L}));
}

TEST(ModifierKeysymsTest, IgnoresCapsLockAndDeviceBits) {
  // Caps Lock, numeric pad, help, function and the device-dependent low bits.
  EXPECT_TRUE(modifierKeysyms(0x10000 | 0x200000 | 0x400000 | 0x800000 | 0xff).empty());
  EXPECT_EQ(modifierKeysyms(0x10000 | 0x40000 | 0x2), std::vector<Keysym>{XK_Control_L});
}

// ---- text --------------------------------------------------------------------

TEST(KeysymForCharacterTest, Latin1ByValueEverythingElseByUnicodeKeysym) {
  EXPECT_EQ(keysymForCharacter(U'a'), Keysym{XK_a});
  EXPECT_EQ(keysymForCharacter(U'A'), Keysym{XK_A});
  EXPECT_EQ(keysymForCharacter(U' '), Keysym{XK_space});
  EXPECT_EQ(keysymForCharacter(U'~'), Keysym{XK_asciitilde});
  EXPECT_EQ(keysymForCharacter(0xa0), Keysym{XK_nobreakspace});
  EXPECT_EQ(keysymForCharacter(U'é'), Keysym{XK_eacute});
  EXPECT_EQ(keysymForCharacter(U'ÿ'), Keysym{XK_ydiaeresis});
  EXPECT_EQ(keysymForCharacter(0x100), Keysym{0x1000100});
  EXPECT_EQ(keysymForCharacter(U'€'), Keysym{0x10020ac});
  EXPECT_EQ(keysymForCharacter(U'안'), Keysym{0x100c548});
  EXPECT_EQ(keysymForCharacter(U'😀'), Keysym{0x101f600});
  EXPECT_EQ(keysymForCharacter(0x10ffff), Keysym{0x110ffff});
}

TEST(KeysymForCharacterTest, LineBreaksAndTabsAreKeysControlsAreNot) {
  EXPECT_EQ(keysymForCharacter(U'\n'), Keysym{XK_Return});
  EXPECT_EQ(keysymForCharacter(U'\r'), Keysym{XK_Return});
  EXPECT_EQ(keysymForCharacter(U'\t'), Keysym{XK_Tab});
  for (char32_t control : {0x0, 0x1, 0x8, 0x1b, 0x1f, 0x7f, 0x80, 0x85, 0x9f}) {
    EXPECT_EQ(keysymForCharacter(control), std::nullopt) << std::hex << static_cast<int>(control);
  }
  EXPECT_EQ(keysymForCharacter(0xd800), std::nullopt);
  EXPECT_EQ(keysymForCharacter(0x110000), std::nullopt);
}

TEST(TextKeysymsTest, DecodesHangulAndCharactersBeyondTheBasicPlane) {
  TextKeysyms text;
  EXPECT_EQ(text.next(u"안녕"), (std::vector<Keysym>{0x100c548, 0x100b155}));
  EXPECT_EQ(text.next(u"a😀b"), (std::vector<Keysym>{XK_a, 0x101f600, XK_b}));
  EXPECT_EQ(text.next(u"👍🏽"), (std::vector<Keysym>{0x101f44d, 0x101f3fd}));
}

TEST(TextKeysymsTest, APairSplitBetweenChunksIsOneCharacter) {
  TextKeysyms text;
  EXPECT_EQ(text.next(u"a\xd83d"), std::vector<Keysym>{XK_a});
  EXPECT_EQ(text.next(u"\xde00z"), (std::vector<Keysym>{0x101f600, XK_z}));
}

TEST(TextKeysymsTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  TextKeysyms text;
  EXPECT_EQ(text.next(u"\xde00x"), (std::vector<Keysym>{0x100fffd, XK_x}));
  EXPECT_EQ(text.next(u"\xd83dx"), (std::vector<Keysym>{0x100fffd, XK_x}));
  EXPECT_EQ(text.next(u"\xd83d\xd83d\xde00"), (std::vector<Keysym>{0x100fffd, 0x101f600}));
  EXPECT_EQ(text.next(u"\xd83d"), std::vector<Keysym>{});
  EXPECT_EQ(text.next(u"\xd83d"), std::vector<Keysym>{0x100fffd}) << "the first one had no partner";
  text.interrupt();
  EXPECT_EQ(text.next(u"\xde00"), std::vector<Keysym>{0x100fffd})
      << "after an interruption a low surrogate pairs with nothing left over";
}

TEST(TextKeysymsTest, CarriageReturnLineFeedIsOneLineBreak) {
  TextKeysyms text;
  EXPECT_EQ(text.next(u"a\r\nb"), (std::vector<Keysym>{XK_a, XK_Return, XK_b}));
  EXPECT_EQ(text.next(u"\n\n"), (std::vector<Keysym>{XK_Return, XK_Return}));
  EXPECT_EQ(text.next(u"\r\r\n"), (std::vector<Keysym>{XK_Return, XK_Return}));
  EXPECT_EQ(text.next(u"x\r"), (std::vector<Keysym>{XK_x, XK_Return}));
  EXPECT_EQ(text.next(u"\ny"), std::vector<Keysym>{XK_y}) << "the pair straddles two chunks";
  EXPECT_EQ(text.next(u"\r"), std::vector<Keysym>{XK_Return});
  text.interrupt();
  EXPECT_EQ(text.next(u"\n"), std::vector<Keysym>{XK_Return}) << "another event came between";
}

TEST(TextKeysymsTest, ControlCharactersAreSkipped) {
  TextKeysyms text;
  EXPECT_EQ(text.next(u"a\x1b\x7f\tb"), (std::vector<Keysym>{XK_a, XK_Tab, XK_b}));
}

// ---- keyboard mapping ----------------------------------------------------------

// keycode 8: unused   9: Escape        10: 1 !        11: a A
//        12: Shift_L  13: KP_Insert KP_0   14: unused  15: unused
//        16: Control_L  17: Super_L (not a modifier here)  18: unused
KeyboardLayout smallLayout() {
  KeyboardLayout layout;
  layout.minKeycode = 8;
  layout.rows = {
      {0, 0, false, true},
      {XK_Escape, 0, false, false},
      {XK_1, XK_exclam, false, false},
      {XK_a, XK_A, false, false},
      {XK_Shift_L, 0, true, false},
      {XK_KP_Insert, XK_KP_0, false, false},
      {0, 0, false, true},
      {0, 0, false, true},
      {XK_Control_L, 0, true, false},
      {XK_Super_L, 0, false, false},
      {0, 0, false, true},
  };
  return layout;
}

// What the layout looks like once `leases` are in force.
KeyboardLayout withLeases(KeyboardLayout layout, const std::vector<Lease>& leases) {
  for (const Lease& lease : leases) {
    layout.rows[static_cast<std::size_t>(lease.keycode - layout.minKeycode)] = {lease.keysym, lease.keysym, false, false};
  }
  return layout;
}

std::vector<int> keycodesOf(const StrokePlan& plan) {
  std::vector<int> keycodes;
  for (const Stroke& stroke : plan.strokes) keycodes.push_back(stroke.keycode);
  return keycodes;
}

constexpr Keysym AN = 0x100c548;
constexpr Keysym NYEONG = 0x100b155;
constexpr Keysym HA = 0x100d558;
constexpr Keysym SE = 0x100c138;
constexpr Keysym YO = 0x100c694;

TEST(PlanStrokesTest, KeysOnTheMappingTypeWithoutRemapping) {
  const StrokePlan plan = planStrokes(smallLayout(), {}, {XK_a, XK_A, XK_exclam, XK_Escape}, true, 1000);
  EXPECT_EQ(plan.consumed, 4u);
  ASSERT_EQ(plan.strokes.size(), 4u);
  EXPECT_EQ(plan.strokes[0].keycode, 11);
  EXPECT_FALSE(plan.strokes[0].shift);
  EXPECT_EQ(plan.strokes[1].keycode, 11);
  EXPECT_TRUE(plan.strokes[1].shift);
  EXPECT_EQ(plan.strokes[2].keycode, 10);
  EXPECT_TRUE(plan.strokes[2].shift);
  EXPECT_EQ(plan.strokes[3].keycode, 9);
  EXPECT_TRUE(plan.remaps.empty());
  EXPECT_EQ(plan.notBeforeMicros, 0);
}

TEST(PlanStrokesTest, WithoutShiftALevelTwoKeysymGetsAKeycodeOfItsOwn) {
  const StrokePlan plan = planStrokes(smallLayout(), {}, {XK_A}, false, 1000);
  ASSERT_EQ(plan.strokes.size(), 1u);
  EXPECT_FALSE(plan.strokes[0].shift);
  ASSERT_EQ(plan.remaps.size(), 1u);
  EXPECT_EQ(plan.remaps[0].keycode, plan.strokes[0].keycode);
  EXPECT_EQ(plan.remaps[0].keysym, Keysym{XK_A});
  EXPECT_EQ(smallLayout().rows[static_cast<std::size_t>(plan.strokes[0].keycode - 8)].unused, true);
}

TEST(PlanStrokesTest, NumLockLevelOfTheKeypadIsNotReachedWithShift) {
  const StrokePlan plan = planStrokes(smallLayout(), {}, {XK_KP_0}, true, 1000);
  ASSERT_EQ(plan.remaps.size(), 1u);
  EXPECT_NE(plan.strokes[0].keycode, 13);
  EXPECT_FALSE(plan.strokes[0].shift);
}

TEST(PlanStrokesTest, OnlyUnusedRowsAreBorrowed) {
  const StrokePlan plan = planStrokes(smallLayout(), {}, {XK_Shift_L, AN, NYEONG, HA, SE}, true, 1000);
  for (const Stroke& stroke : plan.strokes) {
    EXPECT_NE(stroke.keycode, 12);
    EXPECT_NE(stroke.keycode, 16);
  }
  std::set<int> borrowed;
  for (const Lease& remap : plan.remaps) borrowed.insert(remap.keycode);
  EXPECT_EQ(borrowed, (std::set<int>{8, 14, 15, 18})) << "only the unused rows";
}

TEST(PlanStrokesTest, EachCharacterMapsOnceAndRepeatsShareItsKeycode) {
  const StrokePlan plan = planStrokes(smallLayout(), {}, {AN, AN, NYEONG, AN}, true, 1000);
  EXPECT_EQ(plan.consumed, 4u);
  ASSERT_EQ(plan.remaps.size(), 2u);
  const std::vector<int> keycodes = keycodesOf(plan);
  EXPECT_EQ(keycodes[0], keycodes[1]);
  EXPECT_EQ(keycodes[0], keycodes[3]);
  EXPECT_NE(keycodes[0], keycodes[2]);
}

TEST(PlanStrokesTest, AKeysymStillMappedFromBeforeIsUsedAgainWithoutAChange) {
  const std::vector<Lease> leases = {{14, AN, 500, false}};
  const StrokePlan plan = planStrokes(withLeases(smallLayout(), leases), leases, {AN}, true, 1000);
  EXPECT_EQ(keycodesOf(plan), std::vector<int>{14});
  EXPECT_TRUE(plan.remaps.empty());
  EXPECT_EQ(plan.notBeforeMicros, 0);
}

TEST(PlanStrokesTest, StopsWhereNoKeycodeIsLeft) {
  // Four unused rows, five characters, nothing leased to take back.
  const StrokePlan plan = planStrokes(smallLayout(), {}, {AN, NYEONG, HA, SE, YO}, true, 1000);
  EXPECT_EQ(plan.consumed, 4u);
  EXPECT_EQ(plan.strokes.size(), 4u);
  EXPECT_EQ(plan.remaps.size(), 4u);
}

TEST(PlanStrokesTest, TakesBackTheLeastRecentlyUsedLeaseAndWaitsOutItsGap) {
  const std::vector<Lease> leases = {
      {8, AN, 900'000, false}, {14, NYEONG, 100'000, false}, {15, HA, 950'000, false}, {18, SE, 800'000, false}};
  const std::int64_t now = 1'000'000;
  const StrokePlan plan = planStrokes(withLeases(smallLayout(), leases), leases, {YO}, true, now);
  ASSERT_EQ(plan.remaps.size(), 1u);
  EXPECT_EQ(plan.remaps[0].keycode, 14) << "used longest ago";
  EXPECT_EQ(plan.notBeforeMicros, 0) << "its gap is over already";

  const StrokePlan two = planStrokes(withLeases(smallLayout(), leases), leases, {YO, XK_A}, false, now);
  ASSERT_EQ(two.remaps.size(), 2u);
  EXPECT_EQ(two.remaps[1].keycode, 18);
  EXPECT_EQ(two.notBeforeMicros, 800'000 + LEASE_REUSE_GAP_MICROS) << "the second was used 200 ms ago";
}

TEST(PlanStrokesTest, NeverTakesAHeldKeyOrOneThePlanItselfPresses) {
  const std::vector<Lease> leases = {
      {8, AN, 100, true}, {14, NYEONG, 200, false}, {15, HA, 300, false}, {18, SE, 400, false}};
  const KeyboardLayout layout = withLeases(smallLayout(), leases);
  // NYEONG, HA and SE are pressed by the plan, AN is held: nothing is free for YO.
  const StrokePlan plan = planStrokes(layout, leases, {NYEONG, HA, SE, YO}, true, 1'000'000);
  EXPECT_EQ(plan.consumed, 3u);
  EXPECT_TRUE(plan.remaps.empty());
}

TEST(PlanStrokesTest, AKeycodeTakenBackNoLongerTypesItsOldKeysym) {
  const std::vector<Lease> leases = {
      {8, AN, 100, false}, {14, NYEONG, 200, false}, {15, HA, 300, false}, {18, SE, 400, false}};
  const KeyboardLayout layout = withLeases(smallLayout(), leases);
  // YO takes keycode 8 from AN; AN then needs another keycode, not 8.
  const StrokePlan plan = planStrokes(layout, leases, {YO, AN}, true, 1'000'000);
  ASSERT_EQ(plan.consumed, 2u);
  EXPECT_EQ(plan.strokes[0].keycode, 8);
  EXPECT_EQ(plan.strokes[1].keycode, 14);
  ASSERT_EQ(plan.remaps.size(), 2u);
  EXPECT_EQ(plan.remaps[1].keysym, AN);
}

TEST(ModifierKeycodesTest, FindsModifierKeysOnlyInTheModifierMapping) {
  const KeyboardLayout layout = smallLayout();
  EXPECT_EQ(modifierKeycodes(layout, 0), std::vector<int>{});
  EXPECT_EQ(modifierKeycodes(layout, 0x20000 | 0x40000), (std::vector<int>{16, 12}));
  EXPECT_EQ(modifierKeycodes(layout, 0x100000), std::nullopt) << "Super_L is there but modifies nothing";
  EXPECT_EQ(modifierKeycodes(layout, 0x80000 | 0x40000), std::nullopt) << "no Alt key at all";
}

// ---- scrolling -----------------------------------------------------------------

TEST(WheelButtonTest, FollowsTheMacSigns) {
  EXPECT_EQ(wheelButton(true, 1), 4) << "positive dy scrolls up";
  EXPECT_EQ(wheelButton(true, -3), 5);
  EXPECT_EQ(wheelButton(false, 2), 6) << "positive dx scrolls left";
  EXPECT_EQ(wheelButton(false, -1), 7);
}

TEST(WheelGestureTest, AShortScrollStillClicksOnce) {
  WheelGesture wheel;
  EXPECT_EQ(wheel.step(0, 1).vertical, 1);
  wheel.end();
  EXPECT_EQ(wheel.step(-3, 0).horizontal, -1);
}

TEST(WheelGestureTest, ManySmallStepsAddUpToTheSameClicksAsOneBigStep) {
  const auto total = [](double pixels, int steps) {
    WheelGesture wheel;
    std::int64_t clicks = 0;
    for (int i = 0; i < steps; ++i) clicks += wheel.step(0, pixels / steps).vertical;
    return clicks;
  };
  // Away from the halves, where summing steps may land either side.
  for (double pixels : {10.0, 49.0, 74.0, 76.0, 100.0, 130.0, 500.0, 1000.0}) {
    const std::int64_t expected = std::max<std::int64_t>(1, std::llround(pixels / PIXELS_PER_WHEEL_CLICK));
    EXPECT_EQ(total(pixels, 1), expected) << pixels << " px at once";
    EXPECT_EQ(total(pixels, 10), expected) << pixels << " px in 10 steps";
    EXPECT_EQ(total(pixels, 37), expected) << pixels << " px in 37 steps";
    EXPECT_EQ(total(-pixels, 10), -expected) << -pixels << " px in 10 steps";
  }
}

TEST(WheelGestureTest, RoundsToTheNearestClick) {
  const auto clicks = [](double pixels) { return WheelGesture().step(0, pixels).vertical; };
  EXPECT_EQ(clicks(74), 1);
  EXPECT_EQ(clicks(75), 2);
  EXPECT_EQ(clicks(124), 2);
  EXPECT_EQ(clicks(125), 3);
}

TEST(WheelGestureTest, ClicksComeAsThePixelsArrive) {
  WheelGesture wheel;
  std::vector<std::int64_t> clicks;
  for (int i = 0; i < 8; ++i) clicks.push_back(wheel.step(0, -20).vertical);
  // 20 px in: the first click; 80 px: rounds to 2; 120: 2; 140: 3.
  EXPECT_EQ(clicks, (std::vector<std::int64_t>{-1, 0, 0, -1, 0, 0, -1, 0}));
}

TEST(WheelGestureTest, TurningBackOrEndingStartsOver) {
  WheelGesture wheel;
  EXPECT_EQ(wheel.step(0, 30).vertical, 1);
  EXPECT_EQ(wheel.step(0, -30).vertical, -1) << "the other way owes nothing to the first";
  EXPECT_EQ(wheel.step(0, -10).vertical, 0);
  wheel.end();
  EXPECT_EQ(wheel.step(0, -10).vertical, -1);
}

TEST(WheelGestureTest, AxesAreIndependent) {
  WheelGesture wheel;
  const WheelGesture::Clicks first = wheel.step(120, -10);
  EXPECT_EQ(first.horizontal, 2);
  EXPECT_EQ(first.vertical, -1);
  const WheelGesture::Clicks second = wheel.step(0, -100);
  EXPECT_EQ(second.horizontal, 0);
  EXPECT_EQ(second.vertical, -1);
}

TEST(WheelGestureTest, HugeAndBrokenStepsStayBounded) {
  WheelGesture wheel;
  EXPECT_EQ(wheel.step(0, 1e12).vertical, MAX_WHEEL_CLICKS_PER_STEP);
  EXPECT_EQ(wheel.step(0, 1).vertical, MAX_WHEEL_CLICKS_PER_STEP) << "the rest follows with the next steps";
  EXPECT_EQ(wheel.step(std::nan(""), std::numeric_limits<double>::infinity()).vertical, 0);
  EXPECT_EQ(wheel.step(-std::numeric_limits<double>::infinity(), 0).horizontal, 0);
  EXPECT_EQ(wheel.step(0, 0).vertical, 0);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
