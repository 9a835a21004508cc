#include "input/activation.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

#include "ax/attributes.h"
#include "ax/lookup.h"

namespace kelp::input {
namespace {

// How often the launch wait looks at the completion flag. The wait goes
// through the clock so that it is exact on a simulated desktop.
constexpr std::int64_t LAUNCH_POLL_MICROS = 10000;

std::optional<std::string> applicationPath(platform::Workspace& workspace, const std::string& named) {
  if (auto path = workspace.applicationPathForBundleId(named)) return path;
  const platform::ApplicationFolders installed = workspace.applicationFolders();
  for (const std::string& folder : installed.folders) {
    std::string candidate = folder + "/" + named + installed.suffix;
    if (workspace.fileExists(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

bool activateFront(platform::Platform& os, const platform::RunningApp& app, std::int64_t timeoutMs) {
  platform::Workspace& workspace = os.workspace();
  if (workspace.isActive(app.pid)) return true;
  platform::Accessibility& ax = os.accessibility();
  const platform::Element application = ax.applicationElement(app.pid);
  ax.setAttribute(application, "AXFrontmost", true);
  if (auto window = ax::focusedOrFirstWindow(ax, application)) {
    ax.performAction(*window, "AXRaise");
    ax.setAttribute(*window, "AXMain", true);
  }
  workspace.activate(app.pid);
  for (std::int64_t elapsed = 0; elapsed < timeoutMs; elapsed += ACTIVATE_POLL_MS) {
    if (workspace.isActive(app.pid)) break;
    os.clock().sleepMicros(ACTIVATE_POLL_MS * 1000);
  }
  return workspace.isActive(app.pid);
}

bool launchApp(platform::Platform& os, const std::string& named) {
  platform::Workspace& workspace = os.workspace();
  const std::optional<std::string> path = applicationPath(workspace, named);
  if (!path) return false;

  // Shared with the completion, which may come from another thread and
  // after this call returned.
  struct Outcome {
    std::atomic<bool> arrived{false};
    std::atomic<bool> opened{false};
  };
  auto outcome = std::make_shared<Outcome>();
  workspace.openApplication(*path, [outcome](bool ok) {
    outcome->opened = ok;
    outcome->arrived = true;
  });
  platform::Clock& clock = os.clock();
  const std::int64_t deadline = clock.nowMicros() + LAUNCH_WAIT_MICROS;
  while (!outcome->arrived && clock.nowMicros() < deadline) {
    clock.sleepMicros(std::min(LAUNCH_POLL_MICROS, deadline - clock.nowMicros()));
  }
  clock.sleepMicros(LAUNCH_SETTLE_MICROS);
  return outcome->opened;
}

}  // namespace kelp::input
