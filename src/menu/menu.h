// Walking an application's menus by a path of titles, the way a person picks
// File, then Export: forgiving case, spacing and ellipses, opening a level
// by pressing it when its items are not exposed yet, and listing a level.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "common/json.h"

namespace kelp::menu {

inline constexpr std::int64_t OPEN_LEVEL_PAUSE_MICROS = 300000;
inline constexpr std::size_t MAX_LISTED_ITEMS = 60;
inline constexpr std::size_t MAX_TITLES_IN_MESSAGE = 40;

// The selectable children of a menu bar (isBar) or of a menu item.
std::vector<platform::Element> menuChildren(platform::Accessibility& ax, const platform::Element& element,
                                            bool isBar);

// The item `title` designates: an exact match without regard to case, else
// a loose one that also ignores ellipses and white space.
std::optional<platform::Element> pickMenu(platform::Accessibility& ax, const std::vector<platform::Element>& items,
                                          std::string_view title);

struct FollowResult {
  platform::Element node;            // the element reached, or where the walk stopped
  std::vector<platform::Element> levels;  // the item picked at each step, the last being `node`
  bool opened = false;               // some level had to be opened by pressing
  std::optional<std::string> error;  // why the walk stopped
};

FollowResult menuFollow(platform::Platform& os, const platform::Element& bar, const std::vector<std::string>& path);

// The titled items under `element`, at most 60, as the agent sees them.
Json menuList(platform::Accessibility& ax, const platform::Element& element, bool isBar);

}  // namespace kelp::menu
