// Synthetic keyboard and pointer input on a wlroots compositor, through one
// virtual keyboard (zwp_virtual_keyboard_v1) and one virtual pointer
// (zwlr_virtual_pointer_v1), made on the main thread's connection when
// first needed and kept for the life of the process: devices made afresh
// for each request lose their first keys while the compositor sets them up.
// Held keys, modifiers, buttons, stuck keys and wheel gestures behave as
// the X poster's (x_input.cc).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/input/key_codes.h"
#include "platform/platform.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/keymap.h"

struct zwp_virtual_keyboard_v1;
struct zwlr_virtual_pointer_v1;

namespace kelp::platform::linux_desktop::wayland {


class WaylandEventPoster final : public EventPoster {
 public:
  // `runLoop` is where stuck keys are let go of and wheel gestures end,
  // between requests; it and `wayland` must outlive the poster.
  WaylandEventPoster(WaylandConnection& wayland, RunLoop& runLoop);
  ~WaylandEventPoster() override;
  WaylandEventPoster(const WaylandEventPoster&) = delete;
  WaylandEventPoster& operator=(const WaylandEventPoster&) = delete;

  // Whether events can be made: the compositor offers both virtual devices.
  bool available() { return devices(); }
  // The last place the pointer was moved to, in the accessibility space;
  // none before the first move. Wayland lets no client read the pointer:
  // this is all this process knows of it. (Screen copies show it where it
  // is: the compositor draws it in.)
  std::optional<Point> pointerLocation();

  bool postKey(const KeyEvent& event) override;
  bool postMouse(const MouseEvent& event) override;
  bool postScroll(const ScrollEvent& event) override;

 private:
  struct HeldKey {
    std::uint16_t keyCode = 0;  // as the core named it
    int keycode = 0;            // the keymap's
  };

  static std::int64_t nowMicros();
  static std::uint32_t eventMillis();

  // The devices on the current connection, made (with their keymap) on
  // first need; false without a compositor that offers them.
  bool devices();
  // Destroys the devices, whose held keys and buttons go with them.
  void dropDevices();
  void forgetState();
  bool sendKeymap();
  // The compositor has everything sent so far, in order.
  bool delivered();

  void key(int keycode, bool down);
  void button(std::uint32_t code, bool down);
  void moveTo(Point layout);
  std::optional<Point> layoutPoint(Point at);

  bool typeText(std::u16string_view chunk);
  bool pressKey(const KeyEvent& event, Keysym keysym);
  void releaseKey(std::uint16_t keyCode);
  // Brings the held modifier keys, and the modifier mask, to `keycodes`.
  void holdModifiers(const std::vector<int>& keycodes);
  void releaseKeys();
  void releaseEverything();
  void armStuckKeyTimer();

  WaylandConnection& wayland_;
  RunLoop& runLoop_;

  std::uint64_t dropListener_ = 0;
  // Made on connection `generation_`; gone with it.
  std::uint64_t generation_ = 0;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;

  KeyboardLayout layout_;  // as last sent to the compositor
  std::vector<Lease> leases_;
  std::vector<HeldKey> heldKeys_;
  std::vector<int> heldModifiers_;  // keycodes, in the order they went down
  std::vector<std::uint32_t> heldButtons_;
  TextKeysyms text_;
  WheelGesture wheel_;
  std::optional<Point> wheelAt_;
  std::optional<Point> pointerAt_;  // layout coordinates

  std::optional<RunLoop::TimerId> stuckKeyTimer_;
  std::optional<RunLoop::TimerId> gestureTimer_;
};

}  // namespace kelp::platform::linux_desktop::wayland
