// Reading and changing the X server's keyboard mapping.
#include "platform/linux/x11/keymap.h"

#include <X11/XKBlib.h>

#include <algorithm>

namespace kelp::platform::linux_desktop {
namespace {

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

}  // namespace

void writeKeysyms(Display* display, const std::vector<std::pair<int, Keysym>>& keysyms) {
  if (keysyms.empty() || writeKeysymsAtOnce(display, keysyms)) return;
  for (const auto& [keycode, keysym] : keysyms) {
    // Both levels, so Shift makes no difference either.
    KeySym row[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, keycode, 2, row, 1);
  }
}

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

KeyboardLayout readLayout(Display* display) {
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

}  // namespace kelp::platform::linux_desktop
