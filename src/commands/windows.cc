#include "commands/windows.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "input/activation.h"
#include "common/fields.h"
#include "common/messages.h"

namespace kelp::commands {
namespace {

// "frame" as numbers by key; a frame holding anything but numbers counts as
// empty as a whole.
std::map<std::string, double> readFrame(const Json& body) {
  std::map<std::string, double> frame;
  const Json* given = objectField(body, "frame");
  if (!given) return frame;
  for (const auto& [key, value] : given->items()) {
    if (!value.is_number()) return {};
    frame[key] = value.get<double>();
  }
  return frame;
}

}  // namespace

void windowTitles(Context& context, const Request& request) {
  Json windows = Json::array();
  const platform::Pid self = context.os.process().ownPid();
  if (auto list = context.os.windowList().onScreenWindows()) {
    for (const platform::WindowInfo& info : *list) {
      if (!info.ownerName) continue;
      if (!info.ownerPid || *info.ownerPid < INT32_MIN || *info.ownerPid > INT32_MAX || *info.ownerPid == self) continue;
      if (!info.name || info.name->empty()) continue;
      if (info.layer && *info.layer != 0) continue;
      windows.push_back({{"app", *info.ownerName}, {"pid", *info.ownerPid}, {"title", *info.name}});
    }
  }
  context.replies.succeed(request.id, {{"windows", std::move(windows)}});
}

void window(Context& context, const Request& request) {
  std::optional<ax::AppPair> target = targetOrFail(context, request);
  if (!target) return;
  input::activateFront(context.os, target->app);
  platform::Accessibility& ax = context.os.accessibility();
  std::optional<platform::Element> found = ax::focusedOrFirstWindow(ax, target->element);
  if (!found) {
    context.replies.succeed(request.id, {{"found", false}});
    return;
  }
  const std::map<std::string, double> frame = readFrame(request.body);
  auto has = [&](const char* key) { return frame.count(key) > 0; };
  if (has("x") && has("y")) ax.setAttribute(*found, "AXPosition", platform::Point{frame.at("x"), frame.at("y")});
  if (has("w") && has("h") && frame.at("w") > 0 && frame.at("h") > 0) {
    ax.setAttribute(*found, "AXSize", platform::Size{frame.at("w"), frame.at("h")});
  }
  context.replies.succeed(request.id, {{"found", true}});
}

void activate(Context& context, const Request& request) {
  if (std::optional<ax::AppPair> target = ax::appElement(context.os, request.app, request.pid)) {
    input::activateFront(context.os, target->app);
    context.replies.succeed(request.id, {{"name", target->app.name.value_or("")}});
    return;
  }
  if (request.app && !request.app->empty() && input::launchApp(context.os, *request.app)) {
    context.replies.succeed(request.id, {{"name", *request.app}, {"launched", true}});
    return;
  }
  context.replies.fail(request.id, messages::appNotFound);
}

}  // namespace kelp::commands
