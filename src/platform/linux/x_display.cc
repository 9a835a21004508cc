#include "platform/linux/x_display.h"

#include <X11/Xatom.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace kelp::platform::linux_x11 {
namespace {

// Requests about windows of other clients fail whenever such a window goes
// away between listing and reading; each call's own result says so, and the
// default handler would print and exit.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

// Xlib's default reaction to a broken connection prints and exits. Returning
// from both hooks (possible since libX11 1.8) lets the failed call come back
// instead, and the display is dropped.
int ignoreXIOError(Display*) { return 0; }
void onXIOErrorExit(Display*, void* self) { static_cast<XDisplay*>(self)->markLost(); }

constexpr long MAX_PROPERTY_LONGS = 1 << 16;

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

// Property text up to its first NUL: several clients terminate it.
std::string untilNul(const unsigned char* data, unsigned long count) {
  const auto* text = reinterpret_cast<const char*>(data);
  const void* nul = std::memchr(text, '\0', count);
  return std::string(text, nul ? static_cast<const char*>(nul) - text : count);
}


}  // namespace

// libxcb writes the reason a server refuses a connection (a missing or
// wrong cookie) straight to file descriptor 2, with no way to turn it off.
// Standard error belongs to our parent, so for the connection attempt it
// points at /dev/null; nothing else in this process writes there. Threads
// that open displays (the capture's) take turns: two of them swapping
// descriptor 2 at once could leave it on /dev/null for good.
Display* openDisplayQuietly() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return nullptr;
  static std::mutex opening;
  std::lock_guard lock(opening);
  const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);  // -1: it is closed
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0 && null != STDERR_FILENO) {
    ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  Display* display = XOpenDisplay(nullptr);
  // A standard error that was closed stays on /dev/null: were descriptor 2
  // free, the next socket could land there and take stray writes.
  if (saved >= 0) {
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
  }
  return display;
}

XDisplay::~XDisplay() = default;

Display* XDisplay::display() {
  if (lost_) {
    display_.reset();
    atoms_.clear();
    timeWindow_ = None;
    lost_ = false;
  }
  if (display_) return display_.get();
  static const bool handlersInstalled = [] {
    XSetErrorHandler(ignoreXError);
    XSetIOErrorHandler(ignoreXIOError);
    return true;
  }();
  (void)handlersInstalled;
  display_.reset(openDisplayQuietly());
  if (display_) XSetIOErrorExitHandler(display_.get(), onXIOErrorExit, this);
  return display_.get();
}

Atom XDisplay::atom(const char* name) {
  auto it = atoms_.find(name);
  if (it != atoms_.end()) return it->second;
  const Atom value = XInternAtom(display_.get(), name, False);
  atoms_.emplace(name, value);
  return value;
}

XDisplay::Property XDisplay::property(Window window, Atom property, Atom type, int format) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display_.get(), window, property, 0, MAX_PROPERTY_LONGS, False, type,
                                        &actualType, &actualFormat, &count, &remaining, &raw);
  Property read{XMemory<unsigned char>(raw), count};
  if (status != Success || actualType != type || actualFormat != format) read.data = XMemory<unsigned char>(nullptr);
  return read;
}

std::optional<std::vector<unsigned long>> XDisplay::longs(Window window, Atom property, Atom type) {
  Property read = this->property(window, property, type, 32);
  if (!read.data) return std::nullopt;
  // Format-32 items arrive as C longs, whatever the width of long.
  const auto* items = reinterpret_cast<const unsigned long*>(read.data.get());
  return std::vector<unsigned long>(items, items + read.count);
}

std::optional<std::string> XDisplay::text8(Window window, Atom property, Atom type) {
  Property read = this->property(window, property, type, 8);
  if (!read.data) return std::nullopt;
  return untilNul(read.data.get(), read.count);
}

std::optional<std::vector<WindowId>> XDisplay::rootWindowList(const char* property) {
  if (!display()) return std::nullopt;
  auto items = longs(DefaultRootWindow(display_.get()), atom(property), XA_WINDOW);
  if (!items) return std::nullopt;
  return std::vector<WindowId>(items->begin(), items->end());
}

std::optional<std::vector<WindowId>> XDisplay::clientList() { return rootWindowList("_NET_CLIENT_LIST"); }

bool XDisplay::setRootTextIfMissing(const char* name, const std::string& text) {
  if (!display()) return false;
  const Window root = DefaultRootWindow(display_.get());
  const std::optional<std::string> present = text8(root, atom(name), XA_STRING);
  if (present && !present->empty()) return false;
  XChangeProperty(display_.get(), root, atom(name), XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  XSync(display_.get(), False);
  return true;
}

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

std::optional<std::vector<MonitorRect>> XDisplay::monitors() {
  Display* x = display();
  if (!x) return std::nullopt;
  std::vector<MonitorRect> list;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  const bool hasMonitors = XRRQueryExtension(x, &eventBase, &errorBase) && XRRQueryVersion(x, &major, &minor) &&
                           (major > 1 || (major == 1 && minor >= 5));
  if (hasMonitors) {
    int count = 0;
    MonitorsOwner monitors(XRRGetMonitors(x, DefaultRootWindow(x), True, &count));
    for (int i = 0; monitors && i < count; ++i) {
      const XRRMonitorInfo& m = monitors.get()[i];
      list.push_back({m.x, m.y, m.width, m.height, m.primary != False});
    }
  }
  if (list.empty()) {
    const int screen = DefaultScreen(x);
    list.push_back({0, 0, DisplayWidth(x, screen), DisplayHeight(x, screen), true});
  }
  return list;
}

}  // namespace kelp::platform::linux_x11
