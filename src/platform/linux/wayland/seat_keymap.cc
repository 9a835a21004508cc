// Reading the seat's keymap.
#include "platform/linux/wayland/seat_keymap.h"

namespace kelp::platform::linux_desktop::wayland {

std::optional<KeyboardLayout> seatKeyboardLayout(WaylandConnection&) { return std::nullopt; }
std::optional<KeyboardLayout> layoutOfKeymapText(const std::string&) { return std::nullopt; }

}  // namespace kelp::platform::linux_desktop::wayland
