#include "commands/info.h"

#include <cmath>
#include <limits>

namespace kelp::commands {
namespace {

// The window server withholds other applications' window names from a
// process that may not record the screen, so seeing one proves the permission.
bool canSeeOtherWindowNames(platform::Platform& os) {
  auto windows = os.windowList().onScreenWindows();
  if (!windows) return false;
  const platform::Pid self = os.process().ownPid();
  for (const platform::WindowInfo& window : *windows) {
    if (!window.ownerPid || !window.hasName) continue;
    std::int64_t pid = *window.ownerPid;
    if (pid < std::numeric_limits<std::int32_t>::min() || pid > std::numeric_limits<std::int32_t>::max()) continue;
    if (pid != self) return true;
  }
  return false;
}

// Screen geometry is reported in whole points, truncated toward zero.
std::int64_t whole(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<std::int64_t>(std::trunc(value));
}

}  // namespace

void doctor(Context& context, const Request& request) {
  platform::Platform& os = context.os;
  std::string helperPath;
  if (auto path = os.process().executablePath()) {
    helperPath = *path;
  } else if (!context.globals.args.empty()) {
    helperPath = context.globals.args.front();
  }
  Json result;
  result["accessibility"] = os.accessibility().isTrusted();
  result["screen"] = canSeeOtherWindowNames(os);
  result["helperPath"] = helperPath;
  result["pid"] = os.process().ownPid();
  // What this desktop lets the helper do at all, so that a caller can tell
  // a refusal from a fault before asking.
  const platform::Capabilities offers = os.capabilities();
  result["desktop"] = {{"session", offers.session ? offers.session : ""},
                       {"input", offers.keyboardEvents && offers.mouseEvents},
                       {"capture", offers.screenCapture},
                       {"windows", offers.windowList},
                       {"windowFrames", offers.windowFrames},
                       {"recording", offers.eventTap}};
  if (offers.compositor && *offers.compositor) result["desktop"]["compositor"] = offers.compositor;
  if (!offers.setupNeeded.empty()) result["desktop"]["setup"] = offers.setupNeeded;
  context.replies.succeed(request.id, std::move(result));
}

void prompt(Context& context, const Request& request) {
  Json result;
  result["accessibility"] = context.os.accessibility().promptForTrust();
  context.replies.succeed(request.id, std::move(result));
}

void displays(Context& context, const Request& request) {
  Json list = Json::array();
  int index = 0;
  for (const platform::Screen& screen : context.os.screens().screens()) {
    Json entry;
    entry["index"] = index++;
    entry["w"] = whole(screen.w);
    entry["h"] = whole(screen.h);
    entry["x"] = whole(screen.x);
    entry["y"] = whole(screen.y);
    entry["main"] = screen.main;
    list.push_back(std::move(entry));
  }
  Json result;
  result["displays"] = std::move(list);
  context.replies.succeed(request.id, std::move(result));
}

void apps(Context& context, const Request& request) {
  Json list = Json::array();
  for (const platform::RunningApp& app : context.os.workspace().runningApplications()) {
    if (app.policy != platform::ActivationPolicy::regular) continue;
    Json entry;
    entry["name"] = app.name.value_or("");
    entry["bundleId"] = app.bundleId.value_or("");
    entry["pid"] = app.pid;
    entry["front"] = app.active;
    list.push_back(std::move(entry));
  }
  Json result;
  result["apps"] = std::move(list);
  context.replies.succeed(request.id, std::move(result));
}

void selftest(Context& context, const Request& request) {
  std::unique_ptr<selftest::SelfTest>& selfTest = context.lasting.selfTest;
  if (!selfTest) selfTest = std::make_unique<selftest::SelfTest>(context.os, context.globals.safety);
  context.replies.succeed(request.id, selfTest->run());
}

void ping(Context& context, const Request& request) {
  Json result;
  result["pong"] = true;
  context.replies.succeed(request.id, std::move(result));
}

}  // namespace kelp::commands
