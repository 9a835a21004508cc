// The recorder's decisions that need nothing but values: the notes on keys
// left out, the labels that summarise a recording, and which key a code is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json.h"

namespace kelp::recorder {

// Why a key press was not recorded.
namespace reason {
inline constexpr std::string_view typing = "글자 입력";
inline constexpr std::string_view unknownKey = "표에 없는 키";
inline constexpr std::string_view arrowInField = "글자 칸 안의 화살표";
inline constexpr std::string_view ignoredApp = "브라우저가 맡음";
}  // namespace reason

inline constexpr std::size_t DROPPED_KEYS_LIMIT = 30;
inline constexpr std::size_t RECENT_LABEL_CLIP = 40;

// "code=<code> name=<name or ?> mods=<a+b> — <reason>"
std::string droppedKeyLine(std::uint16_t code, const std::optional<std::string>& name,
                           const std::vector<std::string>& mods, std::string_view reason);

// Up to `count` labels of the latest records, oldest first, each cut to 40
// characters: a record's "label", or its "value" where it has no label.
std::vector<std::string> recentLabels(const Json& events, std::size_t count);

// The key name of a macOS virtual key code, as the key map names it.
std::optional<std::string> keyNameForCode(std::uint16_t code);

// The eight keys that move the caret inside a text field.
bool isNavigationKey(std::string_view name);

}  // namespace kelp::recorder
