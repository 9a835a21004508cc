#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/gnome/keymap_layout.h"
#include "platform/linux/wayland/seat_keymap.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

using Sources = std::vector<std::pair<std::string, std::string>>;

const KeyRow& rowOf(const KeyboardLayout& layout, int keycode) {
  return layout.rows.at(static_cast<std::size_t>(keycode - layout.minKeycode));
}

// The keymap GNOME Shell makes of two input sources, as the seat sends it.
std::string keymapText(const char* layouts) {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES),
                                                                      xkb_context_unref);
  const xkb_rule_names names{"evdev", "pc105", layouts, "", ""};
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
      xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), xkb_keymap_unref);
  if (!keymap) return "";
  std::unique_ptr<char, decltype(&free)> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1),
                                              free);
  return text ? text.get() : "";
}

// XKB keycodes of the keys the cases read: evdev's plus 8.
constexpr int KEY_A = 30 + 8;
constexpr int KEY_2 = 3 + 8;
constexpr int KEY_1 = 2 + 8;
constexpr int KEY_SPACE = 57 + 8;

TEST(KeymapGroupTest, KeysAreReadInTheGroupTheShellLocked) {
  const std::string text = keymapText("us,ru");
  ASSERT_FALSE(text.empty()) << "the system's XKB data (package xkb-data) is missing";
  struct Case {
    wayland::KeymapGroup group;
    Keysym aPlain;
    Keysym aShifted;
    Keysym twoShifted;
  };
  const Case cases[] = {
      {0u, XK_a, XK_A, XK_at},
      // Read as text names them: the keysym of the character.
      {1u, 0x1000000 + U'ф', 0x1000000 + U'Ф', XK_quotedbl},
      // Not known, or a group the keymap lacks: only what both groups type
      // alike has a key.
      {std::nullopt, 0, 0, 0},
      {5u, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::optional<KeyboardLayout> layout = wayland::layoutOfKeymapText(text, c.group);
    ASSERT_TRUE(layout);
    const std::string name = c.group ? std::to_string(*c.group) : "unknown";
    EXPECT_EQ(rowOf(*layout, KEY_A).plain, c.aPlain) << name;
    EXPECT_EQ(rowOf(*layout, KEY_A).shifted, c.aShifted) << name;
    EXPECT_EQ(rowOf(*layout, KEY_2).shifted, c.twoShifted) << name;
    // Alike in both groups: the same key whichever is locked.
    EXPECT_EQ(rowOf(*layout, KEY_2).plain, static_cast<Keysym>(XK_2)) << name;
    EXPECT_EQ(rowOf(*layout, KEY_1).shifted, static_cast<Keysym>(XK_exclam)) << name;
    EXPECT_EQ(rowOf(*layout, KEY_SPACE).plain, static_cast<Keysym>(XK_space)) << name;
    // A key typing differently in each group is nobody's spare.
    EXPECT_FALSE(rowOf(*layout, KEY_A).unused) << name;
  }
}

TEST(KeymapGroupTest, ASingleLayoutIsReadWhateverTheGroup) {
  const std::string text = keymapText("us");
  ASSERT_FALSE(text.empty());
  for (const wayland::KeymapGroup group : {wayland::KeymapGroup{}, wayland::KeymapGroup{0u}, wayland::KeymapGroup{2u}}) {
    const std::optional<KeyboardLayout> layout = wayland::layoutOfKeymapText(text, group);
    ASSERT_TRUE(layout);
    EXPECT_EQ(rowOf(*layout, KEY_A).plain, static_cast<Keysym>(XK_a));
    EXPECT_EQ(rowOf(*layout, KEY_2).shifted, static_cast<Keysym>(XK_at));
  }
}

TEST(KeymapGroupTest, TheActiveSourceNamesTheGroup) {
  const Sources usRu = {{"xkb", "us"}, {"xkb", "ru"}};
  struct Case {
    Sources sources;
    Sources mru;
    std::optional<unsigned> current;
    std::optional<unsigned> group;
  };
  const Case cases[] = {
      {usRu, {{"xkb", "ru"}, {"xkb", "us"}}, 0u, 1u},
      {usRu, {{"xkb", "us"}, {"xkb", "ru"}}, 1u, 0u},
      // A recently used source that is no longer one is passed over.
      {usRu, {{"xkb", "de"}, {"xkb", "ru"}}, 0u, 1u},
      // Shells before the recently used list go by 'current'.
      {usRu, {}, 1u, 1u},
      {usRu, {}, 7u, 0u},
      {usRu, {}, std::nullopt, 0u},
      // A repeated layout is compiled once.
      {{{"xkb", "us"}, {"xkb", "us"}, {"xkb", "ru"}}, {{"xkb", "ru"}}, 0u, 1u},
      // Three layouts to a keymap: the fourth starts the next.
      {{{"xkb", "us"}, {"xkb", "ru"}, {"xkb", "de"}, {"xkb", "fr"}}, {{"xkb", "fr"}}, 0u, 0u},
      {{{"xkb", "us"}, {"xkb", "ru"}, {"xkb", "de"}, {"xkb", "fr"}}, {{"xkb", "de"}}, 0u, 2u},
      // An input method's layout is not in the settings.
      {{{"xkb", "us"}, {"ibus", "anthy"}}, {{"xkb", "us"}}, 0u, std::nullopt},
      {{}, {}, 0u, std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(groupOfInputSources(c.sources, c.mru, c.current), c.group) << "case " << i;
  }
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::gnome
