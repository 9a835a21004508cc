// The keymap of the virtual keyboard, decided without a connection. A
// virtual keyboard brings its own keymap, so text goes in keysym by keysym
// whatever the user's layout. The keys the core names are there from the
// start, with what Shift makes of them on a US keyboard on their second
// level (which covers printable ASCII); every other keycode carries one
// keysym on one level, given to characters as text needs them: free
// keycodes first, then the least recently used of those (planStrokes in
// input/key_codes.h decides, as for X's spare keycodes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/input/key_codes.h"

namespace kelp::platform::linux_desktop::wayland {


// XKB keycodes the keymap gives keysyms to. Evdev key numbers, which the
// key events carry, are these less 8; 8 itself would be evdev's reserved
// key 0, which some clients drop. 255 is as far as X clients under
// Xwayland can see.
inline constexpr int FIRST_KEYCODE = 9;
inline constexpr int LAST_KEYCODE = 255;

// The keymap a new virtual keyboard gets: the four modifier keys first (in
// the modifier map, rows marked modifier), then every key keysymForKeyCode
// knows, letters and US punctuation and Tab (ISO_Left_Tab) with their
// shifted keysym on level 2; every other keycode unused.
KeyboardLayout startingLayout();

// The layout as an XKB keymap in the text format (XKB_KEYMAP_FORMAT_TEXT_V1),
// self-contained (no includes, so it compiles wherever xkbcommon runs):
// rows whose shifted keysym differs have two levels, Shift choosing the
// second; modifier keys set their modifier when pressed.
std::string keymapText(const KeyboardLayout& layout);

// The real modifier mask for the `modifiers` request: Shift 1, Control 4,
// Mod1 (Alt) 8, Mod4 (Super) 64, from the seam's flags. Other bits have no
// key (the same as modifierKeysyms).
std::uint32_t modifierMask(std::uint64_t flags);

// The modifier mask that holding the modifier keys `keycodes` of `layout`
// makes; keycodes that are no modifier keys add nothing.
std::uint32_t modifierMaskOf(const KeyboardLayout& layout, const std::vector<int>& keycodes);

}  // namespace kelp::platform::linux_desktop::wayland
