// Mouse input synthesised at screen points (accessibility space: origin at
// the top left of the main display, y downwards), and the point at which an
// element is clicked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ax/node.h"
#include "platform/platform.h"

namespace kelp::input {

inline constexpr int DRAG_STEPS = 14;
inline constexpr int MAX_SCROLL_STEPS = 40;
inline constexpr double SCROLL_PIXELS_PER_STEP = 3;

// Left click `count` times (at least once) with the modifiers named exactly
// "cmd", "shift", "alt", "ctrl".
void mouseClick(platform::Platform& os, platform::Point at, std::int64_t count, const std::vector<std::string>& mods);
void rightClick(platform::Platform& os, platform::Point at);

enum class Button { left, right, middle };
// The mouse at a point as a model asks for it from a picture: quicker than
// the clicks above, which give a control time to notice the pointer first.
// False when the desktop did not take the move.
bool movePointer(platform::Platform& os, platform::Point at);
// `count` clicks of `button` (1 to 3) with modifier flags held; false when
// an event could not be posted.
bool clickButton(platform::Platform& os, platform::Point at, Button button, int count, std::uint64_t flags);
// One half of a click.
bool pressButton(platform::Platform& os, platform::Point at, Button button, bool down, std::uint64_t flags);
// Left button down at `from`, 14 dragged steps, up at `to`; false when the
// desktop did not take one of them.
bool dragMouse(platform::Platform& os, platform::Point from, platform::Point to);

// Scrolls by pixels, dy vertical, dx horizontal, with the pointer at `at`.
// The deltas must pass scrollDeltasUsable. False when the desktop did not
// take the events.
bool scrollAt(platform::Platform& os, platform::Point at, double dx, double dy);

// Whether scrollAt can turn these deltas into steps: finite, and each step's
// share within a 32-bit signed integer.
bool scrollDeltasUsable(double dx, double dy);

std::optional<platform::Point> centerOf(const ax::Node& node);

}  // namespace kelp::input
