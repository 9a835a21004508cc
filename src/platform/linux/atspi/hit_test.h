// Which accessible object is at a point of the screen: X knows which window
// is in front there, AT-SPI what is inside it.
#pragma once

#include <functional>
#include <optional>

#include "platform/linux/atspi/facts.h"
#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop {

// Where the window manager put a window's client area (see ReadScope).
using WindowPlace = std::function<std::optional<Point>(const ObjectRef& window)>;

// The deepest object at `point` (X root coordinates) below `root`: the
// desktop, meaning whatever window is in front there, or an application,
// meaning its own windows only. None where no accessible window is there.
std::optional<ObjectRef> objectAtPoint(FactStore& facts, WindowServer& x, const ObjectRef& root,
                                       bool rootIsDesktop, Point point, const WindowPlace& windowPlace);

}  // namespace kelp::platform::linux_desktop
