#include <gtest/gtest.h>

#include "platform/linux/gnome/keymap_layout.h"

#include <X11/keysym.h>

#include <optional>

namespace kelp::platform::linux_desktop::gnome {
namespace {

std::optional<int> keycodeOf(const KeyboardLayout& layout, Keysym plain) {
  for (std::size_t i = 0; i < layout.rows.size(); ++i) {
    if (layout.rows[i].plain == plain) return layout.minKeycode + static_cast<int>(i);
  }
  return std::nullopt;
}

const KeyRow& rowOf(const KeyboardLayout& layout, int keycode) {
  return layout.rows.at(static_cast<std::size_t>(keycode - layout.minKeycode));
}

TEST(KeymapLayoutTest, InputSourcesGiveTheFirstXkbLayoutWithItsVariantAndTheOptions) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> sources;
    std::vector<std::string> options;
    XkbNames names;
  };
  const Case cases[] = {
      {{{"xkb", "us"}}, {}, {"us", "", ""}},
      {{{"xkb", "de+nodeadkeys"}, {"xkb", "us"}}, {}, {"de", "nodeadkeys", ""}},
      // An input method first: the keys are still the first XKB layout's.
      {{{"ibus", "hangul"}, {"xkb", "kr+kr104"}}, {"compose:ralt", "caps:none"}, {"kr", "kr104", "compose:ralt,caps:none"}},
      {{{"ibus", "anthy"}}, {}, {"", "", ""}},
      {{}, {"ctrl:nocaps"}, {"", "", "ctrl:nocaps"}},
  };
  for (const Case& c : cases) EXPECT_EQ(namesOfInputSources(c.sources, c.options), c.names);
}

TEST(KeymapLayoutTest, AUsLayoutHasLettersWithShiftedCapitalsAndItsModifiers) {
  const std::optional<KeyboardLayout> layout = layoutOfNames({"us", "", ""});
  ASSERT_TRUE(layout);
  const std::optional<int> a = keycodeOf(*layout, XK_a);
  ASSERT_TRUE(a);
  // XKB keycode 38 is evdev's KEY_A (30) plus 8.
  EXPECT_EQ(*a, 38);
  EXPECT_EQ(rowOf(*layout, *a).shifted, static_cast<Keysym>(XK_A));
  EXPECT_FALSE(rowOf(*layout, *a).modifier);
  EXPECT_EQ(rowOf(*layout, *keycodeOf(*layout, XK_1)).shifted, static_cast<Keysym>(XK_exclam));
  for (const Keysym modifier : {XK_Shift_L, XK_Control_L, XK_Alt_L, XK_Super_L}) {
    const std::optional<int> keycode = keycodeOf(*layout, modifier);
    ASSERT_TRUE(keycode) << modifier;
    EXPECT_TRUE(rowOf(*layout, *keycode).modifier) << modifier;
  }
  // Hangul has no key.
  EXPECT_FALSE(keycodeOf(*layout, 0x0100d55c));
}

TEST(KeymapLayoutTest, AnotherLayoutPutsItsOwnKeysymsOnTheSameKeys) {
  const std::optional<KeyboardLayout> layout = layoutOfNames({"de", "", ""});
  ASSERT_TRUE(layout);
  // The German keyboard swaps Y and Z, and has umlauts of its own.
  // evdev KEY_Y is 21.
  EXPECT_EQ(keycodeOf(*layout, XK_z), 21 + 8);
  EXPECT_TRUE(keycodeOf(*layout, XK_odiaeresis));
  EXPECT_FALSE(layoutOfNames({"no-such-layout", "", ""}));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::gnome
