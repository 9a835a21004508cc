#include "commands/windows.h"

#include <cmath>
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

// How far a window may land from where it was asked to, in points: window
// managers round to their own grid.
constexpr double PLACEMENT_SLACK = 4;
constexpr std::int64_t PLACEMENT_WAIT_MICROS = 1000000;
constexpr std::int64_t PLACEMENT_STEP_MICROS = 50000;

bool near(double a, double b) { return std::abs(a - b) <= PLACEMENT_SLACK; }

// Whether the window took the place asked, or at least moved or resized (a
// window manager keeps a window above its minimum size, or on screen),
// within a second.
bool awaitPlacement(platform::Platform& os, const platform::Element& window,
                                        const std::optional<ax::Frame>& before,
                                        const std::map<std::string, double>& asked, bool move, bool resize) {
  const auto placed = [&](const ax::Frame& now) {
    const bool moved = move && near(now.x, asked.at("x")) && near(now.y, asked.at("y"));
    const bool resized = resize && near(now.w, asked.at("w")) && near(now.h, asked.at("h"));
    const bool changed = before && !(near(now.x, before->x) && near(now.y, before->y) && near(now.w, before->w) &&
                                     near(now.h, before->h));
    return changed || ((!move || moved) && (!resize || resized));
  };
  for (std::int64_t waited = 0;; waited += PLACEMENT_STEP_MICROS) {
    const std::optional<ax::Frame> now = ax::frameOf(os.accessibility(), window);
    // A window whose place is not told cannot be seen to stay.
    if (!now || placed(*now)) return true;
    if (waited >= PLACEMENT_WAIT_MICROS) return false;
    os.clock().sleepMicros(PLACEMENT_STEP_MICROS);
  }
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
  const bool move = has("x") && has("y");
  const bool resize = has("w") && has("h") && frame.at("w") > 0 && frame.at("h") > 0;
  const std::optional<ax::Frame> before = ax::frameOf(ax, *found);
  bool taken = true;
  if (move) taken = ax.setAttribute(*found, "AXPosition", platform::Point{frame.at("x"), frame.at("y")}) && taken;
  if (resize) taken = ax.setAttribute(*found, "AXSize", platform::Size{frame.at("w"), frame.at("h")}) && taken;
  // A window that did not go where it was asked is not reported as placed.
  if (!taken) {
    context.replies.fail(request.id, messages::windowPlacementRefused);
    return;
  }
  Json result = {{"found", true}};
  if (move || resize) {
    if (!awaitPlacement(context.os, *found, before, frame, move, resize)) {
      context.replies.fail(request.id, messages::windowDidNotMove);
      return;
    }
    // Where the window is now, which may differ from the frame asked.
    if (const std::optional<ax::Frame> now = ax::frameOf(ax, *found)) {
      result["frame"] = {{"x", now->x}, {"y", now->y}, {"w", now->w}, {"h", now->h}};
    }
  }
  context.replies.succeed(request.id, std::move(result));
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
