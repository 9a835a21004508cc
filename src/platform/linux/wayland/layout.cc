// Places in a compositor's output layout, decided without a connection.
#include "platform/linux/wayland/layout.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace kelp::platform::linux_desktop::wayland {

bool isPlaced(const OutputPlace& output) {
  return output.x && output.y && output.width && output.height && *output.width > 0 && *output.height > 0;
}

std::vector<MonitorRect> monitorsFromOutputs(const std::vector<OutputPlace>& outputs) {
  std::vector<MonitorRect> monitors;
  for (const OutputPlace& output : outputs) {
    if (!isPlaced(output)) continue;
    monitors.push_back({*output.x, *output.y, *output.width, *output.height, false});
  }
  auto holdsOrigin = std::find_if(monitors.begin(), monitors.end(), [](const MonitorRect& m) {
    return m.x <= 0 && m.y <= 0 && m.x + m.width > 0 && m.y + m.height > 0;
  });
  if (holdsOrigin != monitors.end()) {
    holdsOrigin->primary = true;
  } else if (!monitors.empty()) {
    monitors.front().primary = true;
  }
  return monitors;
}

std::optional<Point> layoutPoint(Point at, const std::vector<MonitorRect>& monitors) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y)) return std::nullopt;
  const Point origin = accessibilityOrigin(monitors);
  // Far beyond any layout, and safely inside int.
  constexpr double LIMIT = 1 << 24;
  return Point{std::clamp(std::floor(origin.x + at.x), -LIMIT, LIMIT),
               std::clamp(std::floor(origin.y + at.y), -LIMIT, LIMIT)};
}

std::optional<AbsoluteMotion> absoluteMotion(Point layout, const std::vector<MonitorRect>& monitors) {
  if (monitors.empty() || !std::isfinite(layout.x) || !std::isfinite(layout.y)) return std::nullopt;
  int left = INT_MAX;
  int top = INT_MAX;
  int right = INT_MIN;
  int bottom = INT_MIN;
  for (const MonitorRect& m : monitors) {
    left = std::min(left, m.x);
    top = std::min(top, m.y);
    right = std::max(right, m.x + m.width);
    bottom = std::max(bottom, m.y + m.height);
  }
  if (right <= left || bottom <= top) return std::nullopt;
  // The compositor lands x / extent of the way across the box: the pixel's
  // own column. The last pixel is extent - 1, since x == extent would be
  // just past the box's edge.
  const auto along = [](double value, int low, int high) {
    return static_cast<std::uint32_t>(std::clamp(std::floor(value), static_cast<double>(low), high - 1.0) - low);
  };
  return AbsoluteMotion{along(layout.x, left, right), along(layout.y, top, bottom),
                        static_cast<std::uint32_t>(right - left), static_cast<std::uint32_t>(bottom - top)};
}

}  // namespace kelp::platform::linux_desktop::wayland
