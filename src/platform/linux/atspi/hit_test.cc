// Hit testing: the window in front at a point, then the object inside it.
#include "platform/linux/atspi/hit_test.h"

#include <cmath>
#include <vector>

#include "platform/linux/atspi/ax_reads.h"
#include "platform/linux/atspi/ax_roles.h"

namespace kelp::platform::linux_desktop {
namespace {

// Toolkits answer GetAccessibleAtPoint with the child at the point, not the
// deepest descendant, so the question is asked again of each answer; a
// broken application could answer in a circle.
constexpr int DESCENT_LIMIT = 32;

// How the objects of one window measure: from the screen's origin, or
// (GTK 4) from the window's own top left, placed on the screen by the
// window manager.
struct Space {
  Point offset;
  std::uint32_t coordType = ATSPI_COORD_TYPE_SCREEN;
  Point local(Point point) const { return {point.x - offset.x, point.y - offset.y}; }
};

std::optional<ObjectRef> childAt(FactStore& facts, const ObjectRef& parent, Point point, const Space& space) {
  CallBatch batch(facts.channels());
  const std::size_t call = batch.add(parent, COMPONENT_INTERFACE, "GetAccessibleAtPoint");
  DBusMessage* request = batch.request(call);
  appendInt32(request, static_cast<std::int32_t>(std::floor(point.x)));
  appendInt32(request, static_cast<std::int32_t>(std::floor(point.y)));
  appendUint32(request, space.coordType);
  batch.run();
  MessageReader reply(batch.reply(call));
  std::optional<ObjectRef> child = reply.objectRef();
  if (!child || child->path == NULL_PATH || child->bus.empty()) return std::nullopt;
  return child;
}

std::optional<RootRect> extentsOf(FactStore& facts, const ObjectRef& ref) {
  const Facts& known = facts.need(ref, EXTENTS);
  if (!known.has(EXTENTS)) return std::nullopt;
  if (!frameFromExtents(known.extents, {})) return std::nullopt;
  return RootRect{known.extents.x, known.extents.y, known.extents.width, known.extents.height};
}

bool showsAt(FactStore& facts, const ObjectRef& ref, Point point) {
  if (!onScreen(facts, ref)) return false;
  std::optional<RootRect> rect = extentsOf(facts, ref);
  return rect && rect->contains(point.x, point.y);
}

// Where the toolkit finds no child at the point, a showing descendant a few
// levels down may still be there: GTK's notebook lists its pages below the
// tabs, whose rectangles are only the tab headers.
constexpr int SEARCH_LEVELS = 3;
constexpr int SEARCH_OBJECTS = 128;

std::optional<ObjectRef> descendantAt(FactStore& facts, const ObjectRef& parent, Point point) {
  std::vector<ObjectRef> level{parent};
  int examined = 0;
  for (int depth = 0; depth < SEARCH_LEVELS && !level.empty(); ++depth) {
    std::vector<ObjectRef> next;
    for (const ObjectRef& ref : level) {
      for (const ObjectRef& child : facts.need(ref, CHILDREN).children) {
        if (++examined > SEARCH_OBJECTS) return std::nullopt;
        if (showsAt(facts, child, point)) return child;
        next.push_back(child);
      }
    }
    level = std::move(next);
  }
  return std::nullopt;
}

ObjectRef deepestAt(FactStore& facts, const ObjectRef& window, Point screenPoint, const Space& space) {
  const Point point = space.local(screenPoint);
  ObjectRef current = window;
  for (int depth = 0; depth < DESCENT_LIMIT; ++depth) {
    std::optional<ObjectRef> child = childAt(facts, current, point, space);
    if (!child || *child == current) child = descendantAt(facts, current, point);
    if (!child || *child == current) break;
    current = std::move(*child);
  }
  return current;
}

// Among an application's windows, the one containing `point`, the active
// one first where they overlap.
Space spaceOf(FactStore& facts, const ObjectRef& window, const WindowPlace& windowPlace) {
  if (!facts.toolkitOf(window.bus).windowRelative() || !windowPlace) return {};
  const std::optional<Point> place = windowPlace(window);
  return place ? Space{*place, ATSPI_COORD_TYPE_WINDOW} : Space{};
}

// A window's rectangle on the root window.
std::optional<RootRect> placedExtents(FactStore& facts, const ObjectRef& window, const WindowPlace& windowPlace) {
  std::optional<RootRect> rect = extentsOf(facts, window);
  if (!rect) return std::nullopt;
  const Space space = spaceOf(facts, window, windowPlace);
  rect->x += static_cast<int>(space.offset.x);
  rect->y += static_cast<int>(space.offset.y);
  return rect;
}

std::optional<ObjectRef> windowContaining(FactStore& facts, const std::vector<ObjectRef>& windows, Point point,
                                          const WindowPlace& windowPlace) {
  std::optional<ObjectRef> found;
  for (const ObjectRef& window : windows) {
    std::optional<RootRect> rect = placedExtents(facts, window, windowPlace);
    if (!rect || !rect->contains(point.x, point.y)) continue;
    if (facts.need(window, STATES).hasState(ATSPI_STATE_ACTIVE)) return window;
    if (!found) found = window;
  }
  return found;
}

// The application's window that is X window `id`: the one with its extents
// (toolkits report the client area or the decorated frame), else the one with
// its title, else the one containing the point.
std::optional<ObjectRef> windowMatching(FactStore& facts, WindowServer& x, const std::vector<ObjectRef>& windows,
                                        WindowId id, Point point, const WindowPlace& windowPlace) {
  const std::optional<RootRect> client = x.clientRect(id);
  const std::optional<RootRect> frame = x.frameRect(id);
  for (const ObjectRef& window : windows) {
    std::optional<RootRect> rect = placedExtents(facts, window, windowPlace);
    if (rect && ((client && *rect == *client) || (frame && *rect == *frame))) return window;
  }
  const WindowTitle title = x.windowTitle(id);
  if (title.text && !title.text->empty()) {
    for (const ObjectRef& window : windows) {
      if (facts.need(window, NAMING).name == *title.text) return window;
    }
  }
  return windowContaining(facts, windows, point, windowPlace);
}

}  // namespace

std::optional<ObjectRef> objectAtPoint(FactStore& facts, WindowServer& x, const ObjectRef& root,
                                       bool rootIsDesktop, Point point, const WindowPlace& windowPlace) {
  if (!rootIsDesktop) {
    std::optional<ObjectRef> window = windowContaining(facts, applicationWindows(facts, root), point, windowPlace);
    if (!window) return std::nullopt;
    return deepestAt(facts, *window, point, spaceOf(facts, *window, windowPlace));
  }
  const std::optional<std::vector<WindowId>> stacking = x.stackingList();
  if (!stacking) return std::nullopt;
  // The stacking list runs bottom to top; the first window from the top
  // that covers the point is the one a click there reaches.
  for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
    if (!x.isViewable(*it)) continue;
    const std::optional<RootRect> frame = x.frameRect(*it);
    if (!frame || !frame->contains(point.x, point.y)) continue;
    if (x.clientWindow(*it).kind == WindowKind::desktop) continue;
    const std::optional<Pid> pid = x.windowPid(*it);
    if (!pid) return std::nullopt;
    const std::optional<ObjectRef> applicationRef = registeredApplication(*pid);
    if (!applicationRef) return std::nullopt;
    std::optional<ObjectRef> window =
        windowMatching(facts, x, applicationWindows(facts, *applicationRef), *it, point, windowPlace);
    if (!window) return std::nullopt;
    return deepestAt(facts, *window, point, spaceOf(facts, *window, windowPlace));
  }
  return std::nullopt;
}

}  // namespace kelp::platform::linux_desktop
