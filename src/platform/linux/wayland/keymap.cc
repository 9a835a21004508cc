// The virtual keyboard's keymap and its text form.
#include "platform/linux/wayland/keymap.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

struct ModifierKey {
  Keysym keysym;
  const char* realModifier;  // as XKB names it
  std::uint32_t mask;
};

constexpr ModifierKey MODIFIER_KEYS[] = {
    {XK_Shift_L, "Shift", 1},
    {XK_Control_L, "Control", 4},
    {XK_Alt_L, "Mod1", 8},
    {XK_Super_L, "Mod4", 64},
};

// What Shift makes of a key on the US layout, as a client expects of a
// real keyboard: GTK looks Shift shortcuts up by the shifted keysym (its
// Shift+Tab is ISO_Left_Tab, its Ctrl+Shift+Z is Z).
constexpr std::pair<Keysym, Keysym> SHIFTED[] = {
    {XK_grave, XK_asciitilde}, {XK_1, XK_exclam},      {XK_2, XK_at},
    {XK_3, XK_numbersign},     {XK_4, XK_dollar},      {XK_5, XK_percent},
    {XK_6, XK_asciicircum},    {XK_7, XK_ampersand},   {XK_8, XK_asterisk},
    {XK_9, XK_parenleft},      {XK_0, XK_parenright},  {XK_minus, XK_underscore},
    {XK_equal, XK_plus},       {XK_bracketleft, XK_braceleft}, {XK_bracketright, XK_braceright},
    {XK_backslash, XK_bar},    {XK_semicolon, XK_colon}, {XK_apostrophe, XK_quotedbl},
    {XK_comma, XK_less},       {XK_period, XK_greater}, {XK_slash, XK_question},
    {XK_Tab, XK_ISO_Left_Tab},
};

Keysym shiftedOf(Keysym keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return keysym - XK_a + XK_A;
  for (const auto& [plain, shifted] : SHIFTED) {
    if (plain == keysym) return shifted;
  }
  return keysym;
}

std::string keyName(int keycode) { return "<K" + std::to_string(keycode) + ">"; }

std::string hex(Keysym keysym) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", keysym);
  return text;
}

}  // namespace

KeyboardLayout startingLayout() {
  KeyboardLayout layout;
  layout.minKeycode = FIRST_KEYCODE;
  layout.rows.assign(LAST_KEYCODE - FIRST_KEYCODE + 1, KeyRow{0, 0, false, true});
  std::size_t next = 0;
  const auto add = [&](Keysym plain, Keysym shifted, bool modifier) {
    const bool present = std::any_of(layout.rows.begin(), layout.rows.begin() + static_cast<std::ptrdiff_t>(next),
                                     [&](const KeyRow& row) {
                                       return row.plain == plain || row.shifted == plain;
                                     });
    if (present || next == layout.rows.size()) return;
    layout.rows[next++] = KeyRow{plain, shifted, modifier, false};
  };
  for (const ModifierKey& key : MODIFIER_KEYS) add(key.keysym, key.keysym, true);
  // Mac key codes run to 127; every key the core can name is among them.
  for (std::uint16_t code = 0; code < 128; ++code) {
    if (const std::optional<Keysym> keysym = keysymForKeyCode(code)) add(*keysym, shiftedOf(*keysym), false);
  }
  // Printable ASCII is all on the keys above, on one level or the other.
  return layout;
}

std::string keymapText(const KeyboardLayout& layout) {
  const int last = layout.minKeycode + static_cast<int>(layout.rows.size()) - 1;
  std::string text = "xkb_keymap {\nxkb_keycodes \"kelp\" {\n  minimum = 8;\n  maximum = " +
                     std::to_string(std::max(last, 8)) + ";\n";
  for (int keycode = layout.minKeycode; keycode <= last; ++keycode) {
    text += "  " + keyName(keycode) + " = " + std::to_string(keycode) + ";\n";
  }
  text += "};\nxkb_types \"kelp\" {\n  type \"ONE_LEVEL\" {\n    modifiers = none;\n"
          "    level_name[Level1] = \"Any\";\n  };\n"
          "  type \"TWO_LEVEL\" {\n    modifiers = Shift;\n    map[Shift] = Level2;\n"
          "    level_name[Level1] = \"Base\";\n    level_name[Level2] = \"Shift\";\n  };\n};\n";
  // A modifier key sets its modifier in the compositor's own keyboard state
  // too, so that state agrees with the masks the poster sends.
  text += "xkb_compatibility \"kelp\" {\n";
  for (const ModifierKey& key : MODIFIER_KEYS) {
    text += "  interpret " + hex(key.keysym) + " { action = SetMods(modifiers=" + key.realModifier + "); };\n";
  }
  text += "};\nxkb_symbols \"kelp\" {\n";
  for (std::size_t i = 0; i < layout.rows.size(); ++i) {
    const KeyRow& row = layout.rows[i];
    if (row.plain == 0) continue;
    const std::string name = keyName(layout.minKeycode + static_cast<int>(i));
    if (row.shifted != 0 && row.shifted != row.plain) {
      text += "  key " + name + " { type = \"TWO_LEVEL\", [ " + hex(row.plain) + ", " + hex(row.shifted) + " ] };\n";
    } else {
      text += "  key " + name + " { type = \"ONE_LEVEL\", [ " + hex(row.plain) + " ] };\n";
    }
  }
  for (const ModifierKey& key : MODIFIER_KEYS) {
    for (std::size_t i = 0; i < layout.rows.size(); ++i) {
      if (layout.rows[i].modifier && layout.rows[i].plain == key.keysym) {
        text += "  modifier_map " + std::string(key.realModifier) + " { " +
                keyName(layout.minKeycode + static_cast<int>(i)) + " };\n";
      }
    }
  }
  text += "};\n};\n";
  return text;
}

std::uint32_t modifierMask(std::uint64_t flagMask) {
  std::uint32_t mask = 0;
  for (const Keysym keysym : modifierKeysyms(flagMask)) {
    for (const ModifierKey& key : MODIFIER_KEYS) {
      if (key.keysym == keysym) mask |= key.mask;
    }
  }
  return mask;
}

std::uint32_t modifierMaskOf(const KeyboardLayout& layout, const std::vector<int>& keycodes) {
  std::uint32_t mask = 0;
  for (const int keycode : keycodes) {
    const int index = keycode - layout.minKeycode;
    if (index < 0 || index >= static_cast<int>(layout.rows.size())) continue;
    const KeyRow& row = layout.rows[static_cast<std::size_t>(index)];
    if (!row.modifier) continue;
    for (const ModifierKey& key : MODIFIER_KEYS) {
      if (key.keysym == row.plain) mask |= key.mask;
    }
  }
  return mask;
}

}  // namespace kelp::platform::linux_desktop::wayland
