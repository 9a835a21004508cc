#include "ax/node.h"

#include "common/roles.h"
#include "text/text.h"

namespace kelp::ax {

bool isInteractive(std::string_view role) { return contains(INTERACTIVE, role); }

namespace {

std::int64_t count(const std::vector<Node>& list) { return static_cast<std::int64_t>(list.size()); }

Node record(platform::Accessibility& ax, const platform::Element& element, std::string role, const std::string& full,
            std::string shown, const std::string& path) {
  Node node;
  const std::string raw = str(ax, element, "AXValue");
  const bool same = full == text::trim(raw);
  node.value = text::firstGraphemes(raw, VALUE_CLIP);
  node.valueLen = static_cast<std::int64_t>(text::utf16Length(raw));
  if (text::graphemeCount(raw) > VALUE_CLIP) node.valueTail = text::lastGraphemes(raw, TAIL_LENGTH);
  if (!same) {
    node.labelLen = static_cast<std::int64_t>(text::utf16Length(full));
    if (text::graphemeCount(full) > LABEL_CLIP) node.labelTail = text::lastGraphemes(full, TAIL_LENGTH);
  }
  node.identifier = str(ax, element, "AXIdentifier");
  node.enabled = boolAttr(ax, element, "AXEnabled", true);
  node.frame = frameOf(ax, element);
  node.el = element;
  node.role = std::move(role);
  node.label = std::move(shown);
  node.path = path;
  return node;
}

// How many of a menu's items are looked at to tell whether it is open: a
// separator or two may lead it.
constexpr std::size_t MENU_ITEMS_LOOKED_AT = 3;

void walkBelow(platform::Accessibility& ax, const platform::Element& element, const std::string& path, int depth,
               std::int64_t max, const WalkOptions& options, std::vector<Node>& into) {
  // Depth is the only bound on an application that lists an element among
  // its own descendants.
  if (count(into) >= max || depth > MAX_WALK_DEPTH) return;
  std::string role = str(ax, element, "AXRole");
  // Only a record shows a label: finding one can take several reads.
  if (isInteractive(role)) {
    const std::string full = labelFull(ax, element);
    std::string shown = text::firstGraphemes(full, LABEL_CLIP);
    if (!(role == "AXStaticText" && shown.empty())) {
      into.push_back(record(ax, element, std::move(role), full, std::move(shown), path));
    }
  }
  const std::vector<platform::Element> children = elementsOf(attr(ax, element, "AXChildren"));
  if (children.empty() || count(into) >= max) return;
  if (!options.closedMenus && role == "AXMenu" && menuClosed(ax, children)) return;
  for (std::size_t i = 0; i < children.size(); ++i) {
    const std::string childPath = path + "/" + str(ax, children[i], "AXRole") + "[" + std::to_string(i) + "]";
    walkBelow(ax, children[i], childPath, depth + 1, max, options, into);
    if (count(into) >= max) return;
  }
}

}  // namespace

const platform::ReadPlan& walkReadPlan() {
  static const platform::ReadPlan plan = [] {
    platform::ReadPlan made;
    made.ofEvery = {"AXRole", "AXChildren"};
    made.recordedRoles.assign(INTERACTIVE.begin(), INTERACTIVE.end());
    made.firstNonBlank.assign(LABEL_SOURCES.begin(), LABEL_SOURCES.end());
    // What `record` reads.
    made.ofRecorded = {"AXValue", "AXIdentifier", "AXEnabled", "AXPosition", "AXSize"};
    return made;
  }();
  return plan;
}

std::vector<Node> walk(platform::Accessibility& ax, const platform::Element& root, std::int64_t max,
                       const WalkOptions& options) {
  std::vector<Node> nodes;
  platform::ReadPlan plan = walkReadPlan();
  plan.recordLimit = max;
  std::optional<Snapshot> snapshot;
  if (options.snapshot) snapshot.emplace(ax, plan);
  walkBelow(ax, root, options.rootPath, 0, max, options, nodes);
  return nodes;
}

bool menuClosed(platform::Accessibility& ax, const std::vector<platform::Element>& items) {
  for (std::size_t i = 0; i < items.size() && i < MENU_ITEMS_LOOKED_AT; ++i) {
    if (frameOf(ax, items[i])) return false;
  }
  return true;
}

}  // namespace kelp::ax
