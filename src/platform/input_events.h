// The seam's synthetic input and the listen-only tap of a person's input, in
// the core's vocabulary: macOS virtual key codes, event type numbers and
// modifier flag masks, screen points.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/value.h"

namespace kelp::platform {

// ---- synthetic input -----------------------------------------------------

// Modifier flag masks, as event flags carry them.
namespace flags {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace flags

// Event type numbers.
namespace eventType {
inline constexpr int leftMouseDown = 1;
inline constexpr int leftMouseUp = 2;
inline constexpr int rightMouseDown = 3;
inline constexpr int rightMouseUp = 4;
inline constexpr int mouseMoved = 5;
inline constexpr int leftMouseDragged = 6;
inline constexpr int keyDown = 10;
inline constexpr int keyUp = 11;
inline constexpr int flagsChanged = 12;
inline constexpr int scrollWheel = 22;
// The middle button's.
inline constexpr int otherMouseDown = 25;
inline constexpr int otherMouseUp = 26;
}  // namespace eventType

struct KeyEvent {
  std::uint16_t keyCode = 0;
  bool down = true;
  std::uint64_t flags = 0;
  std::u16string unicode{};  // typed text carried by the event, if any
};

struct MouseEvent {
  int type = eventType::mouseMoved;
  Point at{};
  std::int64_t clickState = 0;
  std::uint64_t flags = 0;
};

struct ScrollEvent {
  Point at{};
  double dx = 0;
  double dy = 0;
};

class EventPoster {
 public:
  virtual ~EventPoster() = default;
  // False when the event could not be created; true once it was posted.
  virtual bool postKey(const KeyEvent& event) = 0;
  virtual bool postMouse(const MouseEvent& event) = 0;
  virtual bool postScroll(const ScrollEvent& event) = 0;
};

// ---- listen-only event tap -----------------------------------------------

// One input event of the user, in the seam's vocabulary.
struct TappedEvent {
  int type = 0;  // an eventType number
  // Where the pointer was, in the accessibility space: global points, origin
  // at the top left of the main display, y downwards.
  Point location{};
  std::uint64_t flags = 0;     // the modifiers held, as flag masks
  std::int64_t keyCode = 0;    // key down: the macOS virtual key code
  std::int64_t clickState = 0;  // mouse down and up: 1 for a single click, 2 for the second of a double click, ...
  // Scroll wheel: units of one wheel step, positive up (dy) and left (dx).
  double scrollDx = 0;
  double scrollDy = 0;
};

class EventTap {
 public:
  virtual ~EventTap() = default;
  // Starts delivering the user's input events of the types in `mask` (bit n
  // for event type n) to `onEvent` on the main run loop, and nothing else.
  // False when the tap cannot be created.
  virtual bool start(std::uint64_t mask, std::function<void(const TappedEvent&)> onEvent) = 0;
  virtual void stop() = 0;
  // Where the pointer is now, in the accessibility space; none when it
  // cannot be asked.
  virtual std::optional<Point> pointerLocation() = 0;
};

}  // namespace kelp::platform
