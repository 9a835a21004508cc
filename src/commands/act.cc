#include "commands/act.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ax/lookup.h"
#include "ax/node.h"
#include "input/actions.h"
#include "input/activation.h"
#include "input/mouse.h"
#include "locate/locator.h"
#include "commands/scope.h"
#include "common/fields.h"
#include "common/messages.h"
#include "text/text.h"

namespace kelp::commands {
namespace {

constexpr std::int64_t ACT_WALK_LIMIT = 400;
constexpr std::int64_t AFTER_LOOK_PAUSE_MICROS = 450000;
constexpr std::size_t MAX_APPEARED = 12;
constexpr std::size_t APPEARED_VALUE_CLIP = 60;

std::string seenKey(const ax::Node& node) { return node.role + "|" + node.label; }

std::optional<ax::Node> nodeAt(const std::vector<ax::Node>& nodes, const Json& body, const char* field) {
  std::optional<std::int64_t> index = integerField(body, field);
  if (!index || *index < 0 || *index >= static_cast<std::int64_t>(nodes.size())) return std::nullopt;
  return nodes[static_cast<std::size_t>(*index)];
}

std::optional<locate::Locator> locatorField(const Json& body, const char* field) {
  const Json* locator = objectField(body, field);
  if (!locator) return std::nullopt;
  return locate::readLocator(*locator);
}

Json appearedEntry(const ax::Node& node, std::size_t ref) {
  Json entry;
  entry["ref"] = ref;
  entry["role"] = node.role;
  entry["label"] = node.label;
  if (!node.value.empty()) entry["value"] = text::firstGraphemes(node.value, APPEARED_VALUE_CLIP);
  return entry;
}

void replyFound(Context& context, const Request& request, const ax::Node& target) {
  context.replies.succeed(request.id, {{"found", true}, {"label", target.label}});
}

}  // namespace

void act(Context& context, const Request& request) {
  platform::Accessibility& ax = context.os.accessibility();
  std::optional<ax::AppPair> target = targetOrFail(context, request);
  if (!target) return;
  input::activateFront(context.os, target->app);

  const Json& body = request.body;
  const std::optional<locate::Locator> locator = locatorField(body, "locator");
  // The walk after the action covers what the walk before it covered, so
  // that "appeared" compares like with like: the request's window, else the
  // locator's, else the whole application.
  const WalkScope scope = readWalkScope(body);
  // As far as the "tree" whose refs the request uses walked, where it says.
  const std::int64_t limit = std::max(integerField(body, "max").value_or(ACT_WALK_LIMIT), std::int64_t{1});
  std::optional<std::vector<ax::Node>> narrowed;
  if (!scope.window) narrowed = locate::narrowToWindow(ax, target->element, locator);
  const bool byLocatorWindow = narrowed.has_value();
  const auto walkCovered = [&]() -> std::vector<ax::Node> {
    if (byLocatorWindow) return locate::narrowToWindow(ax, target->element, locator).value_or(std::vector<ax::Node>{});
    return walkScope(ax, target->element, scope, limit).value_or(std::vector<ax::Node>{});
  };
  const std::vector<ax::Node> nodes = narrowed ? std::move(*narrowed) : walkCovered();
  const std::string action = stringField(body, "action", "click");
  const std::string text = stringField(body, "text", "");

  std::optional<ax::Node> element = nodeAt(nodes, body, "ref");
  if (!element && locator) element = locate::resolve(nodes, *locator);
  if (!element) {
    context.replies.succeed(request.id, {{"found", false}});
    return;
  }
  std::set<std::string> before;
  for (const ax::Node& node : nodes) before.insert(seenKey(node));

  if (action == "scroll" || action == "drag") {
    const std::optional<platform::Point> from = input::centerOf(*element);
    if (!from) {
      context.replies.fail(request.id, messages::noPosition);
      return;
    }
    const double dx = numberField(body, "dx", 0);
    const double dy = numberField(body, "dy", 0);
    if (action == "scroll") {
      // Amounts that no wheel event can carry are refused rather than cut.
      if (!input::scrollDeltasUsable(dx, dy)) {
        context.replies.fail(request.id, messages::badScrollAmount);
        return;
      }
      input::scrollAt(context.os, *from, dx, dy);
      replyFound(context, request, *element);
      return;
    }
    std::optional<platform::Point> to;
    if (auto destination = nodeAt(nodes, body, "toRef")) to = input::centerOf(*destination);
    if (!to) {
      to = platform::Point{from->x + dx, from->y + dy};
      if (auto toLocator = locatorField(body, "toLocator")) {
        if (auto destination = locate::resolve(nodes, *toLocator)) {
          if (auto point = input::centerOf(*destination)) to = point;
        }
      }
    }
    input::dragMouse(context.os, *from, *to);
    replyFound(context, request, *element);
    return;
  }

  const input::ActionResult outcome =
      input::doAction(context.os, context.globals.safety, *element, action, text, stringListField(body, "mods"));
  Json result;
  result["found"] = true;
  result["label"] = outcome.message;
  if (outcome.ok) {
    context.os.clock().sleepMicros(AFTER_LOOK_PAUSE_MICROS);
    const std::vector<ax::Node> after = walkCovered();
    Json appeared = Json::array();
    for (std::size_t i = 0; i < after.size() && appeared.size() < MAX_APPEARED; ++i) {
      if (!before.count(seenKey(after[i]))) appeared.push_back(appearedEntry(after[i], i));
    }
    if (!appeared.empty()) result["appeared"] = std::move(appeared);
  }
  context.replies.resultWithError(request.id, outcome.ok, std::move(result),
                                  outcome.ok ? std::nullopt : std::optional<std::string_view>(outcome.message));
}

}  // namespace kelp::commands
