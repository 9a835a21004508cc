#include "platform/linux/x_input.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace kelp::platform::linux_x11 {
namespace {

// A key still down this long after its key-down has lost its key-up; it and
// its modifiers are let go of, so nothing stays stuck. Shorter than the
// server's autorepeat delay (660 ms by default), so it does not repeat
// either. Timers run between requests only, so a key-up posted later in the
// same request is never cut short.
constexpr std::int64_t STUCK_KEY_MICROS = 500'000;

// A borrowed keycode idle this long gets its empty mapping back. Much longer
// than LEASE_REUSE_GAP_MICROS: in between, typing the same characters again
// finds them mapped and needs no new mapping notification at all.
constexpr std::int64_t LEASE_RETURN_MICROS = 2'000'000;

// X coordinates are 16-bit on the wire.
constexpr double COORDINATE_LIMIT = 32767;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void sleepUntil(std::int64_t micros) {
  const std::int64_t wait = micros - nowMicros();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

void key(Display* display, int keycode, bool down) {
  XTestFakeKeyEvent(display, static_cast<unsigned int>(keycode), down ? True : False, CurrentTime);
}

void button(Display* display, int number, bool down) {
  XTestFakeButtonEvent(display, static_cast<unsigned int>(number), down ? True : False, CurrentTime);
}

// Gives each keycode its keysym (none: no keysym at all) in a single XKB
// request. Every mapping change makes every client reread the keymap, and
// window managers regrab their key bindings each time, at tens of
// milliseconds apiece; one request per keycode, as the core protocol would
// need for keycodes that are not adjacent, stalls the desktop for seconds
// after a long text. Keys between them are sent back as they are. False
// without XKB.
bool writeKeysymsAtOnce(Display* display, const std::vector<std::pair<int, Keysym>>& keysyms) {
  KeyboardDescriptionOwner keyboard(XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
  if (!keyboard || !keyboard->map) return false;
  XkbMapChangesRec changes{};
  int first = keyboard->max_key_code;
  int last = keyboard->min_key_code;
  for (const auto& [keycode, keysym] : keysyms) {
    if (keycode < keyboard->min_key_code || keycode > keyboard->max_key_code) continue;
    // One level, so no modifier state changes what the key types.
    int types[XkbNumKbdGroups] = {XkbOneLevelIndex};
    const int groups = keysym != 0 ? 1 : 0;
    if (XkbChangeTypesOfKey(keyboard.get(), keycode, groups, XkbGroup1Mask, types, &changes) != Success) continue;
    if (keysym != 0) {
      KeySym* symbols = XkbResizeKeySyms(keyboard.get(), keycode, 1);
      if (!symbols) continue;
      symbols[0] = keysym;
    }
    first = std::min(first, keycode);
    last = std::max(last, keycode);
  }
  if (first > last) return true;
  // Emptying a key reports no change of its own; the range covers it too.
  if (changes.changed & XkbKeySymsMask) {
    last = std::max(last, changes.first_key_sym + changes.num_key_syms - 1);
    first = std::min(first, static_cast<int>(changes.first_key_sym));
  }
  changes.changed |= XkbKeySymsMask;
  changes.first_key_sym = static_cast<KeyCode>(first);
  changes.num_key_syms = static_cast<unsigned char>(last - first + 1);
  return XkbChangeMap(display, keyboard.get(), &changes) != False;
}

void writeKeysyms(Display* display, const std::vector<std::pair<int, Keysym>>& keysyms) {
  if (keysyms.empty() || writeKeysymsAtOnce(display, keysyms)) return;
  for (const auto& [keycode, keysym] : keysyms) {
    // Both levels, so Shift makes no difference either.
    KeySym row[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, keycode, 2, row, 1);
  }
}

// Nobody else reads events on the shared connection, and every mapping
// change sends this client a notification too; left alone they would pile
// up in Xlib's queue for the life of the process.
void drainMappingNotifications(Display* display) {
  XEvent event;
  while (XCheckTypedEvent(display, MappingNotify, &event)) XRefreshKeyboardMapping(&event.xmapping);
  int opcode = 0;
  int eventBase = 0;
  int errorBase = 0;
  int major = XkbMajorVersion;
  int minor = XkbMinorVersion;
  if (XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor)) {
    while (XCheckTypedEvent(display, eventBase, &event)) {
    }
  }
}

}  // namespace

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

KeyboardLayout XTestEventPoster::readLayout(Display* display) {
  KeyboardLayout layout;
  int minKeycode = 0;
  int maxKeycode = 0;
  XDisplayKeycodes(display, &minKeycode, &maxKeycode);
  if (maxKeycode < minKeycode) return layout;
  int columns = 0;
  XMemory<KeySym> map(XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1,
                                          &columns));
  if (!map || columns <= 0) return layout;
  layout.minKeycode = minKeycode;
  layout.rows.resize(static_cast<std::size_t>(maxKeycode - minKeycode + 1));
  for (std::size_t i = 0; i < layout.rows.size(); ++i) {
    const KeySym* row = map.get() + i * static_cast<std::size_t>(columns);
    KeyRow& entry = layout.rows[i];
    entry.plain = static_cast<Keysym>(row[0]);
    entry.shifted = columns > 1 ? static_cast<Keysym>(row[1]) : 0;
    entry.unused = std::all_of(row, row + columns, [](KeySym keysym) { return keysym == NoSymbol; });
  }
  ModifierKeymapOwner modifiers(XGetModifierMapping(display));
  if (modifiers) {
    for (int i = 0; i < 8 * modifiers->max_keypermod; ++i) {
      const int keycode = modifiers->modifiermap[i];
      if (keycode >= minKeycode && keycode <= maxKeycode) {
        KeyRow& entry = layout.rows[static_cast<std::size_t>(keycode - minKeycode)];
        entry.modifier = true;
        entry.unused = false;
      }
    }
  }
  return layout;
}

void XTestEventPoster::checkLeases(const KeyboardLayout& layout) {
  std::erase_if(leases_, [&](const Lease& lease) {
    const int index = lease.keycode - layout.minKeycode;
    if (index < 0 || index >= static_cast<int>(layout.rows.size())) return true;
    return layout.rows[static_cast<std::size_t>(index)].plain != lease.keysym;
  });
}

Lease* XTestEventPoster::leaseOf(int keycode) {
  auto it = std::find_if(leases_.begin(), leases_.end(), [&](const Lease& lease) { return lease.keycode == keycode; });
  return it == leases_.end() ? nullptr : &*it;
}

void XTestEventPoster::touchLease(int keycode, bool held) {
  if (Lease* lease = leaseOf(keycode)) {
    lease->lastUseMicros = nowMicros();
    lease->held = held;
  }
}

void XTestEventPoster::applyRemaps(Display* display, const StrokePlan& plan) {
  if (plan.remaps.empty()) return;
  sleepUntil(plan.notBeforeMicros);
  std::vector<std::pair<int, Keysym>> keysyms;
  for (const Lease& remap : plan.remaps) keysyms.emplace_back(remap.keycode, remap.keysym);
  writeKeysyms(display, keysyms);
  for (const Lease& remap : plan.remaps) {
    if (Lease* lease = leaseOf(remap.keycode)) {
      *lease = remap;
    } else {
      leases_.push_back(remap);
    }
  }
  // Every mapping change is through before the first key of the plan:
  // clients get their notifications ahead of the key events, and look the
  // keys up in the new mapping.
  XSync(display, False);
  drainMappingNotifications(display);
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
      touchLease(stroke.keycode, false);
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
      touchLease(held.keycode, false);
    }
  }
  std::erase_if(heldKeys_, [&](const HeldKey& held) { return held.keyCode == event.keyCode || held.keycode == keycode; });
  holdModifiers(display, *modifiers);
  key(display, keycode, true);
  heldKeys_.push_back({event.keyCode, keycode});
  touchLease(keycode, true);
  XFlush(display);
  armStuckKeyTimer();
  if (!plan.remaps.empty() || leaseOf(keycode)) armLeaseTimer();
  return true;
}

void XTestEventPoster::releaseKey(Display* display, std::uint16_t keyCode) {
  auto it = std::find_if(heldKeys_.begin(), heldKeys_.end(), [&](const HeldKey& held) { return held.keyCode == keyCode; });
  if (it != heldKeys_.end()) {
    key(display, it->keycode, false);
    touchLease(it->keycode, false);
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
    touchLease(it->keycode, false);
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

std::optional<XTestEventPoster::RootPoint> XTestEventPoster::rootPoint(Point at) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y)) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = x_.monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  // The pixel that contains the point, so a point inside a frame lands on
  // one of the frame's own pixels even at its right and bottom edge.
  const auto toRoot = [](double value) {
    return static_cast<int>(std::clamp(std::floor(value), -COORDINATE_LIMIT, COORDINATE_LIMIT));
  };
  return RootPoint{toRoot(origin.x + at.x), toRoot(origin.y + at.y)};
}

void XTestEventPoster::moveTo(Display* display, RootPoint point) {
  XTestFakeMotionEvent(display, DefaultScreen(display), point.x, point.y, CurrentTime);
}

bool XTestEventPoster::postMouse(const MouseEvent& event) {
  Display* display = connection();
  if (!display) return false;
  const std::optional<RootPoint> point = rootPoint(event.at);
  if (!point) return false;
  text_.interrupt();
  int number = 0;
  bool down = false;
  switch (event.type) {
    case eventType::mouseMoved:
    case eventType::leftMouseDragged:
      moveTo(display, *point);
      XFlush(display);
      return true;
    case eventType::leftMouseDown:
      number = 1;
      down = true;
      break;
    case eventType::leftMouseUp:
      number = 1;
      break;
    case eventType::rightMouseDown:
      number = 3;
      down = true;
      break;
    case eventType::rightMouseUp:
      number = 3;
      break;
    default:
      return false;
  }
  if (down) {
    std::vector<int> modifiers;
    if (!modifierKeysyms(event.flags).empty()) {
      const std::optional<std::vector<int>> found = modifierKeycodes(readLayout(display), event.flags);
      // A modified click without its modifier does something else.
      if (!found) return false;
      modifiers = *found;
    }
    moveTo(display, *point);
    if (std::find(heldButtons_.begin(), heldButtons_.end(), number) != heldButtons_.end()) {
      button(display, number, false);
    } else {
      heldButtons_.push_back(number);
    }
    holdModifiers(display, modifiers);
    button(display, number, true);
  } else {
    moveTo(display, *point);
    auto it = std::find(heldButtons_.begin(), heldButtons_.end(), number);
    if (it != heldButtons_.end()) {
      button(display, number, false);
      heldButtons_.erase(it);
    }
    if (heldButtons_.empty() && heldKeys_.empty()) holdModifiers(display, {});
  }
  XFlush(display);
  return true;
}

bool XTestEventPoster::postScroll(const ScrollEvent& event) {
  Display* display = connection();
  if (!display) return false;
  const std::optional<RootPoint> point = rootPoint(event.at);
  if (!point) return false;
  text_.interrupt();
  if (wheelAt_ != point) wheel_.end();
  wheelAt_ = point;
  moveTo(display, *point);
  const WheelGesture::Clicks clicks = wheel_.step(event.dx, event.dy);
  const auto click = [&](bool vertical, std::int64_t count) {
    const int number = wheelButton(vertical, count);
    for (std::int64_t i = 0; i < std::abs(count); ++i) {
      button(display, number, true);
      button(display, number, false);
    }
  };
  click(true, clicks.vertical);
  click(false, clicks.horizontal);
  XFlush(display);
  // A request runs whole on the main thread, so the run loop's next turn
  // comes after the request's last step: the gesture ends there and the
  // next scroll starts with a click of its own.
  if (!gestureTimer_) {
    gestureTimer_ = runLoop_.addTimer(0, [this] {
      gestureTimer_.reset();
      wheel_.end();
    });
  }
  return true;
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

void XTestEventPoster::armLeaseTimer() {
  if (leaseTimer_ || leases_.empty()) return;
  std::int64_t oldest = std::numeric_limits<std::int64_t>::max();
  for (const Lease& lease : leases_) oldest = std::min(oldest, lease.lastUseMicros);
  const std::int64_t delay = std::max<std::int64_t>(oldest + LEASE_RETURN_MICROS - nowMicros(), 0);
  leaseTimer_ = runLoop_.addTimer(delay, [this] {
    leaseTimer_.reset();
    if (Display* display = connection()) giveLeasesBack(display, false);
    armLeaseTimer();
  });
}

void XTestEventPoster::giveLeasesBack(Display* display, bool all) {
  if (leases_.empty()) return;
  const std::int64_t now = nowMicros();
  KeyboardLayout layout = readLayout(display);
  checkLeases(layout);
  if (all) {
    // Leaving, with no later chance: the last keys typed get the time a
    // reuse would give them, so their clients still read them right.
    std::int64_t latest = 0;
    for (const Lease& lease : leases_) latest = std::max(latest, lease.lastUseMicros);
    sleepUntil(std::min(latest + LEASE_REUSE_GAP_MICROS, now + LEASE_REUSE_GAP_MICROS));
  }
  std::vector<std::pair<int, Keysym>> emptied;
  std::erase_if(leases_, [&](const Lease& lease) {
    const bool due = all || (!lease.held && lease.lastUseMicros + LEASE_RETURN_MICROS <= now);
    if (due) emptied.emplace_back(lease.keycode, 0);
    return due;
  });
  if (emptied.empty()) return;
  writeKeysyms(display, emptied);
  XSync(display, False);
  drainMappingNotifications(display);
}

}  // namespace kelp::platform::linux_x11
