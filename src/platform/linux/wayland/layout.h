// Where things are in a Wayland compositor's output layout, decided without
// a connection: which output is the main one, and where a seam point lands
// for a virtual pointer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/rules.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::wayland {


// One output as xdg-output describes it: its place and size in the layout,
// in logical pixels, once known.
struct OutputPlace {
  std::string name;
  std::optional<int> x;
  std::optional<int> y;
  std::optional<int> width;
  std::optional<int> height;
};

// Whether an output's place is known, so that it counts as a monitor.
bool isPlaced(const OutputPlace& output);

// The outputs whose place is known, in the compositor's order, as the X
// backend's monitors: the one whose rectangle holds the layout's (0, 0) is
// primary, else the first. The compositor has no notion of a primary
// output, and wlroots compositors put the first output at (0, 0) unless told.
std::vector<MonitorRect> monitorsFromOutputs(const std::vector<OutputPlace>& outputs);

// A point for zwlr_virtual_pointer_v1.motion_absolute: a position over the
// extent of the layout's bounding box, which the compositor maps onto it.
struct AbsoluteMotion {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t xExtent = 0;
  std::uint32_t yExtent = 0;
  friend bool operator==(const AbsoluteMotion&, const AbsoluteMotion&) = default;
};

// The layout point for a seam point (the accessibility space: layout
// coordinates less the main output's top left); none when it is not a
// number. The pixel that contains it, as the X poster lands points.
std::optional<Point> layoutPoint(Point at, const std::vector<MonitorRect>& monitors);

// The absolute motion that brings the pointer to `layout`, kept inside the
// layout's bounding box; none without outputs.
std::optional<AbsoluteMotion> absoluteMotion(Point layout, const std::vector<MonitorRect>& monitors);

}  // namespace kelp::platform::linux_desktop::wayland
