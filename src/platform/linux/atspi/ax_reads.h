// Which AT-SPI facts answer each AX attribute: one reader per attribute, in
// one table. A read asks a FactSource for what it needs, so the same readers
// serve the bus, the bulk fetching of a walk and tests with prepared facts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/atspi/facts.h"
#include "platform/linux/window_server.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// A frame from AT-SPI extents: none where the toolkit says the object has no
// place on screen (a coordinate of INT32_MIN, as hidden menu items report, or
// a negative size). `origin` is where the seam's (0, 0) lies in AT-SPI screen
// coordinates.
struct ScreenFrame {
  Point position;
  Size size;
};
std::optional<ScreenFrame> frameFromExtents(const Extents& extents, Point origin);

// What attribute reads draw on.
struct ReadScope {
  FactSource& facts;
  // Where the seam's (0, 0) lies in AT-SPI screen coordinates; asked only
  // by reads of positions. None: (0, 0).
  std::function<Point()> screenOrigin{};
  // The title the window manager shows for an application's window, for
  // windows whose toolkit gives them no accessible name. None: no title.
  std::function<std::optional<std::string>(const ObjectRef& window)> windowManagerTitle{};
  // Where the window manager has put the top left of a window's client
  // area, in AT-SPI screen coordinates, for toolkits that measure from
  // there. None: not known.
  std::function<std::optional<Point>(const ObjectRef& window)> windowPlace{};
  // The same for a menu that shows in a popup of its own, given where the
  // menu says it is in that popup. None: not known, and the menu is taken
  // to measure from its window.
  std::function<std::optional<Point>(const ObjectRef& menu, const RootRect& reported)> popupPlace{};
};

// Reads attribute `name` of the object `ref` presented `as`; none for
// attributes without an AT-SPI source and for failed reads.
Value readAxAttribute(ReadScope& scope, const ObjectRef& ref, Presentation as, std::string_view name);

// Reads what `plan` asks of `ref` presented `as`, in the plan's order. Run
// over a source that fetches nothing and notes what each read lacked
// (FactStore's read-ahead), it tells which facts a walk will read, from the
// readers themselves. Of the plan's label sources it reads on past those
// that come out blank, and past unknown ones but the first: the rest wait
// until the first is known to be blank.
struct PlannedRead {
  // The children the walk goes on to, as far as they are known.
  std::vector<std::pair<ObjectRef, Presentation>> children;
  // Its role is one the plan records.
  bool recorded = false;
};
// What of the plan is read: all of it, or only what tells the role and
// leads on to the children.
enum class PlannedReads { all, wayOn };
PlannedRead readAsPlanned(ReadScope& scope, const ReadPlan& plan, const ObjectRef& ref, Presentation as,
                          PlannedReads reads = PlannedReads::all);

// The "AXChildren" of `ref` presented `as`, as the objects behind them.
std::vector<std::pair<ObjectRef, Presentation>> childrenOf(ReadScope& scope, const ObjectRef& ref, Presentation as);

}  // namespace kelp::platform::linux_desktop
