// Reading a walk's scope from a request, and walking it.
#include "commands/scope.h"

#include "ax/attributes.h"
#include "common/fields.h"
#include "locate/locator.h"

namespace kelp::commands {

WalkScope readWalkScope(const Json& body) {
  WalkScope scope;
  if (std::optional<std::string> window = stringField(body, "window"); window && !window->empty()) {
    scope.window = std::move(window);
  }
  scope.menus = booleanField(body, "menus").value_or(true);
  return scope;
}

std::optional<ScopeRoot> scopeRoot(platform::Accessibility& ax, const platform::Element& application,
                                   const WalkScope& scope) {
  if (!scope.window) return ScopeRoot{application, ""};
  const std::optional<platform::Element> window = *scope.window == FRONT_WINDOW
                                                      ? locate::frontWindow(ax, application)
                                                      : locate::windowTitled(ax, application, *scope.window);
  if (!window) return std::nullopt;
  // The window's own path, so that its records' paths are those a walk of
  // the whole application gives them.
  const std::vector<platform::Element> children = ax::elementsOf(ax::attr(ax, application, "AXChildren"));
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (children[i] == *window) {
      return ScopeRoot{*window, "/" + ax::str(ax, *window, "AXRole") + "[" + std::to_string(i) + "]"};
    }
  }
  return ScopeRoot{*window, ""};
}

std::optional<std::vector<ax::Node>> walkScope(platform::Accessibility& ax, const platform::Element& application,
                                               const WalkScope& scope, std::int64_t max) {
  const std::optional<ScopeRoot> root = scopeRoot(ax, application, scope);
  if (!root) return std::nullopt;
  return ax::walk(ax, root->element, max, {.closedMenus = scope.menus, .rootPath = root->path});
}

}  // namespace kelp::commands
