// XTest's fake key, button and motion events, and the borrowed keycodes'
// mapping changes, for the input core.
#include "platform/linux/x11/input.h"

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/x11/keymap.h"

namespace kelp::platform::linux_desktop {
namespace {

// X coordinates are 16-bit on the wire.
constexpr double COORDINATE_LIMIT = 32767;

}  // namespace

XTestInput::~XTestInput() {
  if (!display_ || !xtest_ || x_.handle() != display_) return;
  poster_.finish();
  XSync(display_, False);
  drainMappingNotifications(display_);
}

std::optional<std::uint64_t> XTestInput::session() {
  Display* display = x_.handle();
  if (display != display_) {
    display_ = display;
    ++session_;
    xtest_ = false;
    if (display) {
      int eventBase = 0;
      int errorBase = 0;
      int major = 0;
      int minor = 0;
      xtest_ = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) != False;
      // Another client's server grab must not hold back the events.
      if (xtest_) XTestGrabControl(display, True);
    }
  }
  if (!xtest_) return std::nullopt;
  return session_;
}

KeyboardLayout XTestInput::keyboardLayout() { return readLayout(display_); }

bool XTestInput::mapKeysyms(const KeyboardLayout&, const std::vector<Lease>& changed) {
  std::vector<std::pair<int, Keysym>> keysyms;
  for (const Lease& lease : changed) keysyms.emplace_back(lease.keycode, lease.keysym);
  writeKeysyms(display_, keysyms);
  // Every mapping change is through before the next key: clients get their
  // notifications ahead of the key events, and look the keys up in the new
  // mapping.
  XSync(display_, False);
  drainMappingNotifications(display_);
  return true;
}

void XTestInput::key(int keycode, bool down) {
  XTestFakeKeyEvent(display_, static_cast<unsigned int>(keycode), down ? True : False, CurrentTime);
}

std::optional<Point> XTestInput::devicePoint(Point at) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y)) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = x_.monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  // The pixel that contains the point, so a point inside a frame lands on
  // one of the frame's own pixels even at its right and bottom edge.
  const auto toRoot = [](double value) { return std::clamp(std::floor(value), -COORDINATE_LIMIT, COORDINATE_LIMIT); };
  return Point{toRoot(origin.x + at.x), toRoot(origin.y + at.y)};
}

void XTestInput::moveTo(Point point) {
  XTestFakeMotionEvent(display_, DefaultScreen(display_), static_cast<int>(point.x), static_cast<int>(point.y),
                       CurrentTime);
}

void XTestInput::button(Button which, bool down) {
  const unsigned int number = which == Button::left ? 1 : which == Button::middle ? 2 : 3;
  XTestFakeButtonEvent(display_, number, down ? True : False, CurrentTime);
}

void XTestInput::wheel(const WheelGesture::Clicks& clicks) {
  const auto click = [&](bool vertical, std::int64_t count) {
    const unsigned int number = static_cast<unsigned int>(wheelButton(vertical, count));
    for (std::int64_t i = 0; i < std::abs(count); ++i) {
      XTestFakeButtonEvent(display_, number, True, CurrentTime);
      XTestFakeButtonEvent(display_, number, False, CurrentTime);
    }
  };
  click(true, clicks.vertical);
  click(false, clicks.horizontal);
}

bool XTestInput::flush() {
  XFlush(display_);
  return true;
}

}  // namespace kelp::platform::linux_desktop
