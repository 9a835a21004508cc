#include "platform/linux/x11/input.h"

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>

namespace kelp::platform::linux_desktop {
namespace {

// X coordinates are 16-bit on the wire.
constexpr double COORDINATE_LIMIT = 32767;

}  // namespace

std::optional<XTestEventPoster::RootPoint> XTestEventPoster::rootPoint(Point at) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y)) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = x_.monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  // The pixel that contains the point, so a point inside a frame lands on
  // one of the frame's own pixels even at its right and bottom edge.
  const auto toRoot = [](double value) {
    return static_cast<int>(std::clamp(std::floor(value), -COORDINATE_LIMIT, COORDINATE_LIMIT));
  };
  return RootPoint{toRoot(origin.x + at.x), toRoot(origin.y + at.y)};
}

void XTestEventPoster::moveTo(Display* display, RootPoint point) {
  XTestFakeMotionEvent(display, DefaultScreen(display), point.x, point.y, CurrentTime);
}

bool XTestEventPoster::postMouse(const MouseEvent& event) {
  Display* display = connection();
  if (!display) return false;
  const std::optional<RootPoint> point = rootPoint(event.at);
  if (!point) return false;
  text_.interrupt();
  int number = 0;
  bool down = false;
  switch (event.type) {
    case eventType::mouseMoved:
    case eventType::leftMouseDragged:
      moveTo(display, *point);
      XFlush(display);
      return true;
    case eventType::leftMouseDown:
      number = 1;
      down = true;
      break;
    case eventType::leftMouseUp:
      number = 1;
      break;
    case eventType::rightMouseDown:
      number = 3;
      down = true;
      break;
    case eventType::rightMouseUp:
      number = 3;
      break;
    default:
      return false;
  }
  if (down) {
    std::vector<int> modifiers;
    if (!modifierKeysyms(event.flags).empty()) {
      const std::optional<std::vector<int>> found = modifierKeycodes(readLayout(display), event.flags);
      // A modified click without its modifier does something else.
      if (!found) return false;
      modifiers = *found;
    }
    moveTo(display, *point);
    if (std::find(heldButtons_.begin(), heldButtons_.end(), number) != heldButtons_.end()) {
      button(display, number, false);
    } else {
      heldButtons_.push_back(number);
    }
    holdModifiers(display, modifiers);
    button(display, number, true);
  } else {
    moveTo(display, *point);
    auto it = std::find(heldButtons_.begin(), heldButtons_.end(), number);
    if (it != heldButtons_.end()) {
      button(display, number, false);
      heldButtons_.erase(it);
    }
    if (heldButtons_.empty() && heldKeys_.empty()) holdModifiers(display, {});
  }
  XFlush(display);
  return true;
}

bool XTestEventPoster::postScroll(const ScrollEvent& event) {
  Display* display = connection();
  if (!display) return false;
  const std::optional<RootPoint> point = rootPoint(event.at);
  if (!point) return false;
  text_.interrupt();
  if (wheelAt_ != point) wheel_.end();
  wheelAt_ = point;
  moveTo(display, *point);
  const WheelGesture::Clicks clicks = wheel_.step(event.dx, event.dy);
  const auto click = [&](bool vertical, std::int64_t count) {
    const int number = wheelButton(vertical, count);
    for (std::int64_t i = 0; i < std::abs(count); ++i) {
      button(display, number, true);
      button(display, number, false);
    }
  };
  click(true, clicks.vertical);
  click(false, clicks.horizontal);
  XFlush(display);
  // A request runs whole on the main thread, so the run loop's next turn
  // comes after the request's last step: the gesture ends there and the
  // next scroll starts with a click of its own.
  if (!gestureTimer_) {
    gestureTimer_ = runLoop_.addTimer(0, [this] {
      gestureTimer_.reset();
      wheel_.end();
    });
  }
  return true;
}

}  // namespace kelp::platform::linux_desktop
