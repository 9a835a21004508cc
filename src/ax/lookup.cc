#include "ax/lookup.h"

#include <vector>

#include "ax/attributes.h"
#include "ax/node.h"
#include "text/text.h"

namespace kelp::ax {
namespace {

constexpr int WINDOW_SEARCH_LIMIT = 12;
constexpr int NAMED_ANCESTOR_LIMIT = 6;

// Ordinary applications first, so one wins over a background process of the same name.
std::vector<platform::RunningApp> candidates(platform::Platform& os) {
  std::vector<platform::RunningApp> all = os.workspace().runningApplications();
  std::vector<platform::RunningApp> ordered;
  ordered.reserve(all.size());
  for (const auto& app : all) {
    if (app.policy == platform::ActivationPolicy::regular) ordered.push_back(app);
  }
  for (const auto& app : all) {
    if (app.policy != platform::ActivationPolicy::regular) ordered.push_back(app);
  }
  return ordered;
}

std::optional<platform::RunningApp> findApp(platform::Platform& os, const std::optional<std::string>& name,
                                            const std::optional<std::int64_t>& pid) {
  const std::vector<platform::RunningApp> apps = candidates(os);
  if (pid) {
    for (const auto& app : apps) {
      if (app.pid == *pid) return app;
    }
    return std::nullopt;
  }
  if (name && !name->empty()) {
    const std::string q = text::toLower(*name);
    auto lowerName = [](const platform::RunningApp& app) { return text::toLower(app.name.value_or("")); };
    for (const auto& app : apps) {
      if (text::canonicallyEqual(lowerName(app), q)) return app;
    }
    for (const auto& app : apps) {
      if (text::canonicallyEqual(text::toLower(app.bundleId.value_or("")), q)) return app;
    }
    for (const auto& app : apps) {
      if (text::canonicallyContains(lowerName(app), q)) return app;
    }
    return std::nullopt;
  }
  return os.workspace().frontmostApplication();
}

bool isWindowOrApplication(const std::string& role) { return role == "AXWindow" || role == "AXApplication"; }

std::optional<platform::Element> parentOf(platform::Accessibility& ax, const platform::Element& element) {
  platform::Value parent = attr(ax, element, "AXParent");
  if (auto* found = parent.as<platform::Element>()) return *found;
  return std::nullopt;
}

}  // namespace

std::optional<AppPair> appElement(platform::Platform& os, const std::optional<std::string>& name,
                                  const std::optional<std::int64_t>& pid) {
  std::optional<platform::RunningApp> app = findApp(os, name, pid);
  if (!app) return std::nullopt;
  return AppPair{os.accessibility().applicationElement(app->pid), *app};
}

std::optional<platform::Element> elementAt(platform::Platform& os, const platform::Element& systemWide,
                                           platform::Point point, std::optional<platform::Pid> fallbackPid) {
  platform::Accessibility& ax = os.accessibility();
  const auto x = static_cast<float>(point.x);
  const auto y = static_cast<float>(point.y);
  if (auto hit = ax.elementAtPosition(systemWide, x, y)) return hit;
  if (!fallbackPid) return std::nullopt;
  return ax.elementAtPosition(ax.applicationElement(*fallbackPid), x, y);
}

std::string ownerName(platform::Platform& os, const platform::Element& element) {
  std::optional<platform::Pid> pid = os.accessibility().pidOf(element);
  if (!pid) return "";
  std::optional<platform::RunningApp> app = os.workspace().applicationWithPid(*pid);
  return app ? app->name.value_or("") : "";
}

std::optional<platform::Element> focusedElement(platform::Platform& os) {
  std::optional<platform::RunningApp> front = os.workspace().frontmostApplication();
  if (!front) return std::nullopt;
  platform::Accessibility& ax = os.accessibility();
  platform::Value focused = attr(ax, ax.applicationElement(front->pid), "AXFocusedUIElement");
  if (auto* element = focused.as<platform::Element>()) return *element;
  return std::nullopt;
}

std::optional<platform::Element> focusedOrFirstWindow(platform::Accessibility& ax, const platform::Element& application) {
  const platform::Value focused = attr(ax, application, "AXFocusedWindow");
  if (auto* window = focused.as<platform::Element>()) return *window;
  const std::vector<platform::Element> windows = elementsOf(attr(ax, application, "AXWindows"));
  if (!windows.empty()) return windows.front();
  return std::nullopt;
}

std::string windowTitleOf(platform::Accessibility& ax, const platform::Element& element) {
  platform::Element current = element;
  for (int examined = 1; examined <= WINDOW_SEARCH_LIMIT; ++examined) {
    if (str(ax, current, "AXRole") == "AXWindow") return str(ax, current, "AXTitle");
    if (examined == WINDOW_SEARCH_LIMIT) break;
    std::optional<platform::Element> parent = parentOf(ax, current);
    if (!parent) break;
    current = *parent;
  }
  platform::Value window = attr(ax, element, "AXWindow");
  if (auto* found = window.as<platform::Element>()) return str(ax, *found, "AXTitle");
  return "";
}

platform::Element namedAncestor(platform::Accessibility& ax, const platform::Element& element) {
  if (isWindowOrApplication(str(ax, element, "AXRole"))) return element;
  std::optional<platform::Element> remembered;
  platform::Element current = element;
  for (int examined = 1;; ++examined) {
    const std::string role = str(ax, current, "AXRole");
    const bool named = !text::firstGraphemes(labelFull(ax, current), LABEL_CLIP).empty() ||
                       !str(ax, current, "AXIdentifier").empty();
    if (named && isInteractive(role)) return current;
    if (named && !remembered) remembered = current;
    if (examined >= NAMED_ANCESTOR_LIMIT) break;
    std::optional<platform::Element> parent = parentOf(ax, current);
    if (!parent || isWindowOrApplication(str(ax, *parent, "AXRole"))) break;
    current = *parent;
  }
  return remembered.value_or(element);
}

}  // namespace kelp::ax
