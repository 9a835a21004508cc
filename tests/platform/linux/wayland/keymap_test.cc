#include <gtest/gtest.h>

#include "platform/linux/wayland/keymap.h"

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <optional>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

using KeymapOwner = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;
using StateOwner = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

// The keymap as a compositor compiles it, with no include path at all, so
// a keymap that leans on the system's XKB files fails here.
KeymapOwner compile(const KeyboardLayout& layout) {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)),
      xkb_context_unref);
  const std::string text = keymapText(layout);
  return KeymapOwner(
      xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS),
      xkb_keymap_unref);
}

// What a client reads for `keycode`, plain or with Shift held.
Keysym symOf(xkb_keymap* keymap, int keycode, bool shift) {
  StateOwner state(xkb_state_new(keymap), xkb_state_unref);
  if (shift) xkb_state_update_mask(state.get(), modifierMask(flags::shift), 0, 0, 0, 0, 0);
  return xkb_state_key_get_one_sym(state.get(), static_cast<xkb_keycode_t>(keycode));
}

const linux_desktop::KeyRow& rowOf(const KeyboardLayout& layout, int keycode) {
  return layout.rows[static_cast<std::size_t>(keycode - layout.minKeycode)];
}

// Every keycode reads back as the layout says, on both levels.
void expectCompiledAsLaidOut(const KeyboardLayout& layout) {
  const KeymapOwner keymap = compile(layout);
  ASSERT_TRUE(keymap);
  for (int keycode = FIRST_KEYCODE; keycode <= LAST_KEYCODE; ++keycode) {
    const linux_desktop::KeyRow& row = rowOf(layout, keycode);
    EXPECT_EQ(symOf(keymap.get(), keycode, false), row.plain) << "keycode " << keycode;
    EXPECT_EQ(symOf(keymap.get(), keycode, true), row.unused ? 0 : row.shifted) << "keycode " << keycode << " shifted";
  }
}

TEST(StartingKeymapTest, CompilesWithEveryKeycodeAsLaidOut) {
  const KeyboardLayout layout = startingLayout();
  EXPECT_EQ(layout.minKeycode, FIRST_KEYCODE);
  ASSERT_EQ(layout.rows.size(), static_cast<std::size_t>(LAST_KEYCODE - FIRST_KEYCODE + 1));
  expectCompiledAsLaidOut(layout);
}

TEST(StartingKeymapTest, EveryNamedKeyHasAKeycodeOfItsOwn) {
  const KeyboardLayout layout = startingLayout();
  for (std::uint16_t code = 0; code < 128; ++code) {
    const std::optional<Keysym> keysym = linux_desktop::keysymForKeyCode(code);
    if (!keysym) continue;
    const StrokePlan plan = planStrokes(layout, {}, {*keysym}, false, 0);
    EXPECT_EQ(plan.consumed, 1u) << "key code " << code;
    EXPECT_TRUE(plan.remaps.empty()) << "key code " << code;
  }
}

TEST(StartingKeymapTest, PrintableAsciiTypesWithoutANewKeymap) {
  const KeyboardLayout layout = startingLayout();
  for (char32_t character = 0x20; character < 0x7f; ++character) {
    const Keysym keysym = *linux_desktop::keysymForCharacter(character);
    const StrokePlan plan = planStrokes(layout, {}, {keysym}, true, 0);
    ASSERT_EQ(plan.consumed, 1u) << static_cast<char>(character);
    EXPECT_TRUE(plan.remaps.empty()) << static_cast<char>(character);
    const linux_desktop::KeyRow& row = rowOf(layout, plan.strokes.front().keycode);
    EXPECT_EQ(plan.strokes.front().shift ? row.shifted : row.plain, keysym) << static_cast<char>(character);
  }
}

// GTK looks Shift shortcuts up by the shifted keysym.
TEST(StartingKeymapTest, ShiftGivesWhatAUsKeyboardGives) {
  const KeyboardLayout layout = startingLayout();
  const KeymapOwner keymap = compile(layout);
  ASSERT_TRUE(keymap);
  const struct {
    std::uint16_t keyCode;
    Keysym shifted;
  } cases[] = {{48, XK_ISO_Left_Tab}, {6, XK_Z}, {18, XK_exclam}, {44, XK_question}, {50, XK_asciitilde},
               {36, XK_Return},       {123, XK_Left}, {82, XK_KP_0}};
  for (const auto& c : cases) {
    const StrokePlan plan = planStrokes(layout, {}, {*linux_desktop::keysymForKeyCode(c.keyCode)}, false, 0);
    ASSERT_EQ(plan.consumed, 1u);
    EXPECT_EQ(symOf(keymap.get(), plan.strokes.front().keycode, true), c.shifted) << "key code " << c.keyCode;
  }
}

TEST(ModifierKeysTest, EachSetsItsRealModifierAsTheMaskSays) {
  const KeyboardLayout layout = startingLayout();
  const KeymapOwner keymap = compile(layout);
  ASSERT_TRUE(keymap);
  const struct {
    std::uint64_t flag;
    std::uint32_t mask;
  } cases[] = {{flags::shift, 1}, {flags::control, 4}, {flags::option, 8}, {flags::command, 64}};
  for (const auto& c : cases) {
    const std::optional<std::vector<int>> keycodes = modifierKeycodes(layout, c.flag);
    ASSERT_TRUE(keycodes && keycodes->size() == 1) << std::hex << c.flag;
    StateOwner state(xkb_state_new(keymap.get()), xkb_state_unref);
    xkb_state_update_key(state.get(), static_cast<xkb_keycode_t>(keycodes->front()), XKB_KEY_DOWN);
    EXPECT_EQ(xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED), c.mask) << std::hex << c.flag;
    EXPECT_EQ(modifierMask(c.flag), c.mask);
    EXPECT_EQ(modifierMaskOf(layout, *keycodes), c.mask);
  }
  EXPECT_EQ(modifierMask(flags::shift | flags::control | flags::option | flags::command), 1u | 4u | 8u | 64u);
  EXPECT_EQ(modifierMask(0x10000 /* Caps Lock */), 0u);
  const StrokePlan letter = planStrokes(layout, {}, {XK_a}, false, 0);
  EXPECT_EQ(modifierMaskOf(layout, {letter.strokes.front().keycode}), 0u) << "no modifier key";
}

// Characters beyond the starting keymap take free keycodes, then the least
// recently used of those, and the keymap sent next carries them.
TEST(TextKeycodesTest, NewCharactersTakeFreeKeycodesThenTheLeastRecentlyUsed) {
  KeyboardLayout layout = startingLayout();
  std::vector<Lease> leases;
  const std::size_t free = static_cast<std::size_t>(
      std::count_if(layout.rows.begin(), layout.rows.end(), [](const linux_desktop::KeyRow& row) { return row.unused; }));
  ASSERT_GT(free, 100u) << "room for a text's worth of other characters";
  std::vector<Keysym> greek;
  for (std::size_t i = 0; i < free; ++i) greek.push_back(0x01000000u + 0x0400 + static_cast<Keysym>(i));
  StrokePlan all = planStrokes(layout, leases, greek, false, 1'000'000);
  ASSERT_EQ(all.consumed, free);
  recordRemaps(all, layout, leases);
  ASSERT_EQ(leases.size(), free);
  // The first character was used longest ago.
  for (std::size_t i = 0; i < leases.size(); ++i) leases[i].lastUseMicros = 2'000'000 + static_cast<std::int64_t>(i);
  const int oldest = leases.front().keycode;

  const Keysym smile = 0x0100263a;
  const StrokePlan next = planStrokes(layout, leases, {smile}, false, 3'000'000);
  ASSERT_EQ(next.consumed, 1u);
  EXPECT_EQ(next.strokes.front().keycode, oldest);
  recordRemaps(next, layout, leases);
  EXPECT_EQ(leases.size(), free) << "reused, not added";
  expectCompiledAsLaidOut(layout);
  const KeymapOwner keymap = compile(layout);
  ASSERT_TRUE(keymap);
  EXPECT_EQ(symOf(keymap.get(), oldest, false), smile);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::wayland
