#include "input/actions.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include "ax/lookup.h"
#include "ax/node.h"
#include "input/activation.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "input/text_entry.h"
#include "common/messages.h"
#include "text/text.h"

namespace kelp::input {
namespace {

ActionResult done(const ax::Node& node) { return {true, node.label}; }
ActionResult refused(std::string_view message) { return {false, std::string(message)}; }

// How long the pointer rests on a control before it clicks.
constexpr std::int64_t AIM_PAUSE_MICROS = 60000;
// How long a click's or a selection's effect may take to show.
constexpr std::int64_t EFFECT_WAIT_MICROS = 500000;
constexpr std::int64_t EFFECT_STEP_MICROS = 50000;
// How long after a pointer click that followed an unanswered press the
// change is looked at again.
constexpr std::int64_t SECOND_LOOK_MICROS = 200000;
// How far up the hit test's answer may lie inside the element and still be
// a part of it; and how far up the element may lie inside the answer, which
// toolkits that hit-test one level at a time (LibreOffice) stop at early.
constexpr int PART_LEVELS = 8;
constexpr int CONTAINER_LEVELS = 32;

// What a reader can see a click change on an element. An element that no
// longer tells its role is gone (or its application is): that is no change
// to see.
struct ClickState {
  std::string role;
  std::optional<bool> selected;
  std::optional<bool> focused;
  std::optional<bool> expanded;
  std::string value;
  friend bool operator==(const ClickState&, const ClickState&) = default;
};

std::optional<bool> flag(platform::Accessibility& ax, const platform::Element& element, const char* name) {
  const platform::Value value = ax.copyAttribute(element, name);
  if (const bool* set = value.as<bool>()) return *set;
  return std::nullopt;
}

ClickState observe(platform::Accessibility& ax, const platform::Element& element) {
  return {ax::str(ax, element, "AXRole"), flag(ax, element, "AXSelected"), flag(ax, element, "AXFocused"),
          flag(ax, element, "AXExpanded"), ax::str(ax, element, "AXValue")};
}

// Reads the element until `done` holds of what it shows, for a while.
bool awaitEffect(platform::Platform& os, const platform::Element& element,
                 const std::function<bool(const ClickState&)>& done) {
  for (std::int64_t waited = 0;; waited += EFFECT_STEP_MICROS) {
    if (done(observe(os.accessibility(), element))) return true;
    if (waited >= EFFECT_WAIT_MICROS) return false;
    os.clock().sleepMicros(EFFECT_STEP_MICROS);
  }
}

// Items that a person's click selects: rows of lists, trees and tables, and
// their cells.
bool selectsOnClick(std::string_view role) { return role == "AXRow" || role == "AXCell"; }
// Controls whose click shows in their value or state: what is checked,
// chosen or opened.
bool togglesOnClick(std::string_view role) {
  return role == "AXCheckBox" || role == "AXRadioButton" || role == "AXDisclosureTriangle";
}

bool related(platform::Accessibility& ax, const platform::Element& inner, const platform::Element& outer, int levels) {
  platform::Element current = inner;
  for (int level = 0; level <= levels && current; ++level) {
    if (current == outer) return true;
    const platform::Value parent = ax.copyAttribute(current, "AXParent");
    const platform::Element* next = parent.as<platform::Element>();
    current = next ? *next : platform::Element();
  }
  return false;
}

// Toolkits that make an object each time one is asked for (a spreadsheet's
// cells) answer a hit test with another object for the same control: the
// same role and name under the same parent.
bool sameControl(platform::Accessibility& ax, const platform::Element& hit, const ax::Node& node) {
  if (ax::str(ax, hit, "AXRole") != node.role || ax::label(ax, hit) != node.label) return false;
  const platform::Value hitParent = ax.copyAttribute(hit, "AXParent");
  const platform::Value nodeParent = ax.copyAttribute(node.el, "AXParent");
  const platform::Element* a = hitParent.as<platform::Element>();
  const platform::Element* b = nodeParent.as<platform::Element>();
  return a && b && *a == *b;
}

// Whether a pointer click at `point` reaches the element rather than
// something in front of it (a dialog the press opened): the hit test finds
// the element, a part of it, or what it is a part of. Where nothing answers
// the hit test, the click goes ahead as it would without it.
bool pointerReaches(platform::Platform& os, const ax::Node& node, platform::Point point) {
  platform::Accessibility& ax = os.accessibility();
  const std::optional<platform::Element> hit = ax::elementAt(os, ax.systemWide(), point, ax.pidOf(node.el));
  if (!hit) return true;
  return related(ax, *hit, node.el, PART_LEVELS) || related(ax, node.el, *hit, CONTAINER_LEVELS) ||
         sameControl(ax, *hit, node);
}

// A person's click: the pointer goes to the element's centre, and then
// clicks where the element is now. LibreOffice tells places 25 points off
// until the pointer first moves over its window; a person's eye follows
// the control, and the element's place is read again once the pointer came.
void aimAndClick(platform::Platform& os, const ax::Node& node, platform::Point center) {
  os.events().postMouse({platform::eventType::mouseMoved, center, 0, 0});
  os.clock().sleepMicros(AIM_PAUSE_MICROS);
  ax::Node now = node;
  now.frame = ax::frameOf(os.accessibility(), node.el);
  if (const std::optional<platform::Point> moved = centerOf(now); moved && now.frame != node.frame) center = *moved;
  mouseClick(os, center, 1, {});
}

// A person's click at the element's centre, where it reaches the element,
// and whether it had the effect that `done` looks for. Without a point, or
// with something else in front, the click is not made.
std::optional<bool> clickAndSee(platform::Platform& os, const ax::Node& node,
                                const std::function<bool(const ClickState&)>& done) {
  const std::optional<platform::Point> center = centerOf(node);
  if (!center || !pointerReaches(os, node, *center)) return std::nullopt;
  aimAndClick(os, node, *center);
  return awaitEffect(os, node.el, done);
}

// An item is selected as a person's click selects it, which is also what
// makes a list or a tree show the item's page; through the selection where
// the pointer cannot reach it or does not select it. A spreadsheet's cell
// takes the focus (its cursor) rather than the selection.
ActionResult selectItem(platform::Platform& os, const ax::Node& node) {
  const auto chosen = [](const ClickState& state) { return state.selected == true || state.focused == true; };
  if (clickAndSee(os, node, chosen) == true) return done(node);
  if (os.accessibility().setAttribute(node.el, "AXSelected", true) && awaitEffect(os, node.el, chosen)) {
    return done(node);
  }
  return refused(messages::notPressable);
}

// A check box, radio button, tab or disclosure, whose click shows: pressed,
// and clicked by the pointer where the press showed no change (or first,
// where a press would hold the application); a change the helper can see
// and does not is a failure.
ActionResult toggle(platform::Platform& os, const ax::Node& node) {
  platform::Accessibility& ax = os.accessibility();
  const ClickState before = observe(ax, node.el);
  const auto changed = [&](const ClickState& state) { return !state.role.empty() && !(state == before); };
  if (ax.pressHoldsApplication(node.el)) {
    if (const std::optional<bool> clicked = clickAndSee(os, node, changed)) {
      return *clicked ? done(node) : refused(messages::notPressable);
    }
  }
  const bool pressed = ax.performAction(node.el, "AXPress");
  if (pressed && awaitEffect(os, node.el, changed)) return done(node);
  if (const std::optional<bool> clicked = clickAndSee(os, node, changed)) {
    if (!*clicked) return refused(messages::notPressable);
    // A busy application can take the press in just as the click goes in,
    // and the click then takes it back: the change must still show.
    os.clock().sleepMicros(SECOND_LOOK_MICROS);
    return changed(observe(ax, node.el)) ? done(node) : refused(messages::notPressable);
  }
  // Something else stands in front, or there is no point: a press that went
  // through may have done its work there.
  if (pressed) return done(node);
  if (ax.setAttribute(node.el, "AXSelected", true)) return done(node);
  return refused(messages::notPressable);
}

ActionResult click(platform::Platform& os, const ax::Node& node) {
  platform::Accessibility& ax = os.accessibility();
  if (selectsOnClick(node.role) && flag(ax, node.el, "AXSelected") == false) return selectItem(os, node);
  if (togglesOnClick(node.role)) return toggle(os, node);
  // Where a press would hold the application, a person's click presses.
  if (ax.pressHoldsApplication(node.el)) {
    const std::optional<platform::Point> center = centerOf(node);
    if (center && pointerReaches(os, node, *center)) {
      aimAndClick(os, node, *center);
      return done(node);
    }
  }
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

// The field holds exactly `text` afterwards, or the failure says it does not.
ActionResult type(platform::Platform& os, const ax::Node& node, const std::string& text) {
  platform::Accessibility& ax = os.accessibility();
  platform::Clock& clock = os.clock();
  const bool secure = node.role == "AXSecureTextField";
  const auto landed = [&](const std::string& value) { return textLanded(value, text, secure); };
  ax.setAttribute(node.el, "AXFocused", true);
  ax.setAttribute(node.el, "AXValue", text);
  clock.sleepMicros(TYPE_CHECK_PAUSE_MICROS);
  if (landed(ax::str(ax, node.el, "AXValue"))) return done(node);

  // The field ignored the write, or made something else of it: put the
  // cursor in it, select what it holds, and type over that.
  if (auto pid = ax.pidOf(node.el)) {
    if (auto app = os.workspace().applicationWithPid(*pid)) {
      if (!activateFront(os, *app, ACTIVATE_TIMEOUT_MS)) return refused(messages::typeCannotActivate);
    }
  }
  ax.performAction(node.el, "AXPress");
  clock.sleepMicros(TYPE_PRESS_PAUSE_MICROS);
  selectWholeText(os, node.el);
  typeUnicode(os, text);
  clock.sleepMicros(TYPE_SETTLE_MICROS);
  if (awaitLanding(os, node.el, landed).landed) return done(node);
  return refused(messages::textDidNotLand);
}

// The items below a list, combo box or tab group that a choice can name.
constexpr std::int64_t CHOICE_WALK_LIMIT = 300;
constexpr std::size_t CHOICES_NAMED = 12;
constexpr std::int64_t POPUP_OPEN_MICROS = 300000;

bool labelMeans(const std::string& shown, const std::string& wanted) {
  return text::canonicallyEqual(text::toLower(text::trim(shown)), text::toLower(text::trim(wanted)));
}

// What shows that `item` is the choice of `owner`: the item selected, or
// the owner (a combo box) showing its label as its value.
bool chosen(platform::Accessibility& ax, const ax::Node& owner, const ax::Node& item) {
  return flag(ax, item.el, "AXSelected") == true || labelMeans(ax::str(ax, owner.el, "AXValue"), item.label);
}

ActionResult choose(platform::Platform& os, const locate::SafetyPatterns& safety, const ax::Node& owner,
                    const std::string& wanted) {
  platform::Accessibility& ax = os.accessibility();
  const auto findItem = [&]() -> std::optional<ax::Node> {
    std::vector<ax::Node> items = ax::walk(ax, owner.el, CHOICE_WALK_LIMIT);
    for (std::size_t i = 1; i < items.size(); ++i) {
      if (labelMeans(items[i].label, wanted)) return items[i];
    }
    return std::nullopt;
  };
  std::optional<ax::Node> item = findItem();
  if (!item) {
    std::string named;
    std::size_t count = 0;
    for (const ax::Node& node : ax::walk(ax, owner.el, CHOICE_WALK_LIMIT)) {
      if (node.el == owner.el || node.label.empty() || count == CHOICES_NAMED) continue;
      named += (count++ ? ", " : "") + node.label;
    }
    return refused(std::string(messages::menuTitleOpen) + wanted + std::string(messages::itemNotFound) + named);
  }
  // Choosing an item that pays presses it.
  const locate::GateStep press{.kind = locate::GateStep::Kind::elementAction, .action = "click"};
  if (locate::gateRefuses(safety, [&] { return locate::gateTarget(*item); }, press)) {
    return refused(messages::blockedBySafety);
  }
  const auto isChosen = [&](const ClickState&) { return chosen(ax, owner, *item); };
  if (chosen(ax, owner, *item)) return done(owner);
  if (ax.setAttribute(item->el, "AXSelected", true) && awaitEffect(os, item->el, isChosen)) return done(owner);
  // As a person chooses: the list opened, then the item clicked.
  if (!chosen(ax, owner, *item)) {
    click(os, owner);
    os.clock().sleepMicros(POPUP_OPEN_MICROS);
    if (std::optional<ax::Node> shown = findItem()) {
      click(os, *shown);
      if (awaitEffect(os, owner.el, isChosen)) return done(owner);
    }
    // Whatever stayed open is closed again.
    if (ax::str(ax, owner.el, "AXExpanded") == "true") pressKey(os, "escape", {});
  }
  return chosen(ax, owner, *item) ? done(owner) : refused(messages::selectionDidNotTake);
}

// A slider or spin button holds the number afterwards, as read back.
ActionResult setNumber(platform::Platform& os, const ax::Node& node, const std::string& text) {
  platform::Accessibility& ax = os.accessibility();
  const std::vector<double> numbers = numbersIn(text);
  if (numbers.empty()) return refused(messages::notANumber);
  const double wanted = numbers.front();
  if (!ax.setAttribute(node.el, "AXValue", wanted)) return refused(messages::valueNotSettable);
  std::string shown;
  const auto holds = [&](const ClickState& state) {
    shown = state.value;
    const std::vector<double> now = numbersIn(state.value);
    return std::any_of(now.begin(), now.end(), [&](double number) {
      return std::fabs(number - wanted) <= 1e-9 * std::max(1.0, std::fabs(wanted));
    });
  };
  if (awaitEffect(os, node.el, holds)) return done(node);
  return refused(std::string(messages::valueDidNotTake) + " (" + shown + ")");
}

}  // namespace

ActionResult doAction(platform::Platform& os, const locate::SafetyPatterns& safety, const ax::Node& node,
                      std::string_view action, const std::string& text, const std::vector<std::string>& mods) {
  // A value written into a field is typed into it, as far as the gate goes.
  const locate::GateStep step{
      .kind = locate::GateStep::Kind::elementAction, .action = action == "setvalue" ? "type" : action, .text = text};
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
  if (action == "select") return choose(os, safety, node, text);
  if (action == "setvalue") return setNumber(os, node, text);
  return refused(messages::unknownAction);
}

}  // namespace kelp::input
