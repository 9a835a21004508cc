// The keymap a compositor gives the keyboards of its seat (wl_keyboard's
// keymap event), read with xkbcommon: on compositors that take key events
// in their own keymap (GNOME's remote desktop, KWin's fake input) it tells
// which characters have a key and which key types them.
#pragma once

#include <optional>
#include <string>

#include "platform/linux/input/key_codes.h"
#include "platform/linux/wayland/connection.h"

namespace kelp::platform::linux_desktop::wayland {

// The seat's keymap as rows of XKB keycodes (first group, two levels, the
// modifier keys marked); none when the seat has no keyboard or the keymap
// cannot be read in time.
std::optional<KeyboardLayout> seatKeyboardLayout(WaylandConnection& connection);

// The same from a keymap in XKB's text format; none when it does not compile.
std::optional<KeyboardLayout> layoutOfKeymapText(const std::string& keymap);

}  // namespace kelp::platform::linux_desktop::wayland
