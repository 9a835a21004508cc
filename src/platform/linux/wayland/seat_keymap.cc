// Reading the seat's keymap: wl_keyboard's keymap event, then xkbcommon.
#include "platform/linux/wayland/seat_keymap.h"

#include <X11/keysym.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace kelp::platform::linux_desktop::wayland {
namespace {

using XkbContextOwner = std::unique_ptr<xkb_context, decltype([](xkb_context* c) { xkb_context_unref(c); })>;
using XkbKeymapOwner = std::unique_ptr<xkb_keymap, decltype([](xkb_keymap* k) { xkb_keymap_unref(k); })>;
using XkbStateOwner = std::unique_ptr<xkb_state, decltype([](xkb_state* s) { xkb_state_unref(s); })>;

// The keys X would put in its modifier map: the core holds these to make
// its shortcuts, and never borrows them.
bool isModifierKeysym(Keysym keysym) {
  switch (keysym) {
    case XK_Shift_L: case XK_Shift_R: case XK_Control_L: case XK_Control_R:
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R:
    case XK_Super_L: case XK_Super_R: case XK_Hyper_L: case XK_Hyper_R:
    case XK_ISO_Level3_Shift: case XK_ISO_Level5_Shift: case XK_Mode_switch:
    case XK_Caps_Lock: case XK_Shift_Lock: case XK_Num_Lock:
      return true;
    default:
      return false;
  }
}

// Text goes in as each character's keysym (above Latin-1, 0x1000000 plus
// its code point), while keymaps name most such characters by their legacy
// keysyms (Cyrillic_ef): read as the former, a character is one keysym.
Keysym asTextKeysym(Keysym keysym) {
  if (keysym == 0 || (keysym & 0xff000000u) == 0x01000000u) return keysym;
  const std::uint32_t character = xkb_keysym_to_utf32(keysym);
  return character > 0xff && character <= 0x10ffff ? 0x01000000u + character : keysym;
}

// The one keysym of `key` at `level` of `group`; 0 for none (or for
// several, which no single stroke types).
Keysym keysymAt(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t group, xkb_level_index_t level) {
  const xkb_keysym_t* syms = nullptr;
  const int count = xkb_keymap_key_get_syms_by_level(keymap, key, group, level, &syms);
  return count == 1 ? asTextKeysym(syms[0]) : 0;
}

// What a client reads for each key with `group` locked, with nothing held
// and with Shift alone held, as X's first two columns list it.
struct GroupReader {
  XkbStateOwner plain;
  XkbStateOwner shifted;

  GroupReader(xkb_keymap* keymap, xkb_mod_index_t shift, xkb_layout_index_t group)
      : plain(xkb_state_new(keymap)), shifted(xkb_state_new(keymap)) {
    if (!plain || !shifted) return;
    xkb_state_update_mask(plain.get(), 0, 0, 0, 0, 0, group);
    xkb_state_update_mask(shifted.get(), xkb_mod_mask_t{1} << shift, 0, 0, 0, 0, group);
  }
  bool valid() const { return plain && shifted; }

  // A key with fewer groups than the locked one wraps to one it has.
  std::pair<Keysym, Keysym> read(xkb_keymap* keymap, xkb_keycode_t key) const {
    const xkb_layout_index_t plainGroup = xkb_state_key_get_layout(plain.get(), key);
    const xkb_layout_index_t shiftedGroup = xkb_state_key_get_layout(shifted.get(), key);
    if (plainGroup == XKB_LAYOUT_INVALID || shiftedGroup == XKB_LAYOUT_INVALID) return {0, 0};
    return {keysymAt(keymap, key, plainGroup, xkb_state_key_get_level(plain.get(), key, plainGroup)),
            keysymAt(keymap, key, shiftedGroup, xkb_state_key_get_level(shifted.get(), key, shiftedGroup))};
  }
};

struct KeymapEvent {
  std::optional<std::string> text;
  bool failed = false;
};

const wl_keyboard_listener KEYBOARD_LISTENER = {
    .keymap =
        [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
          auto* event = static_cast<KeymapEvent*>(data);
          // Read-only and private: since version 7 the compositor may share
          // one sealed file among all clients.
          void* mapped = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0
                             ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                             : MAP_FAILED;
          close(fd);
          if (mapped == MAP_FAILED) {
            event->failed = true;
            return;
          }
          const char* text = static_cast<const char*>(mapped);
          event->text = std::string(text, strnlen(text, size));
          munmap(mapped, size);
        },
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t) {},
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

}  // namespace

std::optional<KeyboardLayout> layoutOfKeymapText(const std::string& keymapText, KeymapGroup group) {
  XkbContextOwner context(xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)));
  if (!context) return std::nullopt;
  // xkbcommon logs to standard error by default, which belongs to the parent.
  xkb_context_set_log_fn(context.get(), [](xkb_context*, xkb_log_level, const char*, va_list) {});
  XkbKeymapOwner keymap(xkb_keymap_new_from_buffer(context.get(), keymapText.data(), keymapText.size(),
                                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) return std::nullopt;
  const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
  if (shift == XKB_MOD_INVALID) return std::nullopt;
  const xkb_layout_index_t groups = std::max<xkb_layout_index_t>(1, xkb_keymap_num_layouts(keymap.get()));
  std::vector<GroupReader> readers;
  if (groups == 1 || (group && *group < groups)) {
    readers.emplace_back(keymap.get(), shift, groups == 1 ? 0 : *group);
  } else {
    for (xkb_layout_index_t g = 0; g < groups; ++g) readers.emplace_back(keymap.get(), shift, g);
  }
  if (!std::all_of(readers.begin(), readers.end(), [](const GroupReader& r) { return r.valid(); })) {
    return std::nullopt;
  }

  KeyboardLayout layout;
  // Rows count from X's first keycode, 8, as the core's layouts do;
  // xkbcommon's first is the first key the keymap names.
  layout.minKeycode = 8;
  const int last = std::min<int>(255, static_cast<int>(xkb_keymap_max_keycode(keymap.get())));
  for (int keycode = layout.minKeycode; keycode <= last; ++keycode) {
    const auto key = static_cast<xkb_keycode_t>(keycode);
    KeyRow row;
    bool differs = false;
    if (xkb_keymap_num_layouts_for_key(keymap.get(), key) > 0) {
      std::tie(row.plain, row.shifted) = readers.front().read(keymap.get(), key);
      for (std::size_t other = 1; other < readers.size(); ++other) {
        const auto [plain, shifted] = readers[other].read(keymap.get(), key);
        // What the groups do not agree on types differently in each.
        differs = differs || plain != row.plain || shifted != row.shifted;
        if (plain != row.plain) row.plain = 0;
        if (shifted != row.shifted) row.shifted = 0;
      }
    }
    row.modifier = isModifierKeysym(row.plain);
    row.unused = row.plain == 0 && row.shifted == 0 && !row.modifier && !differs;
    layout.rows.push_back(row);
  }
  return layout;
}

std::optional<KeyboardLayout> seatKeyboardLayout(WaylandConnection& connection, KeymapGroup group) {
  if (!connection.display()) return std::nullopt;
  wl_seat* seat = connection.globals().seat;
  if (!seat) return std::nullopt;
  // The keymap comes as soon as the keyboard is made, whether or not the
  // seat has a keyboard device plugged in now.
  KeymapEvent event;
  wl_keyboard* keyboard = wl_seat_get_keyboard(seat);
  wl_keyboard_add_listener(keyboard, &KEYBOARD_LISTENER, &event);
  const std::uint64_t generation = connection.generation();
  const bool answered = connection.dispatchUntil([&] { return event.text.has_value() || event.failed; });
  // A connection that broke took the keyboard with it.
  if (connection.connected() && connection.generation() == generation) {
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
      wl_keyboard_release(keyboard);
    } else {
      wl_keyboard_destroy(keyboard);
    }
  }
  if (!answered || !event.text) return std::nullopt;
  return layoutOfKeymapText(*event.text, group);
}

}  // namespace kelp::platform::linux_desktop::wayland
