// The seam's accessibility service over AT-SPI: trust, elements, reads and
// writes, hit tests, and frames placed on screen for each toolkit.
#include <algorithm>

#include "platform/linux/atspi/tree.h"
#include "platform/linux/atspi/unanswering.h"
#include "platform/linux/atspi/ax_roles.h"
#include "platform/linux/atspi/ax_reads.h"
#include "platform/linux/atspi/ax_writes.h"
#include "platform/linux/desktop.h"
#include "platform/linux/atspi/hit_test.h"

namespace kelp::platform::linux_desktop {
namespace {

// Where the content of a window that measures from its own top left
// starts, in its own terms: the top left of its showing children. GTK 3
// draws a shadow around a window that floats on Wayland and measures from
// the shadow's corner (26, 23 with the default theme), while the
// compositor places and reports the window without it. Windows without
// such a shadow (GTK 4 and Qt, which measure from the content; tiled GTK 3
// windows; compositor-drawn decorations) have children from (0, 0).
Point contentCorner(FactStore& facts, const ObjectRef& window) {
  std::optional<Point> corner;
  for (const ObjectRef& child : facts.need(window, CHILDREN).children) {
    if (!onScreen(facts, child)) continue;
    const Facts& known = facts.need(child, EXTENTS);
    if (!known.has(EXTENTS) || known.extents.width <= 0 || known.extents.height <= 0) continue;
    const Point at{static_cast<double>(known.extents.x), static_cast<double>(known.extents.y)};
    corner = corner ? Point{std::min(corner->x, at.x), std::min(corner->y, at.y)} : at;
  }
  if (!corner || corner->x < 0 || corner->y < 0) return {};
  return *corner;
}

}  // namespace

LinuxAccessibility::LinuxAccessibility(Connections& connections) : connections_(connections) {
  if (isWayland(connections_.session)) {
    channels_.setPlacedByCompositor([this](const std::string& bus) {
      const std::optional<Pid> pid = processOfBus(bus);
      return !pid || connections_.windows().placesWithoutTelling(*pid);
    });
  }
}

bool LinuxAccessibility::isTrusted() {
  SessionBus& bus = connections_.sessionBus;
  const std::optional<bool> enabled = bus.accessibilityEnabled();
  if (!enabled || !*enabled) return false;
  return bus.accessibilityBusAddress().has_value();
}

bool LinuxAccessibility::promptForTrust() {
  // Nobody is asked on Linux: turning the accessibility bus on is the grant.
  publishAccessibility(connections_);
  return isTrusted();
}

Element LinuxAccessibility::systemWide() { return desktopElement(); }

Element LinuxAccessibility::applicationElement(Pid pid) {
  if (pid <= 0 || !atspiReady(connections_.sessionBus)) return {};
  const std::optional<ObjectRef> application = registeredApplication(pid);
  return application ? elementFor(*application) : Element{};
}

Point LinuxAccessibility::screenOrigin() {
  if (snapshot_ && snapshotOrigin_) return *snapshotOrigin_;
  const std::optional<std::vector<MonitorRect>> monitors = connections_.windows().monitors();
  const Point origin = monitors ? accessibilityOrigin(*monitors) : Point{};
  if (snapshot_) snapshotOrigin_ = origin;
  return origin;
}

Value LinuxAccessibility::copyAttribute(const Element& element, const std::string& name) {
  const std::optional<ObjectRef> ref = refOf(element);
  // The desktop element exists before accessibility does, so any read may
  // be the one that has to start libatspi.
  if (!ref || !atspiReady(connections_.sessionBus)) return {};
  // Outside a snapshot every read fetches afresh.
  std::optional<FactStore> single;
  FactStore& facts = snapshot_ ? *snapshot_ : single.emplace(channels_);
  ReadScope scope{facts, [this] { return screenOrigin(); },
                  [this, &facts](const ObjectRef& window) { return windowManagerTitle(facts, window); },
                  [this, &facts](const ObjectRef& window) { return windowPlace(facts, window); },
                  [this](const ObjectRef& menu, const RootRect& reported) { return popupPlace(menu, reported); }};
  return readAxAttribute(scope, *ref, presentationOf(element), name);
}

WriteScope LinuxAccessibility::writeScope(FactStore& facts) {
  WindowServer& x = connections_.windows();
  return WriteScope{
      facts,
      [this] { return screenOrigin(); },
      [this, &facts, &x](const ObjectRef& window) {
        const std::optional<WindowId> id = managedWindowOf(facts, window);
        return id && x.activateWindow(*id);
      },
      [this, &facts, &x](const ObjectRef& application) {
        const std::optional<Pid> pid = processOfBus(application.bus);
        const std::optional<WindowId> id = pid ? x.topWindowOf(*pid) : std::nullopt;
        return id && x.activateWindow(*id);
      },
      [this, &facts, &x](const ObjectRef& window, std::optional<Point> position, std::optional<Size> size) {
        const std::optional<WindowId> id = managedWindowOf(facts, window);
        const std::optional<RootRect> client = id ? x.clientRect(*id) : std::nullopt;
        if (!client) return false;
        // Without a rectangle of its own in the tree, the window is taken to
        // report its client area.
        RootRect reported = *client;
        const Facts& known = facts.need(window, EXTENTS);
        if (known.has(EXTENTS) && frameFromExtents(known.extents, {})) {
          reported = {known.extents.x, known.extents.y, known.extents.width, known.extents.height};
          if (facts.toolkitOf(window.bus).windowRelative()) {
            // Measured from its own corner, the window is where it is placed
            // less its content's offset; without a shadow, its client area.
            const std::optional<Point> place = x.clientRectExcludesShadow() ? windowPlace(facts, window) : std::nullopt;
            reported = place ? RootRect{static_cast<int>(place->x) + reported.x, static_cast<int>(place->y) + reported.y,
                                        reported.width, reported.height}
                             : *client;
          }
        }
        return x.placeWindow(*id, placementFor(reported, *client, position, size));
      },
  };
}

bool LinuxAccessibility::setAttribute(const Element& element, const std::string& name, const Value& value) {
  const std::optional<ObjectRef> ref = refOf(element);
  if (!ref || isDesktopElement(element) || !atspiReady(connections_.sessionBus)) return false;
  FactStore facts(channels_);
  WriteScope scope = writeScope(facts);
  const bool written = writeAxAttribute(scope, *ref, presentationOf(element), name, value);
  forgetSnapshotFacts();
  return written;
}

bool LinuxAccessibility::performAction(const Element& element, const std::string& action) {
  const std::optional<ObjectRef> ref = refOf(element);
  if (!ref || isDesktopElement(element) || !atspiReady(connections_.sessionBus)) return false;
  FactStore facts(channels_);
  WriteScope scope = writeScope(facts);
  const bool performed = performAxAction(scope, *ref, presentationOf(element), action);
  forgetSnapshotFacts();
  return performed;
}

void LinuxAccessibility::forgetSnapshotFacts() {
  // Whatever a write or action touched may have changed anywhere in the
  // application (an action can rebuild a whole window), so a snapshot open
  // around it starts over instead of answering from before.
  if (snapshot_) snapshot_ = std::make_unique<FactStore>(channels_, snapshotPlan_);
}

std::optional<Element> LinuxAccessibility::elementAtPosition(const Element& root, float x, float y) {
  const std::optional<ObjectRef> ref = refOf(root);
  if (!ref || !atspiReady(connections_.sessionBus)) return std::nullopt;
  const Point origin = screenOrigin();
  const Point point{origin.x + x, origin.y + y};
  std::optional<ObjectRef> found;
  std::optional<FactStore> single;
  FactStore& facts = snapshot_ ? *snapshot_ : single.emplace(channels_);
  found = objectAtPoint(facts, connections_.windows(), *ref, isDesktopElement(root), point,
                        [this, &facts](const ObjectRef& window) { return windowPlace(facts, window); });
  if (!found) return std::nullopt;
  Element element = elementFor(*found);
  if (!element) return std::nullopt;
  return element;
}

std::optional<Pid> LinuxAccessibility::pidOf(const Element& element) {
  // The desktop belongs to no application.
  const std::optional<ObjectRef> ref = refOf(element);
  if (!ref || isDesktopElement(element) || !atspiReady(connections_.sessionBus)) return std::nullopt;
  return processOfBus(ref->bus);
}

bool LinuxAccessibility::pressHoldsApplication(const Element& element) {
  const std::optional<ObjectRef> ref = refOf(element);
  if (!ref || AtspiChannels::isSelf(ref->bus)) return false;
  return channels_.toolkitOf(ref->bus).actsInsideTheCall();
}

bool LinuxAccessibility::answering(const Element& element) {
  const std::optional<ObjectRef> ref = refOf(element);
  return !ref || !unansweringApplications().holds(ref->bus);
}

std::optional<WindowId> LinuxAccessibility::managedWindowOf(FactStore& facts, const ObjectRef& window) {
  WindowServer& x = connections_.windows();
  const std::optional<Pid> pid = processOfBus(window.bus);
  const std::optional<std::vector<WindowId>> clients = x.clientList();
  if (!pid || !clients) return std::nullopt;
  std::vector<WindowId> own;
  for (WindowId id : *clients) {
    if (x.windowPid(id) == pid) own.push_back(id);
  }
  if (own.empty()) return std::nullopt;
  // The X window with the same rectangle (toolkits report the client area or
  // the decorated frame); a process with a single window needs no match.
  // A window that measures from its own corner reports no place to match.
  const Facts& known = facts.need(window, EXTENTS);
  if (known.has(EXTENTS) && !facts.toolkitOf(window.bus).windowRelative()) {
    const RootRect rect{known.extents.x, known.extents.y, known.extents.width, known.extents.height};
    for (WindowId id : own) {
      if (x.clientRect(id) == rect || x.frameRect(id) == rect) return id;
    }
  }
  if (own.size() == 1) return own.front();
  // Windows that do not show (minimized ones) have no rectangle to match;
  // a title of their own still tells them apart.
  const Facts& named = facts.need(window, NAMING);
  if (!named.has(NAMING) || named.name.empty()) return std::nullopt;
  std::optional<WindowId> titled;
  for (WindowId id : own) {
    if (x.windowTitle(id).text != named.name) continue;
    if (titled) return std::nullopt;
    titled = id;
  }
  return titled;
}

std::optional<Point> LinuxAccessibility::windowPlace(FactStore& facts, const ObjectRef& window) {
  if (snapshot_) {
    if (auto known = snapshotPlaces_.find(window.bus + window.path); known != snapshotPlaces_.end()) {
      return known->second;
    }
  }
  const std::optional<WindowId> match = managedWindowOf(facts, window);
  WindowServer& windows = connections_.windows();
  const std::optional<RootRect> client = match ? windows.clientRect(*match) : std::nullopt;
  std::optional<Point> place;
  if (client) {
    place = Point{static_cast<double>(client->x), static_cast<double>(client->y)};
    if (windows.clientRectExcludesShadow()) {
      const Point corner = contentCorner(facts, window);
      place = Point{place->x - corner.x, place->y - corner.y};
    }
  }
  if (snapshot_) snapshotPlaces_.emplace(window.bus + window.path, place);
  return place;
}

std::optional<Point> LinuxAccessibility::popupPlace(const ObjectRef& menu, const RootRect& reported) {
  const std::optional<Pid> pid = processOfBus(menu.bus);
  if (!pid) return std::nullopt;
  return connections_.windows().popupOrigin(*pid, reported);
}

std::optional<std::string> LinuxAccessibility::windowManagerTitle(FactStore& facts, const ObjectRef& window) {
  const std::optional<WindowId> match = managedWindowOf(facts, window);
  if (!match) return std::nullopt;
  return connections_.windows().windowTitle(*match).text;
}

void LinuxAccessibility::beginSnapshot(const ReadPlan& plan) {
  if (snapshotDepth_++ > 0) return;
  snapshotPlan_ = plan;
  snapshot_ = std::make_unique<FactStore>(channels_, snapshotPlan_);
}

void LinuxAccessibility::endSnapshot() {
  if (snapshotDepth_ == 0 || --snapshotDepth_ > 0) return;
  snapshot_.reset();
  snapshotOrigin_.reset();
  snapshotPlaces_.clear();
}

}  // namespace kelp::platform::linux_desktop
