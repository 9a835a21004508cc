// The readers of an application's and a window's own attributes.
#include "platform/linux/atspi/ax_window_reads.h"

#include <deque>

#include "platform/linux/atspi/ax_roles.h"

namespace kelp::platform::linux_desktop {
namespace {

// A menu bar sits a few levels below its window; deeper ones belong to
// embedded content, not to the application.
constexpr int MENU_BAR_DEPTH = 4;

// How far a search for the focused object goes where the toolkit has no
// collections.
constexpr int FOCUS_SEARCH_OBJECTS = 2000;

std::optional<ObjectRef> searchFocused(FactSource& store, const ObjectRef& window) {
  std::deque<ObjectRef> queue{window};
  std::optional<ObjectRef> first;
  for (int examined = 0; !queue.empty() && examined < FOCUS_SEARCH_OBJECTS; ++examined) {
    ObjectRef current = std::move(queue.front());
    queue.pop_front();
    const Facts& facts = store.need(current, STATES);
    if (facts.hasState(ATSPI_STATE_FOCUSED)) {
      // Qt also marks the tab of the focused page focused, which takes no
      // focus itself: what can be focused wins.
      if (facts.hasState(ATSPI_STATE_FOCUSABLE)) return current;
      if (!first) first = current;
    }
    for (const ObjectRef& child : store.need(current, CHILDREN).children) queue.push_back(child);
  }
  return first;
}

}  // namespace

Value readWindows(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  return elementList(applicationWindows(scope.facts, ref));
}

Value readFocusedWindow(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  return element(activeWindowOf(scope.facts, ref));
}

Value readFrontmost(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  return activeWindowOf(scope.facts, ref).has_value();
}

Value readMenuBar(ReadScope& scope, const ObjectRef& ref) {
  std::vector<ObjectRef> windows;
  if (isApplication(scope.facts, ref)) {
    windows = windowsActiveFirst(scope.facts, ref);
  } else if (axRoleOf(scope.facts, ref) == "AXWindow") {
    windows.push_back(ref);
  }
  // LibreOffice keeps a menu bar of its own, hidden (no height), beside the
  // GTK one people see: one that shows wins, else the first.
  const auto shows = [&](const ObjectRef& bar) {
    const Facts& facts = scope.facts.need(bar, EXTENTS);
    return onScreen(scope.facts, bar) && facts.has(EXTENTS) && facts.extents.width > 0 && facts.extents.height > 0;
  };
  std::optional<ObjectRef> first;
  for (const ObjectRef& window : windows) {
    // Breadth first, so the shallowest menu bar wins.
    std::deque<std::pair<ObjectRef, int>> queue{{window, 0}};
    while (!queue.empty()) {
      auto [current, depth] = std::move(queue.front());
      queue.pop_front();
      const Facts& facts = scope.facts.need(current, ROLE);
      if (facts.has(ROLE) && facts.role == ATSPI_ROLE_MENU_BAR) {
        if (shows(current)) return element(current);
        if (!first) first = current;
        continue;
      }
      if (depth >= MENU_BAR_DEPTH + 1) continue;
      for (const ObjectRef& child : scope.facts.need(current, CHILDREN).children)
        queue.emplace_back(child, depth + 1);
    }
    if (first) return element(first);
  }
  return {};
}

Value readFocusedElement(ReadScope& scope, const ObjectRef& ref) {
  if (!isApplication(scope.facts, ref)) return {};
  // Toolkits leave the focused state on the last focused object of every
  // window, so the active window is asked first.
  const std::vector<ObjectRef> windows = windowsActiveFirst(scope.facts, ref);
  // Toolkits also mark containers of the focus focused (LibreOffice a panel,
  // Qt a page's tab): what can take the focus is asked for first.
  constexpr std::uint64_t FOCUSED = std::uint64_t{1} << ATSPI_STATE_FOCUSED;
  constexpr std::uint64_t FOCUSABLE = std::uint64_t{1} << ATSPI_STATE_FOCUSABLE;
  for (const ObjectRef& window : windows) {
    for (const std::uint64_t states : {FOCUSED | FOCUSABLE, FOCUSED}) {
      if (std::optional<ObjectRef> found = scope.facts.firstWithStates(window, states)) return element(found);
    }
  }
  for (const ObjectRef& window : windows) {
    if (std::optional<ObjectRef> found = searchFocused(scope.facts, window)) return element(found);
  }
  return {};
}

Value readWindow(ReadScope& scope, const ObjectRef& ref) { return element(windowOf(scope.facts, ref)); }

}  // namespace kelp::platform::linux_desktop
