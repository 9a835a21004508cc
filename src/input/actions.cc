#include "input/actions.h"

#include "input/activation.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "common/messages.h"
#include "text/text.h"

namespace kelp::input {
namespace {

ActionResult done(const ax::Node& node) { return {true, node.label}; }
ActionResult refused(std::string_view message) { return {false, std::string(message)}; }

bool valueContains(platform::Accessibility& ax, const platform::Element& element, const std::string& text) {
  return text.empty() || text::canonicallyContains(ax::str(ax, element, "AXValue"), text);
}

ActionResult click(platform::Platform& os, const ax::Node& node) {
  platform::Accessibility& ax = os.accessibility();
  if (ax.performAction(node.el, "AXPress")) return done(node);
  if (auto center = centerOf(node)) {
    mouseClick(os, *center, 1, {});
    return done(node);
  }
  if (ax.setAttribute(node.el, "AXSelected", true)) return done(node);
  return refused(messages::notPressable);
}

ActionResult rightClickAction(platform::Platform& os, const ax::Node& node) {
  if (os.accessibility().performAction(node.el, "AXShowMenu")) return done(node);
  auto center = centerOf(node);
  if (!center) return refused(messages::noPosition);
  rightClick(os, *center);
  return done(node);
}

ActionResult type(platform::Platform& os, const ax::Node& node, const std::string& text) {
  platform::Accessibility& ax = os.accessibility();
  platform::Clock& clock = os.clock();
  ax.setAttribute(node.el, "AXFocused", true);
  ax.setAttribute(node.el, "AXValue", text);
  clock.sleepMicros(TYPE_CHECK_PAUSE_MICROS);
  if (valueContains(ax, node.el, text)) return done(node);

  // The field ignored the write: put the cursor in it and type instead.
  if (auto pid = ax.pidOf(node.el)) {
    if (auto app = os.workspace().applicationWithPid(*pid)) {
      if (!activateFront(os, *app, ACTIVATE_TIMEOUT_MS)) return refused(messages::typeCannotActivate);
    }
  }
  ax.performAction(node.el, "AXPress");
  clock.sleepMicros(TYPE_PRESS_PAUSE_MICROS);
  typeUnicode(os, text);
  clock.sleepMicros(TYPE_SETTLE_MICROS);
  if (valueContains(ax, node.el, text)) return done(node);
  return refused(messages::textDidNotLand);
}

}  // namespace

ActionResult doAction(platform::Platform& os, const locate::SafetyPatterns& safety, const ax::Node& node,
                      std::string_view action, const std::string& text, const std::vector<std::string>& mods) {
  const locate::GateStep step{.kind = locate::GateStep::Kind::elementAction, .action = action, .text = text};
  if (locate::gateRefuses(safety, [&] { return locate::gateTarget(node); }, step)) {
    return refused(messages::blockedBySafety);
  }
  const bool leftClick = action == "click" || action == "doubleclick";
  if (!mods.empty() && leftClick) {
    auto center = centerOf(node);
    if (!center) return refused(messages::noPosition);
    mouseClick(os, *center, action == "doubleclick" ? 2 : 1, mods);
    return done(node);
  }
  if (action == "click") return click(os, node);
  if (action == "rightclick") return rightClickAction(os, node);
  if (action == "doubleclick") {
    auto center = centerOf(node);
    if (!center) return refused(messages::noPosition);
    mouseClick(os, *center, 2, {});
    return done(node);
  }
  if (action == "type") return type(os, node, text);
  if (action == "focus") return {os.accessibility().setAttribute(node.el, "AXFocused", true), node.label};
  return refused(messages::unknownAction);
}

}  // namespace kelp::input
