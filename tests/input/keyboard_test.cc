#include "input/keyboard.h"

#include <gtest/gtest.h>

#include "support/event_trace.h"

namespace kelp::input {
namespace {

using test::trace;

TEST(KeyNames, TableHoldsEveryKeyOnceWithTheSharedReturnCode) {
  const auto& keymap = KEYMAP();
  EXPECT_EQ(keymap.size(), 92u);
  EXPECT_EQ(keymap.at("return"), 36);
  EXPECT_EQ(keymap.at("enter"), 36);
  EXPECT_EQ(keymap.at("keypadenter"), 76);
  EXPECT_EQ(keymap.at("keypad9"), 92);
  // No other two names share a code.
  std::map<std::uint16_t, int> uses;
  for (const auto& [name, code] : keymap) {
    EXPECT_EQ(name, text::toLower(name));
    ++uses[code];
  }
  for (const auto& [code, count] : uses) EXPECT_EQ(count, code == 36 ? 2 : 1) << code;
  EXPECT_EQ(NAMED_KEYS().size(), 26u);
  for (const auto& name : NAMED_KEYS()) EXPECT_TRUE(keymap.count(name)) << name;
  EXPECT_FALSE(NAMED_KEYS().count("space"));
  EXPECT_FALSE(NAMED_KEYS().count("forwarddelete"));
}

class PressKey : public ::testing::Test {
 protected:
  platform::sim::SimDesktop sim;
};

TEST_F(PressKey, NamesInAnyCaseWithModifierSynonymsHoldTwentyMilliseconds) {
  EXPECT_TRUE(pressKey(sim, "Escape", {}));
  EXPECT_EQ(trace(sim), "keydown 53 | +20 keyup 53");
  sim.posted.clear();
  EXPECT_TRUE(pressKey(sim, "S", {"Command", "SHIFT"}));
  EXPECT_EQ(trace(sim), "keydown 1+cmd+shift | +20 keyup 1+cmd+shift");
  sim.posted.clear();
  EXPECT_TRUE(pressKey(sim, "z", {"hyper", "option", "control", "ctrl"}));
  EXPECT_EQ(trace(sim), "keydown 6+alt+ctrl | +20 keyup 6+alt+ctrl");
  sim.posted.clear();
  EXPECT_TRUE(pressKey(sim, "enter", {}));
  EXPECT_TRUE(pressKey(sim, "KeypadEnter", {}));
  EXPECT_EQ(trace(sim), "keydown 36 | +20 keyup 36 | +0 keydown 76 | +20 keyup 76");
}

TEST_F(PressKey, WhatIsNoKeyNamePostsNothing) {
  for (const char* name : {"f13", "é", "", "-", "cmd", "capslock"}) {
    EXPECT_FALSE(pressKey(sim, name, {"cmd"})) << name;
  }
  EXPECT_TRUE(sim.posted.empty());
  EXPECT_EQ(sim.nowMicros(), 0);
}

TEST_F(PressKey, TypeUnicodeCutsSixteenUnitChunksAndKeepsSurrogatePairsWhole) {
  typeUnicode(sim, "abcdefghijklmnopq");  // 17 units
  EXPECT_EQ(trace(sim),
            "keydown \"abcdefghijklmnop\" | +6 keyup \"abcdefghijklmnop\" | +6 keydown \"q\" | +6 keyup \"q\"");
  EXPECT_EQ(sim.nowMicros(), 24000);

  sim.posted.clear();
  // 15 units, then an emoji whose pair would straddle the boundary.
  typeUnicode(sim, "123456789012345😀안녕");
  ASSERT_EQ(sim.posted.size(), 4u);
  EXPECT_EQ(sim.posted[0].key.unicode, u"123456789012345");
  EXPECT_EQ(sim.posted[2].key.unicode, u"😀안녕");
  for (const auto& event : sim.posted) {
    EXPECT_EQ(event.key.keyCode, 0);
    EXPECT_EQ(event.key.flags, 0u);
  }

  sim.posted.clear();
  typeUnicode(sim, "");
  EXPECT_TRUE(sim.posted.empty());
}

TEST(ModifierNames, NamesAndLabelsKeepTheirOwnOrders) {
  using V = std::vector<std::string>;
  EXPECT_EQ(modNames(platform::flags::command | platform::flags::option), (V{"cmd", "alt"}));
  EXPECT_EQ(modNames(platform::flags::control | platform::flags::shift | platform::flags::command),
            (V{"cmd", "shift", "ctrl"}));
  EXPECT_TRUE(modNames(0).empty());

  EXPECT_EQ(keyLabel({"cmd", "shift"}, "s"), "⇧⌘S");
  EXPECT_EQ(keyLabel({"cmd", "ctrl"}, "k"), "⌃⌘K");
  EXPECT_EQ(keyLabel({"alt", "ctrl", "shift", "cmd"}, "left"), "⌃⌥⇧⌘←");
  EXPECT_EQ(keyLabel({}, "return"), "Enter");
  EXPECT_EQ(keyLabel({"ctrl"}, "left"), "⌃←");
  EXPECT_EQ(keyLabel({}, "f5"), "F5");
  EXPECT_EQ(keyLabel({}, "delete"), "DELETE");
  EXPECT_EQ(keyLabel({"Cmd"}, "a"), "A");
  // The label table is looked up without lower-casing.
  EXPECT_EQ(keyLabel({}, "Return"), "RETURN");
}

}  // namespace
}  // namespace kelp::input
