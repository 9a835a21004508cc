#include "input/keyboard.h"

#include <algorithm>
#include <array>
#include <utility>

#include <unicode/utf16.h>

#include "text/text.h"

namespace kelp::input {
namespace {

struct KeyLabelRow {
  std::string_view key;
  std::string_view label;
};

constexpr std::array<KeyLabelRow, 16> KEY_LABELS = {{
    {"return", "Enter"},   {"enter", "Enter"},     {"keypadenter", "Enter"}, {"tab", "Tab"},
    {"escape", "Esc"},     {"space", "Space"},     {"up", "\u2191"},         {"down", "\u2193"},
    {"left", "\u2190"},    {"right", "\u2192"},    {"keypadequals", "="},    {"keypadclear", "Clear"},
    {"pageup", "PageUp"},  {"pagedown", "PageDown"}, {"home", "Home"},       {"end", "End"},
}};

struct ModifierName {
  std::string_view name;
  std::uint64_t mask;
};

// pressKey reads its mods in any case and with the long names as well.
constexpr std::array<ModifierName, 8> KEY_MODIFIER_NAMES = {{
    {"cmd", platform::flags::command},
    {"command", platform::flags::command},
    {"shift", platform::flags::shift},
    {"alt", platform::flags::option},
    {"option", platform::flags::option},
    {"ctrl", platform::flags::control},
    {"control", platform::flags::control},
}};

// modNames' order: command, shift, option, control.
constexpr std::array<ModifierName, 4> CANONICAL_MODIFIERS = {{
    {"cmd", platform::flags::command},
    {"shift", platform::flags::shift},
    {"alt", platform::flags::option},
    {"ctrl", platform::flags::control},
}};

// keyLabel's order of signs: control, option, shift, command.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> MODIFIER_SIGNS = {{
    {"ctrl", "\u2303"},
    {"alt", "\u2325"},
    {"shift", "\u21e7"},
    {"cmd", "\u2318"},
}};

}  // namespace

const std::map<std::string, std::uint16_t, std::less<>>& KEYMAP() {
  static const std::map<std::string, std::uint16_t, std::less<>> table = {
      // named keys
      {"return", 36}, {"enter", 36}, {"tab", 48}, {"space", 49}, {"delete", 51}, {"escape", 53},
      {"left", 123}, {"right", 124}, {"down", 125}, {"up", 126}, {"home", 115}, {"end", 119},
      {"pageup", 116}, {"pagedown", 121}, {"forwarddelete", 117},
      // letters
      {"a", 0}, {"s", 1}, {"d", 2}, {"f", 3}, {"h", 4}, {"g", 5}, {"z", 6}, {"x", 7}, {"c", 8},
      {"v", 9}, {"b", 11}, {"q", 12}, {"w", 13}, {"e", 14}, {"r", 15}, {"y", 16}, {"t", 17},
      {"o", 31}, {"u", 32}, {"i", 34}, {"p", 35}, {"l", 37}, {"j", 38}, {"k", 40}, {"n", 45},
      {"m", 46},
      // digits
      {"1", 18}, {"2", 19}, {"3", 20}, {"4", 21}, {"5", 23}, {"6", 22}, {"7", 26}, {"8", 28},
      {"9", 25}, {"0", 29},
      // punctuation
      {"minus", 27}, {"equal", 24}, {"comma", 43}, {"period", 47}, {"slash", 44},
      {"semicolon", 41}, {"quote", 39}, {"backslash", 42}, {"grave", 50}, {"leftbracket", 33},
      {"rightbracket", 30},
      // function keys
      {"f1", 122}, {"f2", 120}, {"f3", 99}, {"f4", 118}, {"f5", 96}, {"f6", 97}, {"f7", 98},
      {"f8", 100}, {"f9", 101}, {"f10", 109}, {"f11", 103}, {"f12", 111},
      // keypad
      {"keypadenter", 76}, {"keypadclear", 71}, {"keypadequals", 81}, {"keypadmultiply", 67},
      {"keypaddivide", 75}, {"keypadplus", 69}, {"keypadminus", 78}, {"keypaddecimal", 65},
      {"keypad0", 82}, {"keypad1", 83}, {"keypad2", 84}, {"keypad3", 85}, {"keypad4", 86},
      {"keypad5", 87}, {"keypad6", 88}, {"keypad7", 89}, {"keypad8", 91}, {"keypad9", 92},
  };
  return table;
}

const std::set<std::string, std::less<>>& NAMED_KEYS() {
  static const std::set<std::string, std::less<>> names = {
      "return", "enter", "keypadenter", "keypadequals", "tab", "escape", "left", "right", "down",
      "up", "home", "end", "pageup", "pagedown", "f1", "f2", "f3", "f4", "f5", "f6",
      "f7", "f8", "f9", "f10", "f11", "f12"};
  return names;
}

std::uint64_t keyFlags(const std::vector<std::string>& mods) {
  std::uint64_t result = 0;
  for (const std::string& mod : mods) {
    const std::string lower = text::toLower(mod);
    for (const ModifierName& entry : KEY_MODIFIER_NAMES) {
      if (entry.name == lower) result |= entry.mask;
    }
  }
  return result;
}

bool pressKey(platform::Platform& os, std::string_view key, const std::vector<std::string>& mods) {
  const auto& keymap = KEYMAP();
  auto found = keymap.find(text::toLower(key));
  if (found == keymap.end()) return false;
  const std::uint64_t flags = keyFlags(mods);
  platform::EventPoster& events = os.events();
  if (!events.postKey({found->second, true, flags, {}})) return false;
  os.clock().sleepMicros(KEY_HOLD_MICROS);
  // The key must come up even though its down was the only one that counted.
  return events.postKey({found->second, false, flags, {}});
}

void typeUnicode(platform::Platform& os, std::string_view text) {
  const std::u16string units = text::toUtf16(text);
  platform::EventPoster& events = os.events();
  std::size_t start = 0;
  while (start < units.size()) {
    std::size_t end = std::min(start + UNICODE_CHUNK_UNITS, units.size());
    // A surrogate pair is never split between two events: the chunk ends
    // one unit early instead.
    if (end < units.size() && end - start > 1 && U16_IS_LEAD(units[end - 1])) --end;
    const std::u16string chunk = units.substr(start, end - start);
    if (events.postKey({0, true, 0, chunk})) {
      os.clock().sleepMicros(UNICODE_PAUSE_MICROS);
      events.postKey({0, false, 0, chunk});
      os.clock().sleepMicros(UNICODE_PAUSE_MICROS);
    }
    start = end;
  }
}

std::vector<std::string> modNames(std::uint64_t flags) {
  std::vector<std::string> names;
  for (const ModifierName& entry : CANONICAL_MODIFIERS) {
    if (flags & entry.mask) names.emplace_back(entry.name);
  }
  return names;
}

std::string keyLabel(const std::vector<std::string>& mods, std::string_view key) {
  std::string label;
  for (const auto& [name, sign] : MODIFIER_SIGNS) {
    if (std::find(mods.begin(), mods.end(), name) != mods.end()) label += sign;
  }
  for (const KeyLabelRow& row : KEY_LABELS) {
    if (row.key == key) return label + std::string(row.label);
  }
  return label + text::toUpper(key);
}

}  // namespace kelp::input
