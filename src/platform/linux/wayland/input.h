// Synthetic keyboard and pointer input on a wlroots compositor, through one
// virtual keyboard (zwp_virtual_keyboard_v1) and one virtual pointer
// (zwlr_virtual_pointer_v1), made on the main thread's connection when
// first needed and kept for the life of the process: devices made afresh
// for each request lose their first keys while the compositor sets them up.
// The Wayland side of the input core (input/poster.h); the keyboard brings
// its own keymap (keymap.h).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/input/poster.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/keymap.h"
#include "platform/platform.h"

struct zwp_virtual_keyboard_v1;
struct zwlr_virtual_pointer_v1;

namespace kelp::platform::linux_desktop::wayland {

class VirtualInput final : private InputSink {
 public:
  // `runLoop` and `wayland` must outlive the input.
  VirtualInput(WaylandConnection& wayland, RunLoop& runLoop);
  ~VirtualInput() override;
  VirtualInput(const VirtualInput&) = delete;
  VirtualInput& operator=(const VirtualInput&) = delete;

  // Whether events can be made: the compositor offers both virtual devices.
  bool available() { return session().has_value(); }
  EventPoster& poster() { return poster_; }
  // The last place the pointer was moved to, in the accessibility space;
  // none before the first move. Wayland lets no client read the pointer:
  // this is all this process knows of it. (Screen copies show it where it
  // is: the compositor draws it in.)
  std::optional<Point> pointerLocation();

 private:
  std::optional<std::uint64_t> session() override;
  KeyboardLayout keyboardLayout() override { return layout_; }
  bool keymapShared() override { return false; }
  bool mapKeysyms(const KeyboardLayout& layout, const std::vector<Lease>& changed) override;
  void key(int keycode, bool down) override;
  void modifiersHeld(const std::vector<int>& keycodes) override;
  std::optional<Point> devicePoint(Point at) override;
  void moveTo(Point layoutPoint) override;
  void button(Button button, bool down) override;
  void wheel(const WheelGesture::Clicks& clicks) override;
  bool flush() override { return wayland_.roundtrip(); }

  // Destroys the devices, whose held keys and buttons go with them.
  void dropDevices();
  bool sendKeymap();

  WaylandConnection& wayland_;
  std::uint64_t dropListener_ = 0;
  // Made on connection `generation_`; gone with it.
  std::uint64_t generation_ = 0;
  std::uint64_t session_ = 0;  // counts the devices made
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
  KeyboardLayout layout_;        // as last sent to the compositor
  std::uint32_t modifierMask_ = 0;  // as last sent
  std::optional<Point> pointerAt_;  // layout coordinates
  InputPoster poster_;
};

}  // namespace kelp::platform::linux_desktop::wayland
