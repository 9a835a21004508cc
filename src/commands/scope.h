// Which part of an application "tree", "find" and "act" walk: the whole
// application, or one window ("window": a title, or "front" for the window
// in front, a dialog while one is open), with or without the items of
// menus that are closed ("menus"). Refs count in the walk of a scope, so
// an "act" finds a ref of a "tree" that gave the same fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ax/node.h"
#include "common/json.h"
#include "platform/platform.h"

namespace kelp::commands {

inline constexpr std::string_view FRONT_WINDOW = "front";

struct WalkScope {
  std::optional<std::string> window;  // none: the whole application
  bool menus = true;
};

// "window" (a string that is not empty) and "menus" (a boolean).
WalkScope readWalkScope(const Json& body);

// The element a scope walks from, with its path in the application; none
// when the scope names a window the application does not have.
struct ScopeRoot {
  platform::Element element;
  std::string path;
};
std::optional<ScopeRoot> scopeRoot(platform::Accessibility& ax, const platform::Element& application,
                                   const WalkScope& scope);

// The records of the scope, with paths from the application; none when the
// scope names a window the application does not have.
std::optional<std::vector<ax::Node>> walkScope(platform::Accessibility& ax, const platform::Element& application,
                                               const WalkScope& scope, std::int64_t max);

}  // namespace kelp::commands
