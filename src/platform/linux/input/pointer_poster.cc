// The input core's buttons, pointer moves and wheel, over a display server's sink.
#include "platform/linux/input/poster.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kelp::platform::linux_desktop {

bool InputPoster::postMouse(const MouseEvent& event) {
  if (!open()) return false;
  const std::optional<Point> point = sink_.devicePoint(event.at);
  if (!point) return false;
  text_.interrupt();
  Button which = Button::left;
  bool down = false;
  switch (event.type) {
    case eventType::mouseMoved:
    case eventType::leftMouseDragged:
      sink_.moveTo(*point);
      return sink_.flush();
    case eventType::leftMouseDown:
      down = true;
      break;
    case eventType::leftMouseUp:
      break;
    case eventType::rightMouseDown:
      which = Button::right;
      down = true;
      break;
    case eventType::rightMouseUp:
      which = Button::right;
      break;
    case eventType::otherMouseDown:
      which = Button::middle;
      down = true;
      break;
    case eventType::otherMouseUp:
      which = Button::middle;
      break;
    default:
      return false;
  }
  const auto held = std::find(heldButtons_.begin(), heldButtons_.end(), which);
  if (down) {
    std::vector<int> modifiers;
    if (!modifierKeysyms(event.flags).empty()) {
      const std::optional<std::vector<int>> found = modifierKeycodes(sink_.keyboardLayout(), event.flags);
      // A modified click without its modifier does something else.
      if (!found) return false;
      modifiers = *found;
    }
    sink_.moveTo(*point);
    if (held != heldButtons_.end()) {
      sink_.button(which, false);
    } else {
      heldButtons_.push_back(which);
    }
    holdModifiers(modifiers);
    sink_.button(which, true);
  } else {
    sink_.moveTo(*point);
    if (held != heldButtons_.end()) {
      sink_.button(which, false);
      heldButtons_.erase(held);
    }
    if (heldButtons_.empty() && heldKeys_.empty()) holdModifiers({});
  }
  return sink_.flush();
}

bool InputPoster::postScroll(const ScrollEvent& event) {
  if (!open()) return false;
  const std::optional<Point> point = sink_.devicePoint(event.at);
  if (!point) return false;
  text_.interrupt();
  if (wheelAt_ != point) wheel_.end();
  wheelAt_ = point;
  sink_.moveTo(*point);
  sink_.wheel(wheel_.step(event.dx, event.dy));
  // A request runs whole on the main thread, so the run loop's next turn
  // comes after the request's last step: the gesture ends there and the
  // next scroll starts with a click of its own.
  if (!gestureTimer_) {
    gestureTimer_ = runLoop_.addTimer(0, [this] {
      gestureTimer_.reset();
      wheel_.end();
    });
  }
  return sink_.flush();
}

}  // namespace kelp::platform::linux_desktop
