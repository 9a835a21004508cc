// What the window manager publishes of its client windows (EWMH and ICCCM
// properties), and the requests that ask it to raise or place one.
#include <X11/Xatom.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "platform/linux/x11/display.h"

namespace kelp::platform::linux_desktop {
namespace {

constexpr std::array<const char*, 14> WINDOW_TYPE_NAMES = {
    "_NET_WM_WINDOW_TYPE_NORMAL",        "_NET_WM_WINDOW_TYPE_DIALOG",  "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP",       "_NET_WM_WINDOW_TYPE_TOOLBAR", "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",       "_NET_WM_WINDOW_TYPE_SPLASH",  "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",    "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",         "_NET_WM_WINDOW_TYPE_DND",
};

std::optional<Pid> asPid(unsigned long value) {
  if (value == 0 || value > static_cast<unsigned long>(std::numeric_limits<Pid>::max())) return std::nullopt;
  return static_cast<Pid>(value);
}

}  // namespace

std::optional<std::vector<WindowId>> XDisplay::clientList() { return rootWindowList("_NET_CLIENT_LIST"); }

std::optional<std::vector<WindowId>> XDisplay::stackingList() {
  if (auto stacking = rootWindowList("_NET_CLIENT_LIST_STACKING")) return stacking;
  return clientList();
}

std::optional<WindowId> XDisplay::activeWindow() {
  auto items = rootWindowList("_NET_ACTIVE_WINDOW");
  if (!items || items->empty() || items->front() == None) return std::nullopt;
  return items->front();
}

std::optional<Pid> XDisplay::windowPid(WindowId window) {
  if (!display()) return std::nullopt;
  auto items = longs(window, atom("_NET_WM_PID"), XA_CARDINAL);
  if (!items || items->empty()) return std::nullopt;
  return asPid(items->front());
}

std::vector<std::string> XDisplay::windowTypeNames(Window window) {
  std::vector<std::string> names;
  auto types = longs(window, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM);
  if (!types) return names;
  // Only the types EWMH defines matter, so they are matched against atoms we
  // intern ourselves instead of asking the server for every name.
  for (unsigned long type : *types) {
    std::string name;
    for (const char* known : WINDOW_TYPE_NAMES) {
      if (atom(known) == type) {
        name = known;
        break;
      }
    }
    names.push_back(std::move(name));
  }
  return names;
}

ClientWindow XDisplay::clientWindow(WindowId id) {
  ClientWindow window;
  window.id = id;
  if (!display()) return window;
  const auto xid = static_cast<Window>(id);
  window.pid = windowPid(id);
  ClassHintOwner classHint;
  if (XGetClassHint(display_.get(), xid, &classHint.hint) != 0) {
    if (classHint.hint.res_name && *classHint.hint.res_name) window.wmInstance = classHint.hint.res_name;
    if (classHint.hint.res_class && *classHint.hint.res_class) window.wmClass = classHint.hint.res_class;
  }
  window.gtkApplicationId = text8(xid, atom("_GTK_APPLICATION_ID"), atom("UTF8_STRING"));
  if (window.gtkApplicationId && window.gtkApplicationId->empty()) window.gtkApplicationId.reset();
  window.kind = windowKind(windowTypeNames(xid));
  return window;
}

WindowTitle XDisplay::windowTitle(WindowId id) {
  WindowTitle title;
  if (!display()) return title;
  const auto xid = static_cast<Window>(id);
  const Atom utf8 = atom("UTF8_STRING");
  if (auto text = text8(xid, atom("_NET_WM_NAME"), utf8)) {
    title.present = true;
    title.text = std::move(text);
    return title;
  }
  XTextProperty property{};
  if (XGetWMName(display_.get(), xid, &property) == 0) return title;
  XMemory<unsigned char> value(property.value);
  title.present = true;
  if (!value) return title;
  if (property.format == 8 && property.encoding == XA_STRING) {
    title.text = latin1ToUtf8(untilNul(value.get(), property.nitems));
  } else if (property.format == 8 && property.encoding == utf8) {
    title.text = untilNul(value.get(), property.nitems);
  } else {
    // COMPOUND_TEXT and the like: Xlib converts what the locale allows.
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display_.get(), &property, &list, &count) == Success) {
      StringListOwner strings(list);
      if (count > 0 && list[0]) title.text = std::string(list[0]);
    }
  }
  return title;
}

bool XDisplay::isViewable(WindowId id) {
  if (!display()) return false;
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_.get(), static_cast<Window>(id), &attributes) == 0) return false;
  return attributes.map_state == IsViewable;
}

std::optional<RootRect> XDisplay::clientRect(WindowId id) {
  if (!display()) return std::nullopt;
  const auto xid = static_cast<Window>(id);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_.get(), xid, &attributes) == 0) return std::nullopt;
  int x = 0;
  int y = 0;
  Window child = None;
  if (!XTranslateCoordinates(display_.get(), xid, DefaultRootWindow(display_.get()), 0, 0, &x, &y, &child)) {
    return std::nullopt;
  }
  return RootRect{x, y, attributes.width, attributes.height};
}

std::optional<RootRect> XDisplay::frameRect(WindowId id) {
  std::optional<RootRect> rect = clientRect(id);
  if (!rect) return std::nullopt;
  auto extents = longs(static_cast<Window>(id), atom("_NET_FRAME_EXTENTS"), XA_CARDINAL);
  if (!extents || extents->size() < 4) return rect;
  // left, right, top, bottom
  const auto grow = [&](std::size_t i) {
    return static_cast<int>(std::min<unsigned long>((*extents)[i], 1u << 16));
  };
  rect->x -= grow(0);
  rect->y -= grow(2);
  rect->width += grow(0) + grow(1);
  rect->height += grow(2) + grow(3);
  return rect;
}

std::optional<WindowId> XDisplay::topWindowOf(Pid pid) {
  const std::optional<std::vector<WindowId>> stacking = stackingList();
  if (!stacking) return std::nullopt;
  std::optional<WindowId> other;
  for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
    if (windowPid(*it) != pid) continue;
    const WindowKind kind = windowKind(windowTypeNames(static_cast<Window>(*it)));
    if (kind == WindowKind::normal) return *it;
    if (!other && kind != WindowKind::desktop) other = *it;
  }
  return other;
}

bool XDisplay::windowExists(Window window) {
  XWindowAttributes attributes{};
  return window != None && XGetWindowAttributes(display_.get(), window, &attributes) != 0;
}

bool XDisplay::windowManagerSupports(const char* name) {
  const auto supported = longs(DefaultRootWindow(display_.get()), atom("_NET_SUPPORTED"), XA_ATOM);
  return supported && std::find(supported->begin(), supported->end(), atom(name)) != supported->end();
}

void XDisplay::sendToWindowManager(Window window, const char* message, const std::array<long, 5>& data) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = atom(message);
  event.xclient.format = 32;
  std::copy(data.begin(), data.end(), event.xclient.data.l);
  XSendEvent(display_.get(), DefaultRootWindow(display_.get()), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

Time XDisplay::serverTime() {
  Display* x = display_.get();
  // The server stamps the notification of a property change with its time;
  // a zero-length append to a window of our own changes nothing else.
  if (timeWindow_ == None) {
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    timeWindow_ = XCreateWindow(x, DefaultRootWindow(x), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent,
                                CWEventMask, &attributes);
  }
  const Atom stamp = atom("_KELP_TIMESTAMP");
  XChangeProperty(x, timeWindow_, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
  // After the round trip the notification is in the queue, so nothing blocks
  // waiting for it.
  XSync(x, False);
  XEvent event{};
  Time time = CurrentTime;
  while (XCheckWindowEvent(x, timeWindow_, PropertyChangeMask, &event)) time = event.xproperty.time;
  return time;
}

bool XDisplay::activateWindow(WindowId id) {
  if (!display()) return false;
  const auto xid = static_cast<Window>(id);
  if (!windowExists(xid)) return false;
  if (windowManagerSupports("_NET_ACTIVE_WINDOW")) {
    // Source 2: a pager acts for the user, so the window manager does not
    // treat the request as an application stealing focus.
    const auto current = static_cast<long>(activeWindow().value_or(None));
    sendToWindowManager(xid, "_NET_ACTIVE_WINDOW", {2, static_cast<long>(serverTime()), current, 0, 0});
  } else {
    XMapRaised(display_.get(), xid);
    XSetInputFocus(display_.get(), xid, RevertToParent, CurrentTime);
  }
  // A window manager that activates without raising still restacks on a
  // raise request.
  XRaiseWindow(display_.get(), xid);
  XFlush(display_.get());
  return true;
}

bool XDisplay::placeWindow(WindowId id, const WindowPlacement& placement) {
  if (!display()) return false;
  const auto xid = static_cast<Window>(id);
  if (!windowExists(xid)) return false;
  if (windowManagerSupports("_NET_MOVERESIZE_WINDOW")) {
    // Static gravity: the coordinates are those of the client area itself,
    // whatever frame the window manager draws around it.
    constexpr long STATIC_GRAVITY = 10;
    constexpr long FROM_PAGER = 2L << 12;
    long flags = STATIC_GRAVITY | FROM_PAGER;
    if (placement.x) flags |= 1L << 8;
    if (placement.y) flags |= 1L << 9;
    if (placement.width) flags |= 1L << 10;
    if (placement.height) flags |= 1L << 11;
    sendToWindowManager(xid, "_NET_MOVERESIZE_WINDOW",
                        {flags, placement.x.value_or(0), placement.y.value_or(0), placement.width.value_or(0),
                         placement.height.value_or(0)});
  } else {
    // Without a window manager the client window itself is where it shows.
    std::optional<RootRect> now = clientRect(id);
    if (!now) return false;
    XMoveResizeWindow(display_.get(), xid, placement.x.value_or(now->x), placement.y.value_or(now->y),
                      static_cast<unsigned>(std::max(1, placement.width.value_or(now->width))),
                      static_cast<unsigned>(std::max(1, placement.height.value_or(now->height))));
  }
  XFlush(display_.get());
  return true;
}

namespace {

// X coordinates are 16-bit on the wire; anything beyond is clamped, not
// wrapped.
int toPixels(double value) {
  constexpr double LIMIT = 1 << 15;
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::lround(std::clamp(value, -LIMIT, LIMIT)));
}

}  // namespace

WindowPlacement placementFor(const RootRect& reported, const RootRect& client, std::optional<Point> position,
                             std::optional<Size> size) {
  WindowPlacement placement;
  if (position) {
    placement.x = toPixels(position->x) - (reported.x - client.x);
    placement.y = toPixels(position->y) - (reported.y - client.y);
  }
  if (size) {
    placement.width = std::max(1, toPixels(size->w) - (reported.width - client.width));
    placement.height = std::max(1, toPixels(size->h) - (reported.height - client.height));
  }
  return placement;
}

}  // namespace kelp::platform::linux_desktop
