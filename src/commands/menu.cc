#include "commands/menu.h"

#include <optional>
#include <string>
#include <vector>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "input/activation.h"
#include "input/keyboard.h"
#include "locate/safety.h"
#include "menu/menu.h"
#include "common/fields.h"
#include "common/messages.h"

namespace kelp::commands {
namespace {

constexpr std::int64_t AFTER_PRESS_MICROS = 350000;

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
  if (!ax::boolAttr(ax, followed.node, "AXEnabled", true)) {
    closeOpened();
    const std::string last = path.empty() ? std::string() : path.back();
    context.replies.fail(request.id,
                         std::string(messages::menuTitleOpen) + last + std::string(messages::menuDisabled));
    return;
  }
  const bool pressed = ax.performAction(followed.node, "AXPress");
  if (!pressed) closeOpened();
  context.os.clock().sleepMicros(AFTER_PRESS_MICROS);
  context.replies.resultWithError(request.id, pressed,
                                  {{"app", appName}, {"done", pressed}, {"label", ax::label(ax, followed.node)}},
                                  pressed ? std::nullopt : std::optional(messages::menuNotPressed));
}

}  // namespace kelp::commands
