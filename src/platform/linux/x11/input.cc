#include "platform/linux/x11/input.h"

#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>

#include "platform/linux/x11/keymap.h"

namespace kelp::platform::linux_desktop {
namespace {

// A key still down this long after its key-down has lost its key-up; it and
// its modifiers are let go of, so nothing stays stuck. Shorter than the
// server's autorepeat delay (660 ms by default), so it does not repeat
// either. Timers run between requests only, so a key-up posted later in the
// same request is never cut short.
constexpr std::int64_t STUCK_KEY_MICROS = 500'000;

}  // namespace

std::int64_t XTestEventPoster::nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void XTestEventPoster::key(Display* display, int keycode, bool down) {
  XTestFakeKeyEvent(display, static_cast<unsigned int>(keycode), down ? True : False, CurrentTime);
}

void XTestEventPoster::button(Display* display, int number, bool down) {
  XTestFakeButtonEvent(display, static_cast<unsigned int>(number), down ? True : False, CurrentTime);
}

XTestEventPoster::~XTestEventPoster() {
  for (auto* timer : {&stuckKeyTimer_, &leaseTimer_, &gestureTimer_}) {
    if (*timer) runLoop_.cancelTimer(**timer);
  }
  if (!display_ || !xtest_ || x_.handle() != display_) return;
  releaseEverything(display_);
  giveLeasesBack(display_, true);
  XSync(display_, False);
  drainMappingNotifications(display_);
}

Display* XTestEventPoster::connection() {
  Display* display = x_.handle();
  if (display != display_) {
    forgetState();
    display_ = display;
    xtest_ = false;
    if (display) {
      int eventBase = 0;
      int errorBase = 0;
      int major = 0;
      int minor = 0;
      xtest_ = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) != False;
      // Another client's server grab must not hold back the events.
      if (xtest_) XTestGrabControl(display, True);
    }
  }
  return xtest_ ? display : nullptr;
}

void XTestEventPoster::forgetState() {
  heldKeys_.clear();
  heldModifiers_.clear();
  heldButtons_.clear();
  leases_.clear();
  text_.interrupt();
  wheel_.end();
  wheelAt_.reset();
}

bool XTestEventPoster::postKey(const KeyEvent& event) {
  Display* display = connection();
  if (!display) return false;
  if (!event.unicode.empty()) {
    // The text goes in with the key-down; its key-up has nothing left to do.
    if (!event.down) return true;
    return typeText(display, event.unicode);
  }
  text_.interrupt();
  const std::optional<Keysym> keysym = keysymForKeyCode(event.keyCode);
  if (!keysym) return false;
  if (event.down) return pressKey(display, event, *keysym);
  releaseKey(display, event.keyCode);
  XFlush(display);
  return true;
}

bool XTestEventPoster::typeText(Display* display, std::u16string_view chunk) {
  const std::vector<Keysym> keysyms = text_.next(chunk);
  if (keysyms.empty()) return true;
  // Held keys or modifiers would change what the text's keys type.
  releaseKeys(display);
  holdModifiers(display, {});
  KeyboardLayout layout = readLayout(display);
  if (layout.rows.empty()) return false;
  checkLeases(layout);
  const std::optional<std::vector<int>> shift = modifierKeycodes(layout, flags::shift);
  const bool canShift = shift && shift->size() == 1;
  bool complete = true;
  bool shifted = false;
  std::vector<Keysym> rest = keysyms;
  while (!rest.empty()) {
    const StrokePlan plan = planStrokes(layout, leases_, rest, canShift, nowMicros());
    if (plan.consumed == 0) {
      // No keycode at all for this character: the rest still goes in.
      complete = false;
      rest.erase(rest.begin());
      continue;
    }
    applyRemaps(display, plan);
    for (const Lease& remap : plan.remaps) {
      KeyRow& row = layout.rows[static_cast<std::size_t>(remap.keycode - layout.minKeycode)];
      row = KeyRow{remap.keysym, remap.keysym, false, false};
    }
    for (const Stroke& stroke : plan.strokes) {
      if (stroke.shift != shifted) {
        key(display, shift->front(), stroke.shift);
        shifted = stroke.shift;
      }
      key(display, stroke.keycode, true);
      key(display, stroke.keycode, false);
      touchLease(leases_, stroke.keycode, false, nowMicros());
    }
    rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(plan.consumed));
  }
  if (shifted) key(display, shift->front(), false);
  XFlush(display);
  armLeaseTimer();
  return complete;
}

bool XTestEventPoster::pressKey(Display* display, const KeyEvent& event, Keysym keysym) {
  KeyboardLayout layout = readLayout(display);
  if (layout.rows.empty()) return false;
  checkLeases(layout);
  const std::optional<std::vector<int>> modifiers = modifierKeycodes(layout, event.flags);
  // Without its modifier a shortcut would be another key, text even.
  if (!modifiers) return false;
  // Only a keysym on level 1 is the key itself; one on level 2 would need a
  // Shift the event did not ask for.
  const StrokePlan plan = planStrokes(layout, leases_, {keysym}, false, nowMicros());
  if (plan.consumed == 0) return false;
  applyRemaps(display, plan);
  const int keycode = plan.strokes.front().keycode;
  // A second key-down without a key-up in between: the first comes up, so
  // the key goes down afresh.
  for (const HeldKey& held : heldKeys_) {
    if (held.keyCode == event.keyCode || held.keycode == keycode) {
      key(display, held.keycode, false);
      touchLease(leases_, held.keycode, false, nowMicros());
    }
  }
  std::erase_if(heldKeys_, [&](const HeldKey& held) { return held.keyCode == event.keyCode || held.keycode == keycode; });
  holdModifiers(display, *modifiers);
  key(display, keycode, true);
  heldKeys_.push_back({event.keyCode, keycode});
  touchLease(leases_, keycode, true, nowMicros());
  XFlush(display);
  armStuckKeyTimer();
  if (!plan.remaps.empty() || leaseOf(leases_, keycode)) armLeaseTimer();
  return true;
}

void XTestEventPoster::releaseKey(Display* display, std::uint16_t keyCode) {
  auto it = std::find_if(heldKeys_.begin(), heldKeys_.end(), [&](const HeldKey& held) { return held.keyCode == keyCode; });
  if (it != heldKeys_.end()) {
    key(display, it->keycode, false);
    touchLease(leases_, it->keycode, false, nowMicros());
    heldKeys_.erase(it);
  }
  if (heldKeys_.empty() && heldButtons_.empty()) holdModifiers(display, {});
}

void XTestEventPoster::holdModifiers(Display* display, const std::vector<int>& keycodes) {
  for (auto it = heldModifiers_.rbegin(); it != heldModifiers_.rend(); ++it) {
    if (std::find(keycodes.begin(), keycodes.end(), *it) == keycodes.end()) key(display, *it, false);
  }
  std::erase_if(heldModifiers_, [&](int held) { return std::find(keycodes.begin(), keycodes.end(), held) == keycodes.end(); });
  for (const int keycode : keycodes) {
    if (std::find(heldModifiers_.begin(), heldModifiers_.end(), keycode) != heldModifiers_.end()) continue;
    key(display, keycode, true);
    heldModifiers_.push_back(keycode);
  }
}

void XTestEventPoster::releaseKeys(Display* display) {
  for (auto it = heldKeys_.rbegin(); it != heldKeys_.rend(); ++it) {
    key(display, it->keycode, false);
    touchLease(leases_, it->keycode, false, nowMicros());
  }
  heldKeys_.clear();
  // Modifiers held for a pressed button stay until the button comes up.
  if (heldButtons_.empty()) holdModifiers(display, {});
}

void XTestEventPoster::releaseEverything(Display* display) {
  releaseKeys(display);
  for (const int number : heldButtons_) button(display, number, false);
  heldButtons_.clear();
  holdModifiers(display, {});
  XFlush(display);
}

void XTestEventPoster::armStuckKeyTimer() {
  if (stuckKeyTimer_) runLoop_.cancelTimer(*stuckKeyTimer_);
  stuckKeyTimer_ = runLoop_.addTimer(STUCK_KEY_MICROS, [this] {
    stuckKeyTimer_.reset();
    if (heldKeys_.empty()) return;
    if (Display* display = connection()) {
      releaseKeys(display);
      XFlush(display);
    }
  });
}

}  // namespace kelp::platform::linux_desktop
