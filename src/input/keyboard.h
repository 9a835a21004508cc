// The key names of requests and recordings, and keyboard input synthesised
// from them: one key with modifiers, or arbitrary text as Unicode events.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kelp::input {

// Key name (lower case) to macOS virtual key code.
const std::map<std::string, std::uint16_t, std::less<>>& KEYMAP();

// Key names that are keys rather than characters, for the recorder.
const std::set<std::string, std::less<>>& NAMED_KEYS();

// Pause between the down and the up of a pressed key.
inline constexpr std::int64_t KEY_HOLD_MICROS = 20000;
// Unicode events carry at most this many UTF-16 units each.
inline constexpr std::size_t UNICODE_CHUNK_UNITS = 16;
inline constexpr std::int64_t UNICODE_PAUSE_MICROS = 6000;

// Presses and releases the named key with the named modifiers as flags.
// False when the name is no key name or an event could not be posted.
bool pressKey(platform::Platform& os, std::string_view key, const std::vector<std::string>& mods);

// Types `text` at the keyboard focus in chunks of at most 16 UTF-16 units.
void typeUnicode(platform::Platform& os, std::string_view text);

// The names of the modifiers in `flags`: cmd, shift, alt, ctrl in that order.
std::vector<std::string> modNames(std::uint64_t flags);

// A compact label such as ⇧⌘S for a key and its modifiers.
std::string keyLabel(const std::vector<std::string>& mods, std::string_view key);

// The modifier flags of a mods list as pressKey reads it: any case, with the
// long synonyms.
std::uint64_t keyFlags(const std::vector<std::string>& mods);

}  // namespace kelp::input
