#include "platform/linux/wayland/input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {


namespace {

// A key still down this long after its key-down has lost its key-up; it and
// its modifiers are let go of, so nothing stays stuck. Shorter than the
// compositor's repeat delay (sway's is 600 ms), so the client does not start
// repeating it either. Timers run between requests only, so a key-up posted
// later in the same request is never cut short.
constexpr std::int64_t STUCK_KEY_MICROS = 500'000;

// Keystrokes sent between waits for the compositor to take them in. A
// request that does not fit into the socket's buffer kills the connection
// (libwayland gives up rather than block), so a long text waits now and
// then until the compositor has read what came before.
constexpr std::size_t STROKES_PER_WAIT = 256;

// A keyboard added to the seat makes sway give the focused window its
// keyboard focus anew, and a shortcut sent before the window has taken that
// in went astray now and then (mousepad's ctrl+a, in about one fresh process
// of three). Paid once, when the process makes its devices.
constexpr std::chrono::milliseconds NEW_KEYBOARD_SETTLE{100};

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

}  // namespace

WaylandEventPoster::WaylandEventPoster(WaylandConnection& wayland, RunLoop& runLoop)
    : wayland_(wayland), runLoop_(runLoop), dropListener_(wayland.onDrop([this] { dropDevices(); })) {}

WaylandEventPoster::~WaylandEventPoster() {
  wayland_.cancelOnDrop(dropListener_);
  for (auto* timer : {&stuckKeyTimer_, &gestureTimer_}) {
    if (*timer) runLoop_.cancelTimer(**timer);
  }
  if (!keyboard_ || !wayland_.connected() || wayland_.generation() != generation_) return;
  releaseEverything();
  dropDevices();
  wayland_.roundtrip();
}

void WaylandEventPoster::dropDevices() {
  if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
  if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
  keyboard_ = nullptr;
  pointer_ = nullptr;
  forgetState();
}

std::int64_t WaylandEventPoster::nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::uint32_t WaylandEventPoster::eventMillis() {
  // Event times are milliseconds of a clock that never jumps; they wrap.
  return static_cast<std::uint32_t>(nowMicros() / 1000);
}

bool WaylandEventPoster::devices() {
  if (!wayland_.display()) return false;
  if (wayland_.generation() != generation_) {
    // dropDevices destroyed the devices before the last connection went.
    keyboard_ = nullptr;
    pointer_ = nullptr;
    forgetState();
    generation_ = wayland_.generation();
  }
  if (keyboard_) return true;
  const WaylandConnection::Globals& globals = wayland_.globals();
  if (!globals.seat || !globals.keyboards || !globals.pointers) return false;
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.keyboards, globals.seat);
  pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.pointers, globals.seat);
  layout_ = startingLayout();
  // A keyboard without a keymap may send nothing else.
  if (!sendKeymap()) {
    dropDevices();
    return false;
  }
  // A failed roundtrip dropped the connection, and the devices with it.
  if (!delivered()) return false;
  std::this_thread::sleep_for(NEW_KEYBOARD_SETTLE);
  return true;
}

void WaylandEventPoster::forgetState() {
  leases_.clear();
  heldKeys_.clear();
  heldModifiers_.clear();
  heldButtons_.clear();
  text_.interrupt();
  wheel_.end();
  wheelAt_.reset();
}

bool WaylandEventPoster::sendKeymap() {
  const std::string text = keymapText(layout_);
  const int fd = keymapFile(text);
  if (fd < 0) return false;
  zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                 static_cast<std::uint32_t>(text.size() + 1));
  // libwayland sends a copy of the descriptor.
  close(fd);
  return true;
}

bool WaylandEventPoster::delivered() { return wayland_.roundtrip(); }

void WaylandEventPoster::key(int keycode, bool down) {
  zwp_virtual_keyboard_v1_key(keyboard_, eventMillis(), static_cast<std::uint32_t>(keycode - 8),
                              down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

bool WaylandEventPoster::postKey(const KeyEvent& event) {
  if (!devices()) return false;
  if (!event.unicode.empty()) {
    // The text goes in with the key-down; its key-up has nothing left to do.
    if (!event.down) return true;
    return typeText(event.unicode);
  }
  text_.interrupt();
  const std::optional<Keysym> keysym = keysymForKeyCode(event.keyCode);
  if (!keysym) return false;
  if (event.down) return pressKey(event, *keysym);
  releaseKey(event.keyCode);
  return delivered();
}

bool WaylandEventPoster::typeText(std::u16string_view chunk) {
  const std::vector<Keysym> keysyms = text_.next(chunk);
  if (keysyms.empty()) return true;
  // Held keys or modifiers would change what the text's keys do.
  releaseKeys();
  holdModifiers({});
  const std::optional<std::vector<int>> shift = modifierKeycodes(layout_, flags::shift);
  const bool canShift = shift && shift->size() == 1;
  bool complete = true;
  bool shifted = false;
  std::size_t sinceWait = 0;
  std::vector<Keysym> rest = keysyms;
  while (!rest.empty()) {
    const StrokePlan plan = planStrokes(layout_, leases_, rest, canShift, nowMicros());
    if (plan.consumed == 0) {
      // No keycode at all for this character: the rest still goes in.
      complete = false;
      rest.erase(rest.begin());
      continue;
    }
    if (!plan.remaps.empty()) {
      // Under Xwayland, X clients read a keycode's keysym only after the
      // mapping changed; one that changes again too soon is read wrong.
      const std::int64_t wait = plan.notBeforeMicros - nowMicros();
      if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
      recordRemaps(plan, layout_, leases_);
      // Shift comes up first: nothing is held while the keymap changes.
      if (shifted) {
        shifted = false;
        key(shift->front(), false);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
      }
      if (!sendKeymap()) return false;
    }
    for (const Stroke& stroke : plan.strokes) {
      if (stroke.shift != shifted) {
        shifted = stroke.shift;
        key(shift->front(), shifted);
        zwp_virtual_keyboard_v1_modifiers(keyboard_, shifted ? modifierMask(flags::shift) : 0, 0, 0, 0);
      }
      key(stroke.keycode, true);
      key(stroke.keycode, false);
      touchLease(leases_, stroke.keycode, false, nowMicros());
      if (++sinceWait == STROKES_PER_WAIT) {
        sinceWait = 0;
        if (!delivered()) return false;
      }
    }
    rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(plan.consumed));
  }
  if (shifted) {
    key(shift->front(), false);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
  }
  return delivered() && complete;
}

bool WaylandEventPoster::pressKey(const KeyEvent& event, Keysym keysym) {
  const std::optional<std::vector<int>> modifiers = modifierKeycodes(layout_, event.flags);
  // Without its modifier a shortcut would be another key, text even.
  if (!modifiers) return false;
  const StrokePlan plan = planStrokes(layout_, leases_, {keysym}, false, nowMicros());
  if (plan.consumed == 0) return false;
  if (!plan.remaps.empty()) {
    recordRemaps(plan, layout_, leases_);
    if (!sendKeymap()) return false;
  }
  const int keycode = plan.strokes.front().keycode;
  // A second key-down without a key-up in between: the first comes up, so
  // the key goes down afresh.
  for (const HeldKey& held : heldKeys_) {
    if (held.keyCode == event.keyCode || held.keycode == keycode) {
      key(held.keycode, false);
      touchLease(leases_, held.keycode, false, nowMicros());
    }
  }
  std::erase_if(heldKeys_, [&](const HeldKey& held) { return held.keyCode == event.keyCode || held.keycode == keycode; });
  holdModifiers(*modifiers);
  key(keycode, true);
  heldKeys_.push_back({event.keyCode, keycode});
  touchLease(leases_, keycode, true, nowMicros());
  armStuckKeyTimer();
  return delivered();
}

void WaylandEventPoster::releaseKey(std::uint16_t keyCode) {
  auto it = std::find_if(heldKeys_.begin(), heldKeys_.end(), [&](const HeldKey& held) { return held.keyCode == keyCode; });
  if (it != heldKeys_.end()) {
    key(it->keycode, false);
    touchLease(leases_, it->keycode, false, nowMicros());
    heldKeys_.erase(it);
  }
  if (heldKeys_.empty() && heldButtons_.empty()) holdModifiers({});
}

void WaylandEventPoster::holdModifiers(const std::vector<int>& keycodes) {
  const std::uint32_t before = modifierMaskOf(layout_, heldModifiers_);
  for (auto it = heldModifiers_.rbegin(); it != heldModifiers_.rend(); ++it) {
    if (std::find(keycodes.begin(), keycodes.end(), *it) == keycodes.end()) key(*it, false);
  }
  std::erase_if(heldModifiers_, [&](int held) { return std::find(keycodes.begin(), keycodes.end(), held) == keycodes.end(); });
  for (const int keycode : keycodes) {
    if (std::find(heldModifiers_.begin(), heldModifiers_.end(), keycode) != heldModifiers_.end()) continue;
    key(keycode, true);
    heldModifiers_.push_back(keycode);
  }
  // The keys set the compositor's state through the keymap's actions; the
  // mask says the same outright, for compositors that take it from there.
  const std::uint32_t after = modifierMaskOf(layout_, heldModifiers_);
  if (after != before) zwp_virtual_keyboard_v1_modifiers(keyboard_, after, 0, 0, 0);
}

void WaylandEventPoster::releaseKeys() {
  for (auto it = heldKeys_.rbegin(); it != heldKeys_.rend(); ++it) {
    key(it->keycode, false);
    touchLease(leases_, it->keycode, false, nowMicros());
  }
  heldKeys_.clear();
  // Modifiers held for a pressed button stay until the button comes up.
  if (heldButtons_.empty()) holdModifiers({});
}

void WaylandEventPoster::releaseEverything() {
  releaseKeys();
  for (const std::uint32_t code : heldButtons_) button(code, false);
  heldButtons_.clear();
  holdModifiers({});
}

void WaylandEventPoster::armStuckKeyTimer() {
  if (stuckKeyTimer_) runLoop_.cancelTimer(*stuckKeyTimer_);
  stuckKeyTimer_ = runLoop_.addTimer(STUCK_KEY_MICROS, [this] {
    stuckKeyTimer_.reset();
    if (heldKeys_.empty() || !devices()) return;
    releaseKeys();
    delivered();
  });
}

}  // namespace kelp::platform::linux_desktop::wayland
