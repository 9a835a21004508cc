#include "commands/menu.h"

#include <optional>
#include <string>
#include <vector>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "input/activation.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "locate/safety.h"
#include "menu/menu.h"
#include "common/fields.h"
#include "common/messages.h"

namespace kelp::commands {
namespace {

constexpr std::int64_t AFTER_PRESS_MICROS = 350000;
// How long an opened menu may take to show its items on screen.
constexpr std::int64_t SHOW_WAIT_MICROS = 1500000;
constexpr std::int64_t SHOW_STEP_MICROS = 50000;
// How long a chosen item's menu may take to close.
constexpr std::int64_t CLOSE_WAIT_MICROS = 1000000;

// Clicks `item` at its centre once it shows on screen; false when it does
// not show in time.
bool clickWhenShown(Context& context, const platform::Element& item) {
  platform::Accessibility& ax = context.os.accessibility();
  for (std::int64_t waited = 0; waited < SHOW_WAIT_MICROS; waited += SHOW_STEP_MICROS) {
    const std::optional<ax::Frame> frame = ax::frameOf(ax, item);
    if (frame && frame->w > 0 && frame->h > 0) {
      input::mouseClick(context.os, {frame->x + frame->w / 2, frame->y + frame->h / 2}, 1, {});
      return true;
    }
    context.os.clock().sleepMicros(SHOW_STEP_MICROS);
  }
  return false;
}

// Whether a clicked item's menu closed, as a chosen item's does: a click
// that landed elsewhere (on an item above it, or beside the menu) leaves it
// showing.
bool menuClosedAfterClick(Context& context, const platform::Element& item) {
  platform::Accessibility& ax = context.os.accessibility();
  for (std::int64_t waited = 0; waited < CLOSE_WAIT_MICROS; waited += SHOW_STEP_MICROS) {
    const std::optional<ax::Frame> frame = ax::frameOf(ax, item);
    if (!frame || frame->w <= 0 || frame->h <= 0) return true;
    context.os.clock().sleepMicros(SHOW_STEP_MICROS);
  }
  return false;
}

// Opens the levels above the item as a person does, where pressing through
// accessibility would hold the application (a dialog an item opens runs
// inside the call): each clicked open once it shows. A menu opened by an
// accessibility press instead leaves LibreOffice's menu bar holding the
// keyboard after the choice. False when a level does not show in time; the
// levels opened by then stay open.
bool openByPointer(Context& context, const menu::FollowResult& followed) {
  for (std::size_t i = 0; i + 1 < followed.levels.size(); ++i) {
    if (!clickWhenShown(context, followed.levels[i])) return false;
    context.os.clock().sleepMicros(menu::OPEN_LEVEL_PAUSE_MICROS);
  }
  return true;
}

}  // namespace

void menu(Context& context, const Request& request) {
  std::optional<ax::AppPair> target = targetOrFail(context, request);
  if (!target) return;
  input::activateFront(context.os, target->app);
  platform::Accessibility& ax = context.os.accessibility();
  const platform::Value barValue = ax::attr(ax, target->element, "AXMenuBar");
  const platform::Element* bar = barValue.as<platform::Element>();
  if (!bar) {
    context.replies.fail(request.id, messages::noMenuBar);
    return;
  }
  const std::vector<std::string> path = stringListField(request.body, "path");
  const bool list = booleanField(request.body, "list").value_or(path.empty());

  // Escape closes what the walk opened, once, and never after a choice.
  const menu::FollowResult followed = menu::menuFollow(context.os, *bar, path);
  auto closeOpened = [&] {
    if (followed.opened) input::pressKey(context.os, "escape", {});
  };
  if (followed.error) {
    closeOpened();
    context.replies.fail(request.id, *followed.error);
    return;
  }
  const std::string appName = target->app.name.value_or("");
  if (list) {
    Json items = menu::menuList(ax, followed.node, path.empty());
    closeOpened();
    context.replies.succeed(request.id, {{"app", appName}, {"done", false}, {"items", std::move(items)}});
    return;
  }
  const locate::GateStep choice{.kind = locate::GateStep::Kind::menuChoice};
  if (locate::gateRefuses(context.globals.safety, [&] { return locate::gateTarget(ax, followed.node); }, choice)) {
    closeOpened();
    context.replies.resultWithError(request.id, false,
                                    {{"app", appName}, {"done", false}, {"label", ax::label(ax, followed.node)}},
                                    messages::blockedBySafety);
    return;
  }
  const auto greyedOut = [&] {
    const std::string last = path.empty() ? std::string() : path.back();
    context.replies.fail(request.id,
                         std::string(messages::menuTitleOpen) + last + std::string(messages::menuDisabled));
  };
  const auto escapeLevels = [&] {
    for (std::size_t level = 1; level < followed.levels.size(); ++level) input::pressKey(context.os, "escape", {});
  };
  bool pressed = false;
  if (ax.pressHoldsApplication(followed.node) && followed.levels.size() >= 2) {
    if (openByPointer(context, followed)) {
      // LibreOffice tells which items are greyed out as their menu opens.
      if (!ax::boolAttr(ax, followed.node, "AXEnabled", true)) {
        escapeLevels();
        greyedOut();
        return;
      }
      pressed = clickWhenShown(context, followed.node);
      if (pressed && !menuClosedAfterClick(context, followed.node)) {
        // The click missed: whatever it opened or left open is closed, and
        // the choice is not tried again another way, which might choose twice.
        escapeLevels();
        closeOpened();
        context.replies.resultWithError(request.id, false,
                                        {{"app", appName}, {"done", false}, {"label", ax::label(ax, followed.node)}},
                                        messages::menuNotPressed);
        return;
      }
    }
    if (!pressed) escapeLevels();
  }
  if (!pressed && !ax::boolAttr(ax, followed.node, "AXEnabled", true)) {
    closeOpened();
    greyedOut();
    return;
  }
  if (!pressed) pressed = ax.performAction(followed.node, "AXPress");
  if (!pressed) closeOpened();
  context.os.clock().sleepMicros(AFTER_PRESS_MICROS);
  context.replies.resultWithError(request.id, pressed,
                                  {{"app", appName}, {"done", pressed}, {"label", ax::label(ax, followed.node)}},
                                  pressed ? std::nullopt : std::optional(messages::menuNotPressed));
}

}  // namespace kelp::commands
