// Synthetic keyboard and pointer input through the XTest extension, on the
// shared X connection and the main thread. The poster's keys are in
// x_input.cc, its pointer in x_pointer.cc, and the keycodes it borrows for
// text in x_key_leases.cc.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/input/key_codes.h"
#include "platform/linux/x11/display.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

class XTestEventPoster final : public EventPoster {
 public:
  // `runLoop` is where borrowed keycodes are given back and stuck keys let
  // go of, between requests; it must outlive the poster.
  XTestEventPoster(XDisplay& x, RunLoop& runLoop) : x_(x), runLoop_(runLoop) {}
  ~XTestEventPoster() override;
  XTestEventPoster(const XTestEventPoster&) = delete;
  XTestEventPoster& operator=(const XTestEventPoster&) = delete;

  // Whether events can be made: a display with the XTest extension.
  bool available() { return connection() != nullptr; }

  bool postKey(const KeyEvent& event) override;
  bool postMouse(const MouseEvent& event) override;
  bool postScroll(const ScrollEvent& event) override;

 private:
  struct HeldKey {
    std::uint16_t keyCode = 0;  // as the core named it
    int keycode = 0;            // X's
  };
  struct RootPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const RootPoint&, const RootPoint&) = default;
  };

  // XTest's fake events, and the clock leases and stuck keys are timed by.
  static std::int64_t nowMicros();
  static void sleepUntil(std::int64_t micros);
  static void key(Display* display, int keycode, bool down);
  static void button(Display* display, int number, bool down);

  // The display when it has XTest; a new connection starts with no state.
  Display* connection();
  void forgetState();
  KeyboardLayout readLayout(Display* display);
  // Drops leases whose keycode no longer carries their keysym: another
  // client remapped it, or the server is a new one.
  void checkLeases(const KeyboardLayout& layout);
  // Maps the plan's keycodes, waiting first if they were in use until lately.
  void applyRemaps(Display* display, const StrokePlan& plan);

  bool typeText(Display* display, std::u16string_view chunk);
  bool pressKey(Display* display, const KeyEvent& event, Keysym keysym);
  void releaseKey(Display* display, std::uint16_t keyCode);
  // Brings the held modifier keys to exactly `keycodes`.
  void holdModifiers(Display* display, const std::vector<int>& keycodes);
  void releaseKeys(Display* display);
  void releaseEverything(Display* display);
  std::optional<RootPoint> rootPoint(Point at);
  void moveTo(Display* display, RootPoint point);

  void armStuckKeyTimer();
  void armLeaseTimer();
  void giveLeasesBack(Display* display, bool all);

  XDisplay& x_;
  RunLoop& runLoop_;
  Display* display_ = nullptr;  // the connection the state below belongs to
  bool xtest_ = false;

  std::vector<HeldKey> heldKeys_;
  std::vector<int> heldModifiers_;  // keycodes, in the order they went down
  std::vector<int> heldButtons_;
  std::vector<Lease> leases_;
  TextKeysyms text_;
  WheelGesture wheel_;
  std::optional<RootPoint> wheelAt_;

  std::optional<RunLoop::TimerId> stuckKeyTimer_;
  std::optional<RunLoop::TimerId> leaseTimer_;
  std::optional<RunLoop::TimerId> gestureTimer_;
};

}  // namespace kelp::platform::linux_desktop
