#include "menu/menu.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "ax/attributes.h"
#include "common/messages.h"
#include "text/text.h"

namespace kelp::menu {
namespace {

// Menus are matched and listed by the clipped label, as the agent sees it.
std::string titleOf(platform::Accessibility& ax, const platform::Element& element) { return ax::label(ax, element); }

// Lower case, without "…", "..." or any white space.
std::string loose(std::string_view name) {
  std::string lower = text::toLower(name);
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(lower);
  text.findAndReplace(icu::UnicodeString(static_cast<UChar32>(0x2026)), icu::UnicodeString());
  text.findAndReplace(icu::UnicodeString("...", -1, icu::UnicodeString::kInvariant), icu::UnicodeString());
  icu::UnicodeString kept;
  for (int32_t i = 0; i < text.length();) {
    const UChar32 c = text.char32At(i);
    if (!u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) kept.append(c);
    i = text.moveIndex32(i, 1);
  }
  std::string result;
  kept.toUTF8String(result);
  return result;
}

std::string notFoundMessage(platform::Accessibility& ax, std::string_view title,
                            const std::vector<platform::Element>& kids) {
  std::string message = std::string(messages::menuTitleOpen) + std::string(title) + std::string(messages::menuNotFound);
  std::size_t listed = 0;
  for (const platform::Element& kid : kids) {
    if (listed == MAX_TITLES_IN_MESSAGE) break;
    std::string kidTitle = titleOf(ax, kid);
    if (kidTitle.empty()) continue;
    if (listed++) message += " \u00b7 ";
    message += kidTitle;
  }
  return message;
}

}  // namespace

std::vector<platform::Element> menuChildren(platform::Accessibility& ax, const platform::Element& element,
                                            bool isBar) {
  std::vector<platform::Element> kids = ax::elementsOf(ax::attr(ax, element, "AXChildren"));
  if (isBar) return kids;
  for (const platform::Element& kid : kids) {
    if (ax::str(ax, kid, "AXRole") == "AXMenu") return ax::elementsOf(ax::attr(ax, kid, "AXChildren"));
  }
  return kids;
}

std::optional<platform::Element> pickMenu(platform::Accessibility& ax, const std::vector<platform::Element>& items,
                                          std::string_view title) {
  std::vector<std::string> titles;
  titles.reserve(items.size());
  for (const platform::Element& item : items) titles.push_back(titleOf(ax, item));

  const std::string wanted = text::toLower(title);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (text::canonicallyEqual(text::toLower(titles[i]), wanted)) return items[i];
  }
  const std::string w = loose(title);
  if (w.empty()) return std::nullopt;
  const bool containment = text::graphemeCount(w) >= 2;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string t = loose(titles[i]);
    if (text::canonicallyEqual(t, w) || (containment && text::canonicallyContains(t, w))) return items[i];
  }
  return std::nullopt;
}

FollowResult menuFollow(platform::Platform& os, const platform::Element& bar, const std::vector<std::string>& path) {
  platform::Accessibility& ax = os.accessibility();
  FollowResult result{bar, {}, false, std::nullopt};
  for (std::size_t i = 0; i < path.size(); ++i) {
    const bool isBar = i == 0;
    std::vector<platform::Element> kids = menuChildren(ax, result.node, isBar);
    if (kids.empty()) {
      ax.performAction(result.node, "AXPress");
      os.clock().sleepMicros(OPEN_LEVEL_PAUSE_MICROS);
      kids = menuChildren(ax, result.node, isBar);
      result.opened = true;
    }
    std::optional<platform::Element> item = pickMenu(ax, kids, path[i]);
    if (!item) {
      result.error = notFoundMessage(ax, path[i], kids);
      return result;
    }
    result.node = *item;
    result.levels.push_back(*item);
  }
  return result;
}

Json menuList(platform::Accessibility& ax, const platform::Element& element, bool isBar) {
  Json items = Json::array();
  for (const platform::Element& kid : menuChildren(ax, element, isBar)) {
    if (items.size() == MAX_LISTED_ITEMS) break;
    std::string title = titleOf(ax, kid);
    if (title.empty()) continue;
    Json item;
    item["label"] = std::move(title);
    item["enabled"] = ax::boolAttr(ax, kid, "AXEnabled", true);
    if (!menuChildren(ax, kid, false).empty()) item["submenu"] = true;
    std::string shortcut = ax::str(ax, kid, "AXMenuItemCmdChar");
    if (!shortcut.empty()) item["shortcut"] = std::move(shortcut);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace kelp::menu
