// The X display, opened on first need and read through EWMH properties and
// RandR. Each instance is used by one thread only, like all of Xlib here:
// the main thread's, or the one a launch watch opens for itself.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/rules.h"

namespace kelp::platform::linux_x11 {

using WindowId = std::uint64_t;

// A rectangle in X root coordinates.
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

// Where a client window is asked to go, in root coordinates: the top left
// of its client area (without the window manager's frame) and the client
// area's size. A part left out stays as it is.
struct WindowPlacement {
  std::optional<int> x;
  std::optional<int> y;
  std::optional<int> width;
  std::optional<int> height;
  friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// The placement that brings the rectangle the accessibility tree reports for
// a window (`reported`) to `position` and `size` (root coordinates), given
// where its client area is now (`client`). Toolkits report the client area
// or the decorated frame; whichever it is, its offset from the client area
// stays the same while the window moves.
WindowPlacement placementFor(const RootRect& reported, const RootRect& client, std::optional<Point> position,
                             std::optional<Size> size);

// A window's title as the window manager would show it.
struct WindowTitle {
  bool present = false;            // _NET_WM_NAME or WM_NAME is set at all
  std::optional<std::string> text;  // as UTF-8, when it could be decoded
};

// A new connection to the display named by DISPLAY, opened without the
// complaints libxcb writes to standard error; null when there is none.
Display* openDisplayQuietly();

// Property text up to its first NUL: several clients terminate it.
std::string untilNul(const unsigned char* data, unsigned long count);

class XDisplay {
 public:
  XDisplay() = default;
  ~XDisplay();
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

  // Whether an X display can be had (opening it if need be).
  bool available() { return display() != nullptr; }
  // The connection itself, for services that speak Xlib directly (XTest);
  // null without a display. A lost connection is replaced by a new one.
  Display* handle() { return display(); }

  // Managed top-level windows in the window manager's client-list order;
  // none without a display or without an EWMH window manager.
  std::optional<std::vector<WindowId>> clientList();
  // Managed top-level windows from bottom to top of the stacking order,
  // falling back to the client list where the stacking list is missing.
  std::optional<std::vector<WindowId>> stackingList();
  std::optional<WindowId> activeWindow();

  ClientWindow clientWindow(WindowId window);
  std::optional<Pid> windowPid(WindowId window);
  WindowTitle windowTitle(WindowId window);
  bool isViewable(WindowId window);
  // Where a client window lies on the root window, without and with the
  // frame the window manager draws around it (_NET_FRAME_EXTENTS).
  std::optional<RootRect> clientRect(WindowId window);
  std::optional<RootRect> frameRect(WindowId window);
  // The process's topmost managed window in the stacking order, an ordinary
  // one where it has any.
  std::optional<WindowId> topWindowOf(Pid pid);

  // Requests to the window manager, made as a pager makes them. Each is true
  // once it was sent about a window that exists; the window manager carries
  // it out later, or declines.
  // Makes the window the active one, raised, shown and focused.
  bool activateWindow(WindowId window);
  bool placeWindow(WindowId window, const WindowPlacement& placement);

  // Sets a STRING property of the root window where it is unset or empty;
  // true when it was set now.
  bool setRootTextIfMissing(const char* name, const std::string& text);

  // The active RandR monitors; the whole screen as one primary monitor where
  // RandR cannot list monitors. None without a display.
  std::optional<std::vector<MonitorRect>> monitors();

  // Called by Xlib when the connection broke; the display is dropped at the
  // next use and opened anew.
  void markLost() { lost_ = true; }
  // The connection broke and is replaced at the next use; whoever holds
  // server resources of it learns so here first.
  bool lost() const { return lost_; }

 private:
  Display* display();
  Atom atom(const char* name);
  // A property's items when it has exactly this type and format; no data otherwise.
  struct Property {
    XMemory<unsigned char> data;
    unsigned long count = 0;
  };
  Property property(Window window, Atom property, Atom type, int format);
  std::optional<std::vector<unsigned long>> longs(Window window, Atom property, Atom type);
  std::optional<std::string> text8(Window window, Atom property, Atom type);
  std::vector<std::string> windowTypeNames(Window window);
  std::optional<std::vector<WindowId>> rootWindowList(const char* property);
  bool windowExists(Window window);
  bool windowManagerSupports(const char* name);
  void sendToWindowManager(Window window, const char* message, const std::array<long, 5>& data);
  // The X server's current time, for requests that must not look stale.
  Time serverTime();

  DisplayOwner display_;
  bool lost_ = false;
  std::map<std::string, Atom, std::less<>> atoms_;
  Window timeWindow_ = None;  // ours, unmapped, for serverTime
};

}  // namespace kelp::platform::linux_x11
