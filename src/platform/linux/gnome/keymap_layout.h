// The keyboard layout that Mutter types remote desktop keys in: its own
// keymap, which a client cannot change. Read with xkbcommon from the input
// source GNOME's settings name (Mutter compiles the same names), it tells
// which characters have a key and which keycode types them.
//
// The seat's own keymap (wayland/seat_keymap.h) is the compositor's word
// for it; this is for when the seat cannot be asked.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/input/key_codes.h"

namespace kelp::platform::linux_desktop::gnome {

// The XKB names of an input source: layout and variant ("us+intl" is the
// layout us, variant intl) and the options.
struct XkbNames {
  std::string layout;
  std::string variant;
  std::string options;
  friend bool operator==(const XkbNames&, const XkbNames&) = default;
};

// The names of the first XKB source of org.gnome.desktop.input-sources
// (`sources` as (type, id) pairs), with its `xkb-options`; an empty layout
// when no source is an XKB one (an input method's), so that xkbcommon's
// default stands, as Mutter's does.
XkbNames namesOfInputSources(const std::vector<std::pair<std::string, std::string>>& sources,
                             const std::vector<std::string>& options);

// The group of the seat's keymap GNOME Shell locks for the active input
// source. The shell compiles every distinct id of `sources` (as (type, id)
// pairs), in order, into one keymap, three to a keymap, and makes active
// the first of the most recently used sources (`mru`, 'mru-sources') that
// is still a source, else the one `current` numbers (older shells), else
// the first. None when an input method is among the sources: its layout is
// the engine's, which the settings do not name.
std::optional<unsigned> groupOfInputSources(const std::vector<std::pair<std::string, std::string>>& sources,
                                            const std::vector<std::pair<std::string, std::string>>& mru,
                                            std::optional<unsigned> current);

// That group, from GNOME's settings; none when they cannot be read.
std::optional<unsigned> sessionKeymapGroup();

// The layout for `names` (an empty field takes xkbcommon's default), read
// as the seat's keymap is (wayland::layoutOfKeymapText); none when it does
// not compile.
std::optional<KeyboardLayout> layoutOfNames(const XkbNames& names);

// The layout of the session's input source, read from GNOME's settings.
std::optional<KeyboardLayout> sessionKeyboardLayout();

}  // namespace kelp::platform::linux_desktop::gnome
