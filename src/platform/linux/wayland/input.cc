// The virtual keyboard's keys, keymap and modifiers, and the virtual
// pointer's motion, buttons and wheel, for the input core.
#include "platform/linux/wayland/input.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

// A keyboard added to the seat makes sway give the focused window its
// keyboard focus anew, and a shortcut sent before the window has taken that
// in went astray now and then (mousepad's ctrl+a, in about one fresh process
// of three). Paid once, when the process makes its devices.
constexpr std::chrono::milliseconds NEW_KEYBOARD_SETTLE{100};

// The value of one wheel click along an axis. libinput reports 15 (degrees
// of the wheel), and GTK 3 scrolls value / 10 steps per click: 10 makes it
// scroll one step per click, as it does under X, so PIXELS_PER_WHEEL_CLICK
// holds here too. Toolkits that count the clicks themselves (Qt, GTK 4,
// Chromium) read `discrete` and do not care.
constexpr double WHEEL_CLICK_VALUE = 10;

// The keymap as the compositor maps it: a sealed memory file.
int keymapFile(const std::string& text) {
  const int fd = memfd_create("kelp-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  // The compositor reads the size it is told, the terminating NUL included.
  const std::size_t size = text.size() + 1;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, text.c_str() + written, size - written);
    if (n <= 0) {
      close(fd);
      return -1;
    }
    written += static_cast<std::size_t>(n);
  }
  fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return fd;
}

std::uint32_t eventMillis() {
  // Event times are milliseconds of a clock that never jumps; they wrap.
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

VirtualInput::VirtualInput(WaylandConnection& wayland, RunLoop& runLoop)
    : wayland_(wayland), dropListener_(wayland.onDrop([this] { dropDevices(); })), poster_(*this, runLoop) {}

VirtualInput::~VirtualInput() {
  wayland_.cancelOnDrop(dropListener_);
  if (!keyboard_ || !wayland_.connected() || wayland_.generation() != generation_) return;
  poster_.finish();
  dropDevices();
  wayland_.roundtrip();
}

void VirtualInput::dropDevices() {
  if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
  if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
  keyboard_ = nullptr;
  pointer_ = nullptr;
}

std::optional<std::uint64_t> VirtualInput::session() {
  if (!wayland_.display()) return std::nullopt;
  if (wayland_.generation() != generation_) {
    // dropDevices destroyed the devices before the last connection went.
    keyboard_ = nullptr;
    pointer_ = nullptr;
    generation_ = wayland_.generation();
  }
  if (keyboard_) return session_;
  const WaylandConnection::Globals& globals = wayland_.globals();
  if (!globals.seat || !globals.keyboards || !globals.pointers) return std::nullopt;
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.keyboards, globals.seat);
  pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.pointers, globals.seat);
  layout_ = startingLayout();
  modifierMask_ = 0;
  ++session_;
  // A keyboard without a keymap may send nothing else.
  if (!sendKeymap()) {
    dropDevices();
    return std::nullopt;
  }
  // A failed roundtrip dropped the connection, and the devices with it.
  if (!wayland_.roundtrip()) return std::nullopt;
  std::this_thread::sleep_for(NEW_KEYBOARD_SETTLE);
  return session_;
}

bool VirtualInput::sendKeymap() {
  const std::string text = keymapText(layout_);
  const int fd = keymapFile(text);
  if (fd < 0) return false;
  zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 static_cast<std::uint32_t>(text.size() + 1));
  // libwayland sends a copy of the descriptor.
  close(fd);
  return true;
}

bool VirtualInput::mapKeysyms(const KeyboardLayout& layout, const std::vector<Lease>&) {
  // Under Xwayland, X clients read a keycode's keysym only after the
  // mapping changed; the core waits out a keycode's reuse gap before this.
  layout_ = layout;
  return sendKeymap();
}

void VirtualInput::key(int keycode, bool down) {
  zwp_virtual_keyboard_v1_key(keyboard_, eventMillis(), static_cast<std::uint32_t>(keycode - 8),
                              down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void VirtualInput::modifiersHeld(const std::vector<int>& keycodes) {
  // The keys set the compositor's state through the keymap's actions; the
  // mask says the same outright, for compositors that take it from there.
  const std::uint32_t mask = modifierMaskOf(layout_, keycodes);
  if (mask == modifierMask_) return;
  modifierMask_ = mask;
  zwp_virtual_keyboard_v1_modifiers(keyboard_, mask, 0, 0, 0);
}

// ---- pointer -------------------------------------------------------------------

std::optional<Point> VirtualInput::devicePoint(Point at) {
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  if (!monitors || monitors->empty()) return std::nullopt;
  return layoutPoint(at, *monitors);
}

std::optional<Point> VirtualInput::pointerLocation() {
  if (!pointerAt_) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  return Point{pointerAt_->x - origin.x, pointerAt_->y - origin.y};
}

void VirtualInput::moveTo(Point layout) {
  const std::optional<std::vector<MonitorRect>> monitors = wayland_.monitors();
  if (!monitors) return;
  const std::optional<AbsoluteMotion> motion = absoluteMotion(layout, *monitors);
  if (!motion) return;
  zwlr_virtual_pointer_v1_motion_absolute(pointer_, eventMillis(), motion->x, motion->y, motion->xExtent,
                                          motion->yExtent);
  zwlr_virtual_pointer_v1_frame(pointer_);
  pointerAt_ = layout;
}

void VirtualInput::button(Button which, bool down) {
  const std::uint32_t code = which == Button::left ? BTN_LEFT : which == Button::middle ? BTN_MIDDLE : BTN_RIGHT;
  zwlr_virtual_pointer_v1_button(pointer_, eventMillis(), code,
                                 down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  zwlr_virtual_pointer_v1_frame(pointer_);
}

void VirtualInput::wheel(const WheelGesture::Clicks& clicks) {
  if (clicks.vertical == 0 && clicks.horizontal == 0) return;
  // The seam's positive values scroll up and left, Wayland's down and right.
  const auto turn = [&](std::uint32_t axis, std::int64_t count) {
    if (count == 0) return;
    const double value = -static_cast<double>(count) * WHEEL_CLICK_VALUE;
    zwlr_virtual_pointer_v1_axis_discrete(pointer_, eventMillis(), axis, wl_fixed_from_double(value),
                                          static_cast<std::int32_t>(-count));
  };
  zwlr_virtual_pointer_v1_axis_source(pointer_, WL_POINTER_AXIS_SOURCE_WHEEL);
  turn(WL_POINTER_AXIS_VERTICAL_SCROLL, clicks.vertical);
  turn(WL_POINTER_AXIS_HORIZONTAL_SCROLL, clicks.horizontal);
  zwlr_virtual_pointer_v1_frame(pointer_);
}

}  // namespace kelp::platform::linux_desktop::wayland
