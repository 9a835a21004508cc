#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/wayland/input.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

// The value of one wheel click along an axis. libinput reports 15 (degrees
// of the wheel), and GTK 3 scrolls value / 10 steps per click: 10 makes it
// scroll one step per click, as it does under X, so PIXELS_PER_WHEEL_CLICK
// holds here too. Toolkits that count the clicks themselves (Qt, GTK 4,
// Chromium) read `discrete` and do not care.
constexpr double WHEEL_CLICK_VALUE = 10;

}  // namespace

std::optional<Point> WaylandEventPoster::layoutPoint(Point at) {
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  if (!monitors || monitors->empty()) return std::nullopt;
  return wayland::layoutPoint(at, *monitors);
}

std::optional<Point> WaylandEventPoster::pointerLocation() {
  if (!pointerAt_) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  return Point{pointerAt_->x - origin.x, pointerAt_->y - origin.y};
}

void WaylandEventPoster::moveTo(Point layout) {
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  if (!monitors) return;
  const std::optional<AbsoluteMotion> motion = absoluteMotion(layout, *monitors);
  if (!motion) return;
  zwlr_virtual_pointer_v1_motion_absolute(pointer_, eventMillis(), motion->x, motion->y, motion->xExtent,
                                          motion->yExtent);
  zwlr_virtual_pointer_v1_frame(pointer_);
  pointerAt_ = layout;
}

void WaylandEventPoster::button(std::uint32_t code, bool down) {
  zwlr_virtual_pointer_v1_button(pointer_, eventMillis(), code,
                                 down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(pointer_);
}

bool WaylandEventPoster::postMouse(const MouseEvent& event) {
  if (!devices()) return false;
  const std::optional<Point> point = layoutPoint(event.at);
  if (!point) return false;
  text_.interrupt();
  std::uint32_t code = 0;
  bool down = false;
  switch (event.type) {
    case eventType::mouseMoved:
    case eventType::leftMouseDragged:
      moveTo(*point);
      return delivered();
    case eventType::leftMouseDown:
      code = BTN_LEFT;
      down = true;
      break;
    case eventType::leftMouseUp:
      code = BTN_LEFT;
      break;
    case eventType::rightMouseDown:
      code = BTN_RIGHT;
      down = true;
      break;
    case eventType::rightMouseUp:
      code = BTN_RIGHT;
      break;
    default:
      return false;
  }
  moveTo(*point);
  if (down) {
    const std::optional<std::vector<int>> modifiers = modifierKeycodes(layout_, event.flags);
    // A modified click without its modifier does something else.
    if (!modifiers) return false;
    if (std::find(heldButtons_.begin(), heldButtons_.end(), code) != heldButtons_.end()) {
      button(code, false);
    } else {
      heldButtons_.push_back(code);
    }
    holdModifiers(*modifiers);
    button(code, true);
  } else {
    auto it = std::find(heldButtons_.begin(), heldButtons_.end(), code);
    if (it != heldButtons_.end()) {
      button(code, false);
      heldButtons_.erase(it);
    }
    if (heldButtons_.empty() && heldKeys_.empty()) holdModifiers({});
  }
  return delivered();
}

bool WaylandEventPoster::postScroll(const ScrollEvent& event) {
  if (!devices()) return false;
  const std::optional<Point> point = layoutPoint(event.at);
  if (!point) return false;
  text_.interrupt();
  if (wheelAt_ != point) wheel_.end();
  wheelAt_ = point;
  moveTo(*point);
  const WheelGesture::Clicks clicks = wheel_.step(event.dx, event.dy);
  // The seam's positive values scroll up and left, Wayland's down and right.
  const auto turn = [&](std::uint32_t axis, std::int64_t count) {
    if (count == 0) return;
    const double value = -static_cast<double>(count) * WHEEL_CLICK_VALUE;
    zwlr_virtual_pointer_v1_axis_discrete(pointer_, eventMillis(), axis, wl_fixed_from_double(value),
                                          static_cast<std::int32_t>(-count));
  };
  if (clicks.vertical != 0 || clicks.horizontal != 0) {
    zwlr_virtual_pointer_v1_axis_source(pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
    turn(WL_POINTER_AXIS_VERTICAL_SCROLL, clicks.vertical);
    turn(WL_POINTER_AXIS_HORIZONTAL_SCROLL, clicks.horizontal);
    zwlr_virtual_pointer_v1_frame(pointer_);
  }
  // A request runs whole on the main thread, so the run loop's next turn
  // comes after the request's last step: the gesture ends there and the
  // next scroll starts with a click of its own.
  if (!gestureTimer_) {
    gestureTimer_ = runLoop_.addTimer(0, [this] {
      gestureTimer_.reset();
      wheel_.end();
    });
  }
  return delivered();
}

}  // namespace kelp::platform::linux_desktop::wayland
