#include "commands/wait.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "ax/node.h"
#include "commands/node_json.h"
#include "common/fields.h"
#include "common/messages.h"
#include "common/roles.h"
#include "locate/locator.h"
#include "text/text.h"

namespace kelp::commands {
namespace {

// As far as "act" walks by default, so that what "wait" sees "act" reaches.
constexpr std::int64_t WAIT_WALK_LIMIT = 400;

constexpr std::array<std::string_view, 5> ELEMENT_CONDITIONS = {"present", "absent", "enabled", "focused", "value"};
constexpr std::array<std::string_view, 2> WINDOW_CONDITIONS = {"present", "absent"};

std::int64_t clampedMillis(const Json& body, const char* field, std::int64_t fallback) {
  return std::clamp(integerField(body, field).value_or(fallback), std::int64_t{0}, MAX_WAIT_MILLIS);
}

// One round's look, and what it found to show.
struct Look {
  bool met = false;
  std::optional<Json> element;
};

// Polls `look` until it is met or `timeoutMillis` passed, the last look at
// the deadline; replies either way.
void pollUntil(Context& context, const Request& request, std::int64_t timeoutMillis,
               const std::function<Look()>& look) {
  platform::Clock& clock = context.os.clock();
  const std::int64_t start = clock.nowMicros();
  const std::int64_t deadline = start + timeoutMillis * 1000;
  Look seen;
  while (true) {
    seen = look();
    const std::int64_t now = clock.nowMicros();
    if (seen.met || now >= deadline) break;
    clock.sleepMicros(std::min(WAIT_POLL_MICROS, deadline - now));
  }
  Json result;
  result["met"] = seen.met;
  result["waitedMs"] = (clock.nowMicros() - start) / 1000;
  if (seen.met && seen.element) result["element"] = std::move(*seen.element);
  context.replies.succeed(request.id, std::move(result));
}

Look lookForElement(Context& context, const platform::Element& application, const locate::Locator& locator,
                    const std::string& until, const std::string& wanted) {
  platform::Accessibility& ax = context.os.accessibility();
  std::vector<ax::Node> nodes;
  if (locator.window && !locator.window->empty()) {
    // Only the named window, and nothing while it is not there.
    if (std::optional<platform::Element> window = locate::windowTitled(ax, application, *locator.window)) {
      nodes = ax::walk(ax, *window, WAIT_WALK_LIMIT);
    }
  } else {
    nodes = ax::walk(ax, application, WAIT_WALK_LIMIT);
  }
  const std::optional<ax::Node> found = locate::resolve(nodes, locator);
  if (until == "absent") return {!found, std::nullopt};
  if (!found) return {};
  bool met = true;
  if (until == "enabled") {
    met = found->enabled;
  } else if (until == "focused") {
    const std::optional<platform::Element> focused = ax::focusedElement(context.os);
    met = ax::boolAttr(ax, found->el, "AXFocused", false) || (focused && *focused == found->el);
  } else if (until == "value") {
    // The whole value, not the walk's clipped one.
    met = text::canonicallyContains(ax::str(ax, found->el, "AXValue"), wanted);
  }
  if (!met) return {};
  const auto ref = std::find_if(nodes.begin(), nodes.end(), [&](const ax::Node& node) { return node.el == found->el; });
  return {true, nodeJson(*found, ref - nodes.begin())};
}

bool windowShows(Context& context, const std::optional<ax::AppPair>& app, const std::string& title) {
  if (std::optional<std::vector<platform::WindowInfo>> windows = context.os.windowList().onScreenWindows()) {
    return std::any_of(windows->begin(), windows->end(), [&](const platform::WindowInfo& window) {
      if (app && window.ownerPid != app->app.pid) return false;
      return window.name && locate::titleMatches(*window.name, title);
    });
  }
  // Without a window list, the application's own word.
  return app && locate::windowTitled(context.os.accessibility(), app->element, title).has_value();
}

}  // namespace

void wait(Context& context, const Request& request) {
  const Json& body = request.body;
  const std::int64_t timeout = clampedMillis(body, "timeout", DEFAULT_WAIT_MILLIS);
  const std::string until = stringField(body, "until", "present");
  const Json* locatorBody = objectField(body, "locator");
  const std::optional<std::string> window = stringField(body, "window");

  if (locatorBody) {
    if (!contains(ELEMENT_CONDITIONS, until)) {
      context.replies.fail(request.id, messages::badWaitCondition);
      return;
    }
    const std::string wanted = stringField(body, "text", "");
    if (until == "value" && wanted.empty()) {
      context.replies.fail(request.id, messages::waitValueNeedsText);
      return;
    }
    if (!context.os.accessibility().isTrusted()) {
      context.replies.fail(request.id, messages::noAccessibility);
      return;
    }
    const locate::Locator locator = locate::readLocator(*locatorBody);
    // An application that is still starting shows nothing yet: agents wait
    // for the first window of what they just launched.
    pollUntil(context, request, timeout, [&]() -> Look {
      const std::optional<ax::AppPair> target = ax::appElement(context.os, request.app, request.pid);
      if (!target) return {until == "absent", std::nullopt};
      return lookForElement(context, target->element, locator, until, wanted);
    });
    return;
  }
  if (window && !window->empty()) {
    if (!contains(WINDOW_CONDITIONS, until)) {
      context.replies.fail(request.id, messages::badWaitCondition);
      return;
    }
    const bool wantShown = until == "present";
    const bool anyApp = !request.app && !request.pid;
    pollUntil(context, request, timeout, [&] {
      const std::optional<ax::AppPair> target =
          anyApp ? std::nullopt : ax::appElement(context.os, request.app, request.pid);
      const bool shown = (anyApp || target) && windowShows(context, target, *window);
      return Look{shown == wantShown, std::nullopt};
    });
    return;
  }
  // A plain pause: met once it is over.
  platform::Clock& clock = context.os.clock();
  const std::int64_t start = clock.nowMicros();
  clock.sleepMicros(clampedMillis(body, "ms", 0) * 1000);
  context.replies.succeed(request.id, {{"met", true}, {"waitedMs", (clock.nowMicros() - start) / 1000}});
}

}  // namespace kelp::commands
