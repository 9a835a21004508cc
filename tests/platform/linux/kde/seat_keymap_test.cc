#include <gtest/gtest.h>

#include "platform/linux/wayland/seat_keymap.h"

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

#include "platform/linux/wayland/keymap.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

const KeyRow& rowOf(const KeyboardLayout& layout, int keycode) {
  return layout.rows.at(static_cast<std::size_t>(keycode - layout.minKeycode));
}

// The keymap KWin sends by default: the system's "us" layout, written out
// as text the way a compositor sends it.
std::string usKeymapText() {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES),
                                                                      xkb_context_unref);
  const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
      xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), xkb_keymap_unref);
  if (!keymap) return "";
  std::unique_ptr<char, decltype(&free)> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1),
                                              free);
  return text ? text.get() : "";
}

TEST(SeatKeymap, ReadsTheUsLayoutAsXWouldListIt) {
  const std::string text = usKeymapText();
  ASSERT_FALSE(text.empty()) << "the system's XKB data (package xkb-data) is missing";
  const std::optional<KeyboardLayout> layout = layoutOfKeymapText(text);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->minKeycode, 8);
  struct Case {
    int keycode;
    Keysym plain;
    Keysym shifted;
    bool modifier;
  };
  const Case cases[] = {
      {38, XK_a, XK_A, false},          {10, XK_1, XK_exclam, false},
      {61, XK_slash, XK_question, false}, {65, XK_space, XK_space, false},
      {23, XK_Tab, XK_ISO_Left_Tab, false}, {36, XK_Return, XK_Return, false},
      {50, XK_Shift_L, XK_Shift_L, true}, {37, XK_Control_L, XK_Control_L, true},
      {64, XK_Alt_L, XK_Meta_L, true},    {133, XK_Super_L, XK_Super_L, true},
  };
  for (const Case& c : cases) {
    const KeyRow& row = rowOf(*layout, c.keycode);
    EXPECT_EQ(row.plain, c.plain) << "keycode " << c.keycode;
    EXPECT_EQ(row.shifted, c.shifted) << "keycode " << c.keycode;
    EXPECT_EQ(row.modifier, c.modifier) << "keycode " << c.keycode;
    EXPECT_FALSE(row.unused) << "keycode " << c.keycode;
  }
  // Keycode 8 is evdev's reserved 0: nothing there.
  EXPECT_TRUE(rowOf(*layout, 8).unused);
}

// Our own virtual keyboard's keymap reads back as the layout it was written
// from, borrowed keysyms on one level and all.
TEST(SeatKeymap, ReadsBackWhatTheVirtualKeyboardSends) {
  KeyboardLayout written = startingLayout();
  const auto spare = std::find_if(written.rows.begin(), written.rows.end(), [](const KeyRow& r) { return r.unused; });
  ASSERT_NE(spare, written.rows.end());
  *spare = KeyRow{0x1000000 + 0xd55c, 0x1000000 + 0xd55c, false, false};  // 한
  const std::optional<KeyboardLayout> read = layoutOfKeymapText(keymapText(written));
  ASSERT_TRUE(read);
  for (int keycode = FIRST_KEYCODE; keycode <= LAST_KEYCODE; ++keycode) {
    const KeyRow& want = rowOf(written, keycode);
    const KeyRow& got = rowOf(*read, keycode);
    EXPECT_EQ(got.plain, want.plain) << "keycode " << keycode;
    EXPECT_EQ(got.shifted, want.unused ? 0 : want.shifted) << "keycode " << keycode;
    EXPECT_EQ(got.modifier, want.modifier) << "keycode " << keycode;
    EXPECT_EQ(got.unused, want.unused) << "keycode " << keycode;
  }
}

// The second column is what Shift alone types: a level another modifier
// reaches is out of the core's reach.
TEST(SeatKeymap, ShiftedIsWhatShiftAloneTypes) {
  const std::string keymap = R"(xkb_keymap {
  xkb_keycodes { minimum = 8; maximum = 20; <A> = 10; <B> = 11; <LFSH> = 12; <LVL3> = 13; };
  xkb_types {
    virtual_modifiers LevelThree;
    type "ONE_LEVEL" { modifiers = none; map[none] = Level1; level_name[Level1] = "Any"; };
    type "TWO_LEVEL" { modifiers = Shift; map[Shift] = Level2; level_name[Level1] = "Base"; level_name[Level2] = "Shift"; };
    type "ALT_LEVEL" { modifiers = Mod5; map[Mod5] = Level2; level_name[Level1] = "Base"; level_name[Level2] = "AltGr"; };
  };
  xkb_compatibility {
    interpret Shift_L { action = SetMods(modifiers=Shift); };
    interpret ISO_Level3_Shift { action = SetMods(modifiers=Mod5); };
  };
  xkb_symbols {
    key <A> { type = "TWO_LEVEL", [ q, Q ] };
    key <B> { type = "ALT_LEVEL", [ e, EuroSign ] };
    key <LFSH> { [ Shift_L ] };
    key <LVL3> { [ ISO_Level3_Shift ] };
    modifier_map Shift { <LFSH> };
    modifier_map Mod5 { <LVL3> };
  };
};)";
  const std::optional<KeyboardLayout> layout = layoutOfKeymapText(keymap);
  ASSERT_TRUE(layout);
  // From 8 to the last key the keymap names.
  EXPECT_EQ(layout->rows.size(), 6u);
  EXPECT_EQ(rowOf(*layout, 10).plain, Keysym{XK_q});
  EXPECT_EQ(rowOf(*layout, 10).shifted, Keysym{XK_Q});
  EXPECT_EQ(rowOf(*layout, 11).plain, Keysym{XK_e});
  EXPECT_EQ(rowOf(*layout, 11).shifted, Keysym{XK_e});
  EXPECT_TRUE(rowOf(*layout, 12).modifier);
  EXPECT_TRUE(rowOf(*layout, 13).modifier);
  EXPECT_TRUE(rowOf(*layout, 9).unused);
}

TEST(SeatKeymap, RefusesAKeymapThatDoesNotCompile) {
  EXPECT_FALSE(layoutOfKeymapText(""));
  EXPECT_FALSE(layoutOfKeymapText("xkb_keymap { nonsense };"));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::wayland
