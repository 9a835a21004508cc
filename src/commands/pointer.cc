#include "commands/pointer.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "capture/capture.h"
#include "common/fields.h"
#include "common/roles.h"
#include "common/messages.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "locate/safety.h"

namespace kelp::commands {
namespace {

// How far up from what the hit test gives the gate looks for a button that
// pays: a toolkit may answer with the text inside the button.
constexpr int GATE_ANCESTOR_LEVELS = 4;

struct PointerAction {
  std::string_view name;
  int clicks;    // 0: not a click
  bool presses;  // what the gate weighs as a click
};
constexpr std::array<PointerAction, 10> ACTIONS = {{
    {"move", 0, false},
    {"click", 1, true},
    {"doubleclick", 2, true},
    {"tripleclick", 3, true},
    {"rightclick", 1, true},
    {"middleclick", 1, true},
    {"down", 0, true},
    {"up", 0, true},
    {"drag", 0, false},
    {"scroll", 0, false},
}};

const PointerAction* actionNamed(std::string_view name) {
  for (const PointerAction& action : ACTIONS) {
    if (action.name == name) return &action;
  }
  return nullptr;
}

std::optional<input::Button> buttonNamed(std::string_view name) {
  if (name == "left") return input::Button::left;
  if (name == "right") return input::Button::right;
  if (name == "middle") return input::Button::middle;
  return std::nullopt;
}

bool onSomeDisplay(platform::Platform& os, platform::Point point) {
  const std::optional<std::vector<platform::CaptureDisplay>> displays = os.capture().displays();
  // Where the displays cannot be asked, the desktop has the last word.
  if (!displays || displays->empty()) return true;
  return std::any_of(displays->begin(), displays->end(),
                     [&](const platform::CaptureDisplay& display) { return capture::displayHolds(display, point); });
}

// Whether a press at what the hit test gave must be refused: the element
// itself, or a button around it, that pays.
bool gateRefusesPressAt(Context& context, const platform::Element& hit) {
  platform::Accessibility& ax = context.os.accessibility();
  const locate::GateStep step{.kind = locate::GateStep::Kind::elementAction, .action = "click"};
  std::optional<platform::Element> element = hit;
  for (int level = 0; element && level <= GATE_ANCESTOR_LEVELS; ++level) {
    const std::string role = ax::str(ax, *element, "AXRole");
    if (level == 0 || contains(PRESSABLE, role)) {
      const platform::Element reached = *element;
      if (locate::gateRefuses(context.globals.safety, [&] { return locate::gateTarget(ax, reached); }, step)) {
        return true;
      }
    }
    const platform::Value parent = ax.copyAttribute(*element, "AXParent");
    const platform::Element* next = parent.as<platform::Element>();
    element = next && *next ? std::optional<platform::Element>(*next) : std::nullopt;
  }
  return false;
}

Json elementJson(Context& context, const platform::Element& element) {
  platform::Accessibility& ax = context.os.accessibility();
  return {{"role", ax::str(ax, element, "AXRole")},
          {"label", ax::label(ax, element)},
          {"app", ax::ownerName(context.os, element)}};
}

}  // namespace

void pointer(Context& context, const Request& request) {
  const Json& body = request.body;
  const PointerAction* action = actionNamed(stringField(body, "action", "click"));
  if (!action) {
    context.replies.fail(request.id, messages::unknownAction);
    return;
  }
  const std::optional<double> x = optionalNumberField(body, "x");
  const std::optional<double> y = optionalNumberField(body, "y");
  const bool drags = action->name == "drag";
  const std::optional<double> toX = optionalNumberField(body, "toX");
  const std::optional<double> toY = optionalNumberField(body, "toY");
  if (!x || !y || (drags && (!toX || !toY))) {
    context.replies.fail(request.id, messages::badPoint);
    return;
  }
  // A picture's pixels are turned into points where they lie.
  std::optional<platform::Point> at = platform::Point{*x, *y};
  std::optional<platform::Point> to;
  if (drags) to = platform::Point{*toX, *toY};
  if (std::optional<std::int64_t> image = integerField(body, "image")) {
    const std::vector<capture::Placement>& shown = context.lasting.shownPictures;
    if (*image < 0 || *image >= static_cast<std::int64_t>(shown.size())) {
      context.replies.fail(request.id, messages::noSuchPicture);
      return;
    }
    const capture::Placement& placement = shown[static_cast<std::size_t>(*image)];
    at = capture::pointInPicture(placement, *x, *y);
    if (drags) to = capture::pointInPicture(placement, *toX, *toY);
  } else if (body.contains("image") && !body["image"].is_null()) {
    context.replies.fail(request.id, messages::noSuchPicture);
    return;
  }
  if (!at || (drags && !to) || !onSomeDisplay(context.os, *at) || (to && !onSomeDisplay(context.os, *to))) {
    context.replies.fail(request.id, messages::pointOffScreen);
    return;
  }
  const std::optional<input::Button> button = buttonNamed(stringField(body, "button", "left"));
  if (!button) {
    context.replies.fail(request.id, messages::unknownAction);
    return;
  }
  const double dx = numberField(body, "dx", 0);
  const double dy = numberField(body, "dy", 0);
  if (action->name == "scroll" && !input::scrollDeltasUsable(dx, dy)) {
    context.replies.fail(request.id, messages::badScrollAmount);
    return;
  }

  Json result;
  result["x"] = at->x;
  result["y"] = at->y;
  if (to) {
    result["toX"] = to->x;
    result["toY"] = to->y;
  }
  const std::optional<platform::Element> hit =
      context.os.accessibility().isTrusted() ? ax::elementAt(context.os, context.globals.systemWide, *at, std::nullopt)
                                             : std::nullopt;
  if (hit) result["element"] = elementJson(context, *hit);
  if (action->presses && hit && gateRefusesPressAt(context, *hit)) {
    result["done"] = false;
    context.replies.resultWithError(request.id, false, std::move(result), messages::blockedBySafety);
    return;
  }

  const std::uint64_t flags = input::keyFlags(stringListField(body, "mods"));
  bool done = true;
  const std::string_view name = action->name;
  if (name == "move") {
    done = input::movePointer(context.os, *at);
  } else if (action->clicks > 0) {
    const input::Button which = name == "rightclick"    ? input::Button::right
                                : name == "middleclick" ? input::Button::middle
                                                        : input::Button::left;
    done = input::clickButton(context.os, *at, which, action->clicks, flags);
  } else if (name == "down" || name == "up") {
    done = input::pressButton(context.os, *at, *button, name == "down", flags);
  } else if (name == "drag") {
    done = input::dragMouse(context.os, *at, *to);
  } else {
    done = input::scrollAt(context.os, *at, dx, dy);
  }
  result["done"] = done;
  context.replies.resultWithoutError(request.id, done, std::move(result));
}

}  // namespace kelp::commands
