// What the backend asks of whoever manages the top-level windows: an EWMH
// window manager on X11 (XDisplay), sway's IPC on Wayland (SwayWindows), or
// on other wlroots compositors their toplevel list (ToplevelWindows).
// The accessibility reads, the workspace and the launch watch speak only to
// this, so both sessions share one code path above it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/rules.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

using WindowId = std::uint64_t;

// A rectangle in the window server's global coordinates: X root
// coordinates, or the compositor's output layout.
struct RootRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool contains(double px, double py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
  friend bool operator==(const RootRect&, const RootRect&) = default;
};

// The smallest rectangle that holds both.
inline RootRect unionOf(const RootRect& a, const RootRect& b) {
  const int left = std::min(a.x, b.x);
  const int top = std::min(a.y, b.y);
  const int right = std::max(a.x + a.width, b.x + b.width);
  const int bottom = std::max(a.y + a.height, b.y + b.height);
  return {left, top, right - left, bottom - top};
}

// Where a client window is asked to go, in global coordinates: the top left
// of its client area (without the window manager's frame) and the client
// area's size. A part left out stays as it is.
struct WindowPlacement {
  std::optional<int> x{};
  std::optional<int> y{};
  std::optional<int> width{};
  std::optional<int> height{};
  friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// The placement that brings the rectangle the accessibility tree reports for
// a window (`reported`) to `position` and `size` (global coordinates), given
// where its client area is now (`client`). Toolkits report the client area
// or the decorated frame; whichever it is, its offset from the client area
// stays the same while the window moves.
WindowPlacement placementFor(const RootRect& reported, const RootRect& client, std::optional<Point> position,
                             std::optional<Size> size);

// A native Wayland window as X would describe it: its app id is what GTK
// sets from its application id, and what a desktop entry is named after, so
// it stands for the X class, instance and GTK id alike.
inline ClientWindow clientWindowOfAppId(WindowId window, std::optional<Pid> pid, const std::string& appId) {
  ClientWindow client;
  client.id = window;
  client.pid = pid;
  if (!appId.empty()) client.wmInstance = client.wmClass = client.gtkApplicationId = appId;
  return client;
}

// A window's title as the window manager would show it.
struct WindowTitle {
  bool present = false;            // the window has a title at all
  std::optional<std::string> text;  // as UTF-8, when it could be decoded
};

class WindowServer {
 public:
  virtual ~WindowServer() = default;

  // Whether the window server can be reached (connecting if need be).
  virtual bool available() = 0;

  // Managed top-level windows in the window manager's own list order; none
  // when it cannot be asked.
  virtual std::optional<std::vector<WindowId>> clientList() = 0;
  // Managed top-level windows from bottom to top of the stacking order.
  virtual std::optional<std::vector<WindowId>> stackingList() = 0;
  virtual std::optional<WindowId> activeWindow() = 0;

  virtual ClientWindow clientWindow(WindowId window) = 0;
  virtual std::optional<Pid> windowPid(WindowId window) = 0;
  virtual WindowTitle windowTitle(WindowId window) = 0;
  virtual bool isViewable(WindowId window) = 0;
  // Where a window lies, without and with the frame the window manager
  // draws around it.
  virtual std::optional<RootRect> clientRect(WindowId window) = 0;
  virtual std::optional<RootRect> frameRect(WindowId window) = 0;
  // The process's topmost managed window, an ordinary one where it has any.
  virtual std::optional<WindowId> topWindowOf(Pid pid) = 0;

  // Requests, each true once the window server took it about a window that
  // exists; it carries it out at once or later, or declines.
  // Makes the window the active one, raised, shown and focused.
  virtual bool activateWindow(WindowId window) = 0;
  virtual bool placeWindow(WindowId window, const WindowPlacement& placement) = 0;

  // The monitors, the primary one marked; none without a window server.
  virtual std::optional<std::vector<MonitorRect>> monitors() = 0;

  // Whether the process's windows are placed by a compositor that tells
  // clients nothing about where they are, so that every toolkit measures
  // its elements from its own window's top left.
  virtual bool placesWithoutTelling(Pid pid) = 0;
  // Whether clientRect is the window's geometry alone, without the shadow
  // a toolkit draws around it (on X11 the shadow is part of the window).
  virtual bool clientRectExcludesShadow() const = 0;
  // Whether clientRect and frameRect tell where windows are at all: some
  // window servers list windows but keep their places to themselves.
  virtual bool knowsPlaces() const { return true; }
  // Where the corner lies that a toolkit measured `content` from, when a
  // popup of the process (a menu) shows exactly that much, and the toolkit
  // measured it where it asked for the popup rather than where the window
  // server put it; none when no such popup shows, or the window server does
  // not say.
  virtual std::optional<Point> popupOrigin(Pid pid, const RootRect& content) {
    (void)pid, (void)content;
    return std::nullopt;
  }
};

}  // namespace kelp::platform::linux_desktop
