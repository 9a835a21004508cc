// How AX attribute writes and actions are carried out over AT-SPI: through
// the object's own interfaces, or the window manager for windows and
// applications.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/atspi/facts.h"
#include "platform/linux/atspi/methods.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// What writes and actions draw on besides the objects' own interfaces: the
// window manager, for windows and applications.
struct WriteScope {
  // A store of its own, never a snapshot's: writes decide on live facts.
  FactStore& facts;
  // As in ReadScope.
  std::function<Point()> screenOrigin;
  // Each of these is true once the request reached the window manager about
  // the X window behind the AT-SPI window (or the application's front
  // window).
  std::function<bool(const ObjectRef& window)> activateWindow;
  std::function<bool(const ObjectRef& application)> activateApplication;
  // Moves and/or resizes a window so that the rectangle the tree reports for
  // it lands at `position` and `size` (AT-SPI screen coordinates).
  std::function<bool(const ObjectRef& window, std::optional<Point> position, std::optional<Size> size)>
      placeWindow;
};

// Writes attribute `name` of `ref` presented `as`; true only when the
// application or the window manager took the request. Attributes without a
// way to write them, and values of the wrong kind, are refused.
bool writeAxAttribute(WriteScope& scope, const ObjectRef& ref, Presentation as, std::string_view name,
                      const Value& value);

// Performs AX action `action` ("AXPress", "AXShowMenu", "AXRaise") on `ref`
// presented `as`; false for other names and where the object offers no way
// to do it.
bool performAxAction(WriteScope& scope, const ObjectRef& ref, Presentation as, std::string_view action);

// Which of the actions an object offers carries out `axAction`: "AXPress",
// "AXShowMenu", or "AXSelected" for selecting the object itself. None when
// no offered action fits.
std::optional<std::size_t> actionFor(std::string_view axAction, const std::vector<OfferedAction>& offered);


}  // namespace kelp::platform::linux_desktop
