#include "input/mouse.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelp::input {
namespace {

using platform::MouseEvent;
using platform::Point;
namespace type = platform::eventType;

constexpr std::int64_t CLICK_MOVE_PAUSE_MICROS = 60000;
constexpr std::int64_t CLICK_HOLD_MICROS = 28000;
constexpr std::int64_t CLICK_GAP_MICROS = 40000;
constexpr std::int64_t RIGHT_MOVE_PAUSE_MICROS = 50000;
constexpr std::int64_t RIGHT_HOLD_MICROS = 40000;
constexpr std::int64_t DRAG_MOVE_PAUSE_MICROS = 60000;
constexpr std::int64_t DRAG_PRESS_PAUSE_MICROS = 80000;
constexpr std::int64_t DRAG_STEP_PAUSE_MICROS = 16000;
constexpr std::int64_t DRAG_RELEASE_PAUSE_MICROS = 80000;
constexpr std::int64_t SCROLL_MOVE_PAUSE_MICROS = 40000;
constexpr std::int64_t SCROLL_STEP_PAUSE_MICROS = 14000;
constexpr std::int64_t POINTER_MOVE_PAUSE_MICROS = 8000;
constexpr std::int64_t POINTER_HOLD_MICROS = 6000;
constexpr std::int64_t POINTER_GAP_MICROS = 30000;

int buttonEvent(Button button, bool down) {
  switch (button) {
    case Button::left:
      return down ? type::leftMouseDown : type::leftMouseUp;
    case Button::right:
      return down ? type::rightMouseDown : type::rightMouseUp;
    case Button::middle:
      return down ? type::otherMouseDown : type::otherMouseUp;
  }
  return type::leftMouseUp;
}

// A click reads its mods exactly, without the synonyms a key press accepts.
std::uint64_t clickFlags(const std::vector<std::string>& mods) {
  std::uint64_t result = 0;
  for (const std::string& mod : mods) {
    if (mod == "cmd") result |= platform::flags::command;
    if (mod == "shift") result |= platform::flags::shift;
    if (mod == "alt") result |= platform::flags::option;
    if (mod == "ctrl") result |= platform::flags::control;
  }
  return result;
}

int scrollSteps(double dx, double dy) {
  const double most = std::max(std::fabs(dx), std::fabs(dy)) / SCROLL_PIXELS_PER_STEP;
  const double steps = std::trunc(most) + 1;
  return static_cast<int>(std::clamp(steps, 1.0, static_cast<double>(MAX_SCROLL_STEPS)));
}

}  // namespace

void mouseClick(platform::Platform& os, Point at, std::int64_t count, const std::vector<std::string>& mods) {
  platform::EventPoster& events = os.events();
  platform::Clock& clock = os.clock();
  const std::uint64_t flags = clickFlags(mods);
  events.postMouse({type::mouseMoved, at, 0, 0});
  clock.sleepMicros(CLICK_MOVE_PAUSE_MICROS);
  const std::int64_t clicks = std::max<std::int64_t>(count, 1);
  for (std::int64_t i = 1; i <= clicks; ++i) {
    if (!events.postMouse({type::leftMouseDown, at, i, flags})) return;
    clock.sleepMicros(CLICK_HOLD_MICROS);
    events.postMouse({type::leftMouseUp, at, i, flags});
    clock.sleepMicros(CLICK_GAP_MICROS);
  }
}

void rightClick(platform::Platform& os, Point at) {
  platform::EventPoster& events = os.events();
  events.postMouse({type::mouseMoved, at, 0, 0});
  os.clock().sleepMicros(RIGHT_MOVE_PAUSE_MICROS);
  events.postMouse({type::rightMouseDown, at, 0, 0});
  os.clock().sleepMicros(RIGHT_HOLD_MICROS);
  events.postMouse({type::rightMouseUp, at, 0, 0});
}

bool movePointer(platform::Platform& os, Point at) { return os.events().postMouse({type::mouseMoved, at, 0, 0}); }

bool clickButton(platform::Platform& os, Point at, Button button, int count, std::uint64_t flags) {
  platform::EventPoster& events = os.events();
  platform::Clock& clock = os.clock();
  if (!events.postMouse({type::mouseMoved, at, 0, 0})) return false;
  clock.sleepMicros(POINTER_MOVE_PAUSE_MICROS);
  for (int i = 1; i <= std::clamp(count, 1, 3); ++i) {
    if (i > 1) clock.sleepMicros(POINTER_GAP_MICROS);
    if (!events.postMouse({buttonEvent(button, true), at, i, flags})) return false;
    clock.sleepMicros(POINTER_HOLD_MICROS);
    if (!events.postMouse({buttonEvent(button, false), at, i, flags})) return false;
  }
  return true;
}

bool pressButton(platform::Platform& os, Point at, Button button, bool down, std::uint64_t flags) {
  return os.events().postMouse({buttonEvent(button, down), at, 1, flags});
}

bool dragMouse(platform::Platform& os, Point from, Point to) {
  platform::EventPoster& events = os.events();
  platform::Clock& clock = os.clock();
  // Every step is posted even after one was lost, so that the button never
  // stays down.
  bool posted = events.postMouse({type::mouseMoved, from, 0, 0});
  clock.sleepMicros(DRAG_MOVE_PAUSE_MICROS);
  posted = events.postMouse({type::leftMouseDown, from, 0, 0}) && posted;
  clock.sleepMicros(DRAG_PRESS_PAUSE_MICROS);
  for (int i = 1; i <= DRAG_STEPS; ++i) {
    const double share = static_cast<double>(i) / DRAG_STEPS;
    const Point step{from.x + (to.x - from.x) * share, from.y + (to.y - from.y) * share};
    posted = events.postMouse({type::leftMouseDragged, i == DRAG_STEPS ? to : step, 0, 0}) && posted;
    clock.sleepMicros(DRAG_STEP_PAUSE_MICROS);
  }
  clock.sleepMicros(DRAG_RELEASE_PAUSE_MICROS);
  return events.postMouse({type::leftMouseUp, to, 0, 0}) && posted;
}

bool scrollDeltasUsable(double dx, double dy) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return false;
  const int steps = scrollSteps(dx, dy);
  constexpr double limit = static_cast<double>(std::numeric_limits<std::int32_t>::max());
  return std::fabs(std::trunc(dx / steps)) <= limit && std::fabs(std::trunc(dy / steps)) <= limit;
}

bool scrollAt(platform::Platform& os, Point at, double dx, double dy) {
  if (!scrollDeltasUsable(dx, dy)) return false;
  platform::EventPoster& events = os.events();
  platform::Clock& clock = os.clock();
  if (!events.postMouse({type::mouseMoved, at, 0, 0})) return false;
  clock.sleepMicros(SCROLL_MOVE_PAUSE_MICROS);
  const int steps = scrollSteps(dx, dy);
  const auto vertical = static_cast<std::int32_t>(std::trunc(dy / steps));
  const auto horizontal = static_cast<std::int32_t>(std::trunc(dx / steps));
  for (int i = 0; i < steps; ++i) {
    if (!events.postScroll({at, static_cast<double>(horizontal), static_cast<double>(vertical)})) return false;
    clock.sleepMicros(SCROLL_STEP_PAUSE_MICROS);
  }
  return true;
}

std::optional<Point> centerOf(const ax::Node& node) {
  if (!node.frame) return std::nullopt;
  const ax::Frame& frame = *node.frame;
  // Written so that a NaN size fails too.
  if (!(frame.w > 0) || !(frame.h > 0)) return std::nullopt;
  return Point{frame.x + frame.w * 0.5, frame.y + frame.h * 0.5};
}

}  // namespace kelp::input
