#include "recorder/records.h"

#include <algorithm>
#include <array>

#include "input/keyboard.h"
#include "text/text.h"

namespace kelp::recorder {
namespace {

constexpr std::array<std::string_view, 8> NAVIGATION_KEYS = {"up",   "down", "left",   "right",
                                                             "home", "end",  "pageup", "pagedown"};

std::string textOrEmpty(const Json& record, const char* key) {
  auto it = record.find(key);
  return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string droppedKeyLine(std::uint16_t code, const std::optional<std::string>& name,
                           const std::vector<std::string>& mods, std::string_view reason) {
  std::string joined;
  for (const std::string& mod : mods) {
    if (!joined.empty()) joined += "+";
    joined += mod;
  }
  return "code=" + std::to_string(code) + " name=" + name.value_or("?") + " mods=" + joined + " \u2014 " +
         std::string(reason);
}

std::vector<std::string> recentLabels(const Json& events, std::size_t count) {
  std::vector<std::string> labels;
  if (!events.is_array()) return labels;
  for (auto it = events.rbegin(); it != events.rend() && labels.size() < count; ++it) {
    const auto label = it->find("label");
    const std::string text = label != it->end() && label->is_string() ? label->get<std::string>()
                                                                       : textOrEmpty(*it, "value");
    if (!text.empty()) labels.push_back(text::firstGraphemes(text, RECENT_LABEL_CLIP));
  }
  std::reverse(labels.begin(), labels.end());
  return labels;
}

std::optional<std::string> keyNameForCode(std::uint16_t code) {
  for (const auto& [name, keyCode] : input::KEYMAP()) {
    if (keyCode == code) return name;
  }
  return std::nullopt;
}

bool isNavigationKey(std::string_view name) {
  return std::find(NAVIGATION_KEYS.begin(), NAVIGATION_KEYS.end(), name) != NAVIGATION_KEYS.end();
}

}  // namespace kelp::recorder
