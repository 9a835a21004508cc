// Menu items' shortcuts as the accessibility bus shows them.
#pragma once

#include <string>
#include <string_view>

namespace kelp::platform::linux_desktop {

// The key of the shortcut in an AT-SPI key binding, as AXMenuItemCmdChar
// names it: without its modifiers, a letter upper-cased ("S" for Ctrl+S and
// for Shift+Ctrl+S), a key that types a character as that character
// ("<Primary>plus" is "+"), and other keys by the names the core presses
// them by: "F5", "Up", "PageUp", "Escape", "Return", and as on a Mac
// keyboard "ForwardDelete" for X's Delete and "Delete" for BackSpace. Keys
// the core has no name for keep their X keysym name ("Insert").
//
// ATK's binding is "mnemonic;mnemonic path;shortcut" (GTK: "s;<Alt>f:s;<Primary>s")
// and the shortcut is its last field; a binding without ';' is a shortcut
// alone, in GTK's form or in Qt's ("Ctrl+Shift+S"). Of a sequence of
// strokes ("Ctrl+K, Ctrl+C") the first counts. Empty without a shortcut.
std::string shortcutKey(std::string_view keyBinding);

}  // namespace kelp::platform::linux_desktop
