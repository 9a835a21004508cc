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

// Which group of a keymap with several layouts ("us,ru") keys type in: a
// known one, or none when the compositor's locked group cannot be known;
// then only what every group types alike has a key, and the rest is pasted.
// A group the keymap does not have is taken as not known.
using KeymapGroup = std::optional<unsigned>;

// The seat's keymap as rows of XKB keycodes (`group`, two levels, the
// modifier keys marked); none when the seat has no keyboard or the keymap
// cannot be read in time.
std::optional<KeyboardLayout> seatKeyboardLayout(WaylandConnection& connection, KeymapGroup group = 0);

// The same from a keymap in XKB's text format; none when it does not compile.
std::optional<KeyboardLayout> layoutOfKeymapText(const std::string& keymap, KeymapGroup group = 0);

}  // namespace kelp::platform::linux_desktop::wayland
