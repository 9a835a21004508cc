// Synthetic keyboard and pointer input through the XTest extension, on the
// shared X connection and the main thread: the X side of the input core
// (input/poster.h), with spare keycodes of the server's own mapping
// borrowed for text.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/input/poster.h"
#include "platform/linux/x11/display.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

class XTestInput final : private InputSink {
 public:
  XTestInput(XDisplay& x, RunLoop& runLoop) : x_(x), poster_(*this, runLoop) {}
  ~XTestInput() override;
  XTestInput(const XTestInput&) = delete;
  XTestInput& operator=(const XTestInput&) = delete;

  // Whether events can be made: a display with the XTest extension.
  bool available() { return session().has_value(); }
  EventPoster& poster() { return poster_; }

 private:
  std::optional<std::uint64_t> session() override;
  KeyboardLayout keyboardLayout() override;
  bool keymapShared() override { return true; }
  bool mapKeysyms(const KeyboardLayout& layout, const std::vector<Lease>& changed) override;
  void key(int keycode, bool down) override;
  std::optional<Point> devicePoint(Point at) override;
  void moveTo(Point devicePoint) override;
  void button(Button button, bool down) override;
  void wheel(const WheelGesture::Clicks& clicks) override;
  bool flush() override;

  XDisplay& x_;
  Display* display_ = nullptr;  // the connection the poster's state belongs to
  bool xtest_ = false;
  std::uint64_t session_ = 0;   // counts the connections seen
  InputPoster poster_;
};

}  // namespace kelp::platform::linux_desktop
