#include "platform/linux/x11/input.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

#include "platform/linux/x11/keymap.h"

namespace kelp::platform::linux_desktop {
namespace {

// A borrowed keycode idle this long gets its empty mapping back. Much longer
// than LEASE_REUSE_GAP_MICROS: in between, typing the same characters again
// finds them mapped and needs no new mapping notification at all.
constexpr std::int64_t LEASE_RETURN_MICROS = 2'000'000;

}  // namespace

void XTestEventPoster::sleepUntil(std::int64_t micros) {
  const std::int64_t wait = micros - nowMicros();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
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

void XTestEventPoster::applyRemaps(Display* display, const StrokePlan& plan) {
  if (plan.remaps.empty()) return;
  sleepUntil(plan.notBeforeMicros);
  std::vector<std::pair<int, Keysym>> keysyms;
  for (const Lease& remap : plan.remaps) keysyms.emplace_back(remap.keycode, remap.keysym);
  writeKeysyms(display, keysyms);
  for (const Lease& remap : plan.remaps) {
    if (Lease* lease = leaseOf(leases_, remap.keycode)) {
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

}  // namespace kelp::platform::linux_desktop
