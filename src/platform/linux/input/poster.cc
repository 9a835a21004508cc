// The input core's keys and text over a display server's sink, and the keycodes it borrows.
#include "platform/linux/input/poster.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include <glib.h>

namespace kelp::platform::linux_desktop {
namespace {

// A key still down this long after its key-down has lost its key-up; it and
// its modifiers are let go of, so nothing stays stuck. Shorter than the
// display servers' autorepeat delay (X's 660 ms by default, sway's 600 ms),
// so the client does not start repeating it either. Timers run between
// requests only, so a key-up posted later in the same request is never cut
// short.
constexpr std::int64_t STUCK_KEY_MICROS = 500'000;

// A borrowed keycode idle this long gets its empty mapping back. Much longer
// than LEASE_REUSE_GAP_MICROS: in between, typing the same characters again
// finds them mapped and needs no new mapping at all.
constexpr std::int64_t LEASE_RETURN_MICROS = 2'000'000;

// Keystrokes sent between flushes. A Wayland request that does not fit into
// the socket's buffer kills the connection (libwayland gives up rather than
// block), so a long text waits now and then until the compositor has read
// what came before.
constexpr std::size_t STROKES_PER_FLUSH = 256;

// The keysym of the paste shortcut's key (XK_v).
constexpr Keysym XK_LOWER_V = 0x76;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void sleepUntil(std::int64_t micros) {
  const std::int64_t wait = micros - nowMicros();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

bool contains(const std::vector<int>& keycodes, int keycode) {
  return std::find(keycodes.begin(), keycodes.end(), keycode) != keycodes.end();
}

// The character a text keysym types (the inverse of keysymForCharacter for
// printable characters), appended as UTF-8; false for any other keysym.
bool appendCharacter(Keysym keysym, std::string& utf8) {
  char32_t c = 0;
  if ((keysym >= 0x20 && keysym < 0x7f) || (keysym >= 0xa0 && keysym <= 0xff)) {
    c = keysym;
  } else if ((keysym & 0xff000000u) == 0x01000000u && (keysym & 0x00ffffffu) <= 0x10ffff) {
    c = keysym & 0x00ffffffu;
  } else {
    return false;
  }
  gchar bytes[6];
  utf8.append(bytes, static_cast<std::size_t>(g_unichar_to_utf8(static_cast<gunichar>(c), bytes)));
  return true;
}

}  // namespace

InputPoster::~InputPoster() {
  for (auto* timer : {&stuckKeyTimer_, &leaseTimer_, &gestureTimer_}) {
    if (*timer) runLoop_.cancelTimer(**timer);
  }
}

void InputPoster::finish() {
  if (!session_) return;
  releaseEverything();
  if (sink_.keymapShared()) giveLeasesBack(true);
  sink_.flush();
}

bool InputPoster::open() {
  const std::optional<std::uint64_t> session = sink_.session();
  if (!session) return false;
  if (session != session_) {
    forgetState();
    session_ = session;
  }
  return true;
}

void InputPoster::forgetState() {
  heldKeys_.clear();
  heldModifiers_.clear();
  heldButtons_.clear();
  leases_.clear();
  text_.interrupt();
  wheel_.end();
  wheelAt_.reset();
}

// ---- keys --------------------------------------------------------------------

bool InputPoster::postKey(const KeyEvent& event) {
  if (!open()) return false;
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
  return sink_.flush();
}

bool InputPoster::typeText(std::u16string_view chunk) {
  const std::vector<Keysym> keysyms = text_.next(chunk);
  if (keysyms.empty()) return true;
  // Held keys or modifiers would change what the text's keys type.
  releaseKeys();
  holdModifiers({});
  KeyboardLayout layout = planningLayout();
  if (layout.rows.empty()) return false;
  dropStaleLeases(layout, leases_);
  const bool remaps = sink_.remapsKeys();
  const std::optional<std::vector<int>> shift = modifierKeycodes(layout, flags::shift);
  const bool canShift = shift && shift->size() == 1;
  const auto setShift = [&](bool down) {
    sink_.key(shift->front(), down);
    sink_.modifiersHeld(down ? *shift : std::vector<int>{});
  };
  bool complete = true;
  bool shifted = false;
  std::size_t sinceFlush = 0;
  std::vector<Keysym> rest = keysyms;
  while (!rest.empty()) {
    const StrokePlan plan = planStrokes(layout, leases_, rest, canShift, nowMicros());
    if (plan.consumed == 0 && !remaps) {
      // From a character without a key, the text goes in by one paste up to
      // the next key that is no character (Return, Tab): the application
      // inserts pasted text a while after it asked for it, and keys typed
      // right after a paste could overtake it.
      std::size_t pasted = 1;
      std::string probe;
      while (pasted < rest.size() && appendCharacter(rest[pasted], probe)) ++pasted;
      if (shifted) setShift(shifted = false);
      sinceFlush = 0;
      if (!paste(layout, {rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(pasted)})) complete = false;
      rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(pasted));
      continue;
    }
    if (plan.consumed == 0) {
      // No keycode at all for this character: the rest still goes in.
      complete = false;
      rest.erase(rest.begin());
      continue;
    }
    if (!plan.remaps.empty()) {
      // Nothing is held while the mapping changes.
      if (shifted) setShift(shifted = false);
      if (!remap(layout, plan)) return false;
    }
    for (const Stroke& stroke : plan.strokes) {
      if (stroke.shift != shifted) setShift(shifted = stroke.shift);
      sink_.key(stroke.keycode, true);
      sink_.key(stroke.keycode, false);
      touchLease(leases_, stroke.keycode, false, nowMicros());
      if (++sinceFlush == STROKES_PER_FLUSH) {
        sinceFlush = 0;
        if (!sink_.flush()) return false;
      }
    }
    rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(plan.consumed));
  }
  if (shifted) setShift(false);
  armLeaseTimer();
  return sink_.flush() && complete;
}

KeyboardLayout InputPoster::planningLayout() {
  KeyboardLayout layout = sink_.keyboardLayout();
  if (!sink_.remapsKeys()) {
    for (KeyRow& row : layout.rows) row.unused = false;
  }
  return layout;
}

bool InputPoster::paste(const KeyboardLayout& layout, const std::vector<Keysym>& keysyms) {
  std::string text;
  for (const Keysym keysym : keysyms) {
    if (!appendCharacter(keysym, text)) return false;
  }
  // The paste shortcut, found in the layout as a person would press it.
  const std::optional<std::vector<int>> control = modifierKeycodes(layout, flags::control);
  const StrokePlan v = planStrokes(layout, {}, {XK_LOWER_V}, false, 0);
  if (!control || v.consumed == 0) return false;
  // What was typed before lands before the clipboard changes.
  if (!sink_.flush() || !sink_.offerForPaste(text)) return false;
  holdModifiers(*control);
  sink_.key(v.strokes.front().keycode, true);
  sink_.key(v.strokes.front().keycode, false);
  holdModifiers({});
  return sink_.awaitPaste();
}

bool InputPoster::pressKey(const KeyEvent& event, Keysym keysym) {
  KeyboardLayout layout = planningLayout();
  if (layout.rows.empty()) return false;
  dropStaleLeases(layout, leases_);
  const std::optional<std::vector<int>> modifiers = modifierKeycodes(layout, event.flags);
  // Without its modifier a shortcut would be another key, text even.
  if (!modifiers) return false;
  // Only a keysym on level 1 is the key itself; one on level 2 would need a
  // Shift the event did not ask for.
  const StrokePlan plan = planStrokes(layout, leases_, {keysym}, false, nowMicros());
  if (plan.consumed == 0) return false;
  if (!plan.remaps.empty() && !remap(layout, plan)) return false;
  const int keycode = plan.strokes.front().keycode;
  // A second key-down without a key-up in between: the first comes up, so
  // the key goes down afresh.
  const auto same = [&](const HeldKey& held) { return held.keyCode == event.keyCode || held.keycode == keycode; };
  for (const HeldKey& held : heldKeys_) {
    if (!same(held)) continue;
    sink_.key(held.keycode, false);
    touchLease(leases_, held.keycode, false, nowMicros());
  }
  std::erase_if(heldKeys_, same);
  holdModifiers(*modifiers);
  sink_.key(keycode, true);
  heldKeys_.push_back({event.keyCode, keycode});
  touchLease(leases_, keycode, true, nowMicros());
  armStuckKeyTimer();
  if (!plan.remaps.empty() || leaseOf(leases_, keycode)) armLeaseTimer();
  return sink_.flush();
}

void InputPoster::releaseKey(std::uint16_t keyCode) {
  auto it = std::find_if(heldKeys_.begin(), heldKeys_.end(), [&](const HeldKey& held) { return held.keyCode == keyCode; });
  if (it != heldKeys_.end()) {
    sink_.key(it->keycode, false);
    touchLease(leases_, it->keycode, false, nowMicros());
    heldKeys_.erase(it);
  }
  if (heldKeys_.empty() && heldButtons_.empty()) holdModifiers({});
}

bool InputPoster::remap(KeyboardLayout& layout, const StrokePlan& plan) {
  sleepUntil(plan.notBeforeMicros);
  recordRemaps(plan, layout, leases_);
  return sink_.mapKeysyms(layout, plan.remaps);
}

void InputPoster::holdModifiers(const std::vector<int>& keycodes) {
  const std::vector<int> before = heldModifiers_;
  for (auto it = heldModifiers_.rbegin(); it != heldModifiers_.rend(); ++it) {
    if (!contains(keycodes, *it)) sink_.key(*it, false);
  }
  std::erase_if(heldModifiers_, [&](int held) { return !contains(keycodes, held); });
  for (const int keycode : keycodes) {
    if (contains(heldModifiers_, keycode)) continue;
    sink_.key(keycode, true);
    heldModifiers_.push_back(keycode);
  }
  if (heldModifiers_ != before) sink_.modifiersHeld(heldModifiers_);
}

void InputPoster::releaseKeys() {
  for (auto it = heldKeys_.rbegin(); it != heldKeys_.rend(); ++it) {
    sink_.key(it->keycode, false);
    touchLease(leases_, it->keycode, false, nowMicros());
  }
  heldKeys_.clear();
  // Modifiers held for a pressed button stay until the button comes up.
  if (heldButtons_.empty()) holdModifiers({});
}

void InputPoster::releaseEverything() {
  releaseKeys();
  for (const Button button : heldButtons_) sink_.button(button, false);
  heldButtons_.clear();
  holdModifiers({});
}

void InputPoster::armStuckKeyTimer() {
  if (stuckKeyTimer_) runLoop_.cancelTimer(*stuckKeyTimer_);
  stuckKeyTimer_ = runLoop_.addTimer(STUCK_KEY_MICROS, [this] {
    stuckKeyTimer_.reset();
    if (heldKeys_.empty() || !open()) return;
    releaseKeys();
    sink_.flush();
  });
}

// ---- borrowed keycodes ---------------------------------------------------------

void InputPoster::armLeaseTimer() {
  if (leaseTimer_ || leases_.empty() || !sink_.keymapShared()) return;
  std::int64_t oldest = std::numeric_limits<std::int64_t>::max();
  for (const Lease& lease : leases_) oldest = std::min(oldest, lease.lastUseMicros);
  const std::int64_t delay = std::max<std::int64_t>(oldest + LEASE_RETURN_MICROS - nowMicros(), 0);
  leaseTimer_ = runLoop_.addTimer(delay, [this] {
    leaseTimer_.reset();
    if (open()) giveLeasesBack(false);
    armLeaseTimer();
  });
}

void InputPoster::giveLeasesBack(bool all) {
  if (leases_.empty()) return;
  const std::int64_t now = nowMicros();
  KeyboardLayout layout = sink_.keyboardLayout();
  dropStaleLeases(layout, leases_);
  if (all) {
    // Leaving, with no later chance: the last keys typed get the time a
    // reuse would give them, so their clients still read them right.
    std::int64_t latest = 0;
    for (const Lease& lease : leases_) latest = std::max(latest, lease.lastUseMicros);
    sleepUntil(std::min(latest + LEASE_REUSE_GAP_MICROS, now + LEASE_REUSE_GAP_MICROS));
  }
  std::vector<Lease> emptied;
  std::erase_if(leases_, [&](const Lease& lease) {
    const bool due = all || (!lease.held && lease.lastUseMicros + LEASE_RETURN_MICROS <= now);
    if (due) emptied.push_back({lease.keycode, 0, now, false});
    return due;
  });
  if (emptied.empty()) return;
  for (const Lease& lease : emptied) {
    const int index = lease.keycode - layout.minKeycode;
    if (index >= 0 && index < static_cast<int>(layout.rows.size())) {
      layout.rows[static_cast<std::size_t>(index)] = KeyRow{0, 0, false, true};
    }
  }
  sink_.mapKeysyms(layout, emptied);
}

}  // namespace kelp::platform::linux_desktop
