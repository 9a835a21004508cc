#include "locate/locator.h"

#include <algorithm>

#include "ax/attributes.h"
#include "common/fields.h"
#include "text/text.h"

namespace kelp::locate {
namespace {

constexpr std::int64_t WINDOW_WALK_LIMIT = 400;

}  // namespace

Locator readLocator(const Json& locator) {
  Locator fields;
  if (!locator.is_object()) return fields;
  fields.identifier = stringField(locator, "identifier");
  fields.role = stringField(locator, "role");
  fields.label = stringField(locator, "label");
  fields.path = stringField(locator, "path");
  fields.window = stringField(locator, "window");
  fields.nth = integerField(locator, "nth");
  return fields;
}

int score(const ax::Node& node, const Locator& locator) {
  int points = 0;
  if (locator.identifier && !locator.identifier->empty() && text::canonicallyEqual(*locator.identifier, node.identifier)) {
    points = IDENTIFIER_POINTS;
  }
  if (locator.role && text::canonicallyEqual(*locator.role, node.role)) points += ROLE_POINTS;
  if (locator.label && !locator.label->empty()) {
    const std::string& q = *locator.label;
    if (text::canonicallyEqual(q, node.label)) {
      points += EXACT_LABEL_POINTS;
    } else if (text::canonicallyContains(node.label, q) || text::canonicallyContains(q, node.label)) {
      points += PARTIAL_LABEL_POINTS;
    }
  }
  if (locator.path && text::canonicallyEqual(*locator.path, node.path)) points += PATH_POINTS;
  return points;
}

std::optional<ax::Node> resolve(const std::vector<ax::Node>& nodes, const Locator& locator) {
  int bestScore = 0;
  std::vector<const ax::Node*> tied;
  for (const ax::Node& node : nodes) {
    const int s = score(node, locator);
    if (s > bestScore) {
      bestScore = s;
      tied.assign(1, &node);
    } else if (s == bestScore && bestScore > 0) {
      tied.push_back(&node);
    }
  }
  if (bestScore < ACCEPTANCE_THRESHOLD) return std::nullopt;
  // Among equals what shows comes first: pages of a dialog visited earlier
  // keep their hidden fields of the same names, which no one means.
  std::stable_partition(tied.begin(), tied.end(), [](const ax::Node* node) { return node->frame.has_value(); });
  // A negative "nth" takes the first best node, like one past the ties.
  if (tied.size() >= 2 && locator.nth && *locator.nth >= 0 &&
      *locator.nth < static_cast<std::int64_t>(tied.size())) {
    return *tied[static_cast<std::size_t>(*locator.nth)];
  }
  return *tied.front();
}

std::optional<platform::Element> windowTitled(platform::Accessibility& ax, const platform::Element& applicationElement,
                                              const std::string& title) {
  const std::vector<platform::Element> windows = ax::elementsOf(ax::attr(ax, applicationElement, "AXWindows"));
  for (const auto& window : windows) {
    if (text::canonicallyEqual(ax::str(ax, window, "AXTitle"), title)) return window;
  }
  for (const auto& window : windows) {
    if (titleMatches(ax::str(ax, window, "AXTitle"), title)) return window;
  }
  return std::nullopt;
}

bool titleMatches(const std::string& shown, const std::string& title) {
  if (text::canonicallyEqual(shown, title)) return true;
  return !shown.empty() && (text::canonicallyContains(shown, title) || text::canonicallyContains(title, shown));
}

std::optional<platform::Element> frontWindow(platform::Accessibility& ax, const platform::Element& applicationElement) {
  const platform::Value focused = ax.copyAttribute(applicationElement, "AXFocusedWindow");
  if (const platform::Element* window = focused.as<platform::Element>()) return *window;
  const std::vector<platform::Element> windows = ax::elementsOf(ax::attr(ax, applicationElement, "AXWindows"));
  if (windows.empty()) return std::nullopt;
  return windows.back();
}

std::optional<std::vector<ax::Node>> narrowToWindow(platform::Accessibility& ax,
                                                    const platform::Element& applicationElement,
                                                    const std::optional<Locator>& locator) {
  if (!locator || !locator->window || locator->window->empty()) return std::nullopt;
  const std::optional<platform::Element> chosen = windowTitled(ax, applicationElement, *locator->window);
  if (!chosen) return std::nullopt;
  std::vector<ax::Node> nodes = ax::walk(ax, *chosen, WINDOW_WALK_LIMIT);
  if (nodes.empty()) return std::nullopt;
  return nodes;
}

}  // namespace kelp::locate
