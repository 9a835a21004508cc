// The X server's keyboard mapping: reading it, and changing it for the
// keycodes the poster borrows to type what no key of the layout types.
#pragma once

#include <utility>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/input/key_codes.h"

namespace kelp::platform::linux_desktop {

// The mapping's first group and the modifier keys; no rows when it cannot
// be read.
KeyboardLayout readLayout(Display* display);

// Gives each keycode its keysym (none: no keysym at all), in a single XKB
// request where the server has XKB, else one core request per keycode.
void writeKeysyms(Display* display, const std::vector<std::pair<int, Keysym>>& keysyms);

// Nobody else reads events on the shared connection, and every mapping
// change sends this client a notification too; left alone they would pile
// up in Xlib's queue for the life of the process.
void drainMappingNotifications(Display* display);

}  // namespace kelp::platform::linux_desktop
