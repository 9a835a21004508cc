// The simulated desktop's posted events as short words with the virtual
// milliseconds between them, so a test states a whole sequence in one line:
//   "move 60,45 | +60 down#1 60,45 | +28 up#1 60,45"
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/sim/sim_desktop.h"
#include "text/text.h"

namespace kelp::test {

inline std::string number(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

inline std::string flagWords(std::uint64_t flags) {
  std::string words;
  if (flags & platform::flags::command) words += "+cmd";
  if (flags & platform::flags::shift) words += "+shift";
  if (flags & platform::flags::option) words += "+alt";
  if (flags & platform::flags::control) words += "+ctrl";
  return words;
}

inline std::string describe(const platform::sim::PostedEvent& event) {
  using Kind = platform::sim::PostedEvent::Kind;
  namespace type = platform::eventType;
  if (event.kind == Kind::key) {
    std::string word = event.key.down ? "keydown " : "keyup ";
    if (!event.key.unicode.empty()) return word + "\"" + text::fromUtf16(event.key.unicode) + "\"";
    return word + std::to_string(event.key.keyCode) + flagWords(event.key.flags);
  }
  if (event.kind == Kind::scroll) {
    return "wheel " + number(event.scroll.dy) + "," + number(event.scroll.dx);
  }
  const platform::MouseEvent& mouse = event.mouse;
  std::string word;
  switch (mouse.type) {
    case type::mouseMoved: word = "move"; break;
    case type::leftMouseDown: word = "down"; break;
    case type::leftMouseUp: word = "up"; break;
    case type::rightMouseDown: word = "rdown"; break;
    case type::rightMouseUp: word = "rup"; break;
    case type::leftMouseDragged: word = "drag"; break;
    default: word = "mouse" + std::to_string(mouse.type);
  }
  if (mouse.clickState) word += "#" + std::to_string(mouse.clickState);
  word += flagWords(mouse.flags);
  return word + " " + number(mouse.at.x) + "," + number(mouse.at.y);
}

// Every posted event, each after the milliseconds since the one before.
inline std::string trace(const platform::sim::SimDesktop& sim) {
  std::string text;
  std::int64_t last = -1;
  for (const auto& event : sim.posted) {
    if (last >= 0) text += " | +" + std::to_string((event.atMicros - last) / 1000) + " ";
    text += describe(event);
    last = event.atMicros;
  }
  return text;
}

}  // namespace kelp::test
