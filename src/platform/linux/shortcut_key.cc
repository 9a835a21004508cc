// The key of a menu item's shortcut, read from the binding its toolkit shows.
#include "platform/linux/shortcut_key.h"

#include <X11/keysym.h>
#include <X11/Xlib.h>

#include <glib.h>

#include <algorithm>
#include <string>

namespace kelp::platform::linux_desktop {
namespace {

struct NamedKey {
  std::string_view name;  // lower-case
  std::string_view key;
};

// Keys that type no character, by X keysym names and by the names Qt shows.
constexpr NamedKey NAMED_KEYS[] = {
    {"return", "Return"},
    {"enter", "Enter"},
    {"kp_enter", "Enter"},
    {"tab", "Tab"},
    {"iso_left_tab", "Tab"},
    {"backtab", "Tab"},
    {"space", "Space"},
    {"kp_space", "Space"},
    {"escape", "Escape"},
    {"esc", "Escape"},
    {"backspace", "Delete"},
    {"delete", "ForwardDelete"},
    {"del", "ForwardDelete"},
    {"kp_delete", "ForwardDelete"},
    {"left", "Left"},
    {"right", "Right"},
    {"up", "Up"},
    {"down", "Down"},
    {"home", "Home"},
    {"end", "End"},
    {"page_up", "PageUp"},
    {"prior", "PageUp"},
    {"pgup", "PageUp"},
    {"page_down", "PageDown"},
    {"next", "PageDown"},
    {"pgdown", "PageDown"},
};

std::string asciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string upperCharacter(gunichar character) {
  char utf8[8] = {};
  const gint length = g_unichar_to_utf8(g_unichar_toupper(character), utf8);
  return std::string(utf8, static_cast<std::size_t>(length));
}

// The character a keysym types; 0 for keys that type none.
gunichar characterOfKeysym(KeySym keysym) {
  if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
    return static_cast<gunichar>(keysym);
  if ((keysym & 0xff000000u) == 0x01000000u) return static_cast<gunichar>(keysym & 0x00ffffffu);
  // The keypad's digits and operators carry their ASCII code in the low bits.
  if ((keysym >= XK_KP_Multiply && keysym <= XK_KP_9) || keysym == XK_KP_Equal)
    return static_cast<gunichar>(keysym & 0x7f);
  return 0;
}

std::string keyFromName(std::string_view name) {
  // A key given as its character, as Qt and some GTK bindings do.
  const char* end = nullptr;
  if (g_utf8_validate(name.data(), static_cast<gssize>(name.size()), &end) &&
      g_utf8_strlen(name.data(), static_cast<gssize>(name.size())) == 1) {
    return upperCharacter(g_utf8_get_char(name.data()));
  }
  const std::string lower = asciiLower(name);
  for (const NamedKey& row : NAMED_KEYS) {
    if (row.name == lower) return std::string(row.key);
  }
  if (lower.size() >= 2 && lower.size() <= 3 && lower[0] == 'f' &&
      std::all_of(lower.begin() + 1, lower.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return "F" + lower.substr(1);
  }
  const std::string keysymName(name);
  const KeySym keysym = XStringToKeysym(keysymName.c_str());
  if (const gunichar character = keysym == NoSymbol ? 0 : characterOfKeysym(keysym)) {
    return upperCharacter(character);
  }
  return keysymName;
}

std::string_view trimmedSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string shortcutKey(std::string_view keyBinding) {
  std::string_view shortcut = keyBinding;
  if (const std::size_t semicolon = shortcut.rfind(';'); semicolon != std::string_view::npos) {
    shortcut.remove_prefix(semicolon + 1);
  }
  if (const std::size_t comma = shortcut.find(", "); comma != std::string_view::npos) {
    shortcut = shortcut.substr(0, comma);
  }
  shortcut = trimmedSpaces(shortcut);
  // GTK's modifiers: "<Primary><Shift>s".
  while (shortcut.starts_with('<')) {
    const std::size_t close = shortcut.find('>');
    if (close == std::string_view::npos) return {};
    shortcut.remove_prefix(close + 1);
  }
  // Qt's: "Ctrl+Shift+S", where the key may itself be '+' ("Ctrl++").
  if (shortcut.size() > 1) {
    if (const std::size_t plus = shortcut.rfind('+', shortcut.size() - 2); plus != std::string_view::npos) {
      shortcut.remove_prefix(plus + 1);
    }
  }
  if (shortcut.empty()) return {};
  return keyFromName(shortcut);
}

}  // namespace kelp::platform::linux_desktop
