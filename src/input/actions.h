// One named action on one resolved element: the accessibility way first,
// synthesised input where the element does not cooperate, and a check that
// typed text really arrived.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ax/node.h"
#include "locate/safety.h"
#include "platform/platform.h"

namespace kelp::input {

struct ActionResult {
  bool ok = false;
  std::string message;  // the element's label on success, else the reason
};

inline constexpr std::int64_t TYPE_CHECK_PAUSE_MICROS = 60000;
inline constexpr std::int64_t TYPE_PRESS_PAUSE_MICROS = 120000;
inline constexpr std::int64_t TYPE_SETTLE_MICROS = 200000;

// `action` is one of "click", "doubleclick", "rightclick", "type", "focus",
// "select" (the item of a list, combo box or tab group labelled `text`) and
// "setvalue" (a slider's or spin button's number, `text`), compared exactly.
// `text` is also for "type", `mods` for the two left clicks.
ActionResult doAction(platform::Platform& os, const locate::SafetyPatterns& safety, const ax::Node& node,
                      std::string_view action, const std::string& text, const std::vector<std::string>& mods = {});

}  // namespace kelp::input
