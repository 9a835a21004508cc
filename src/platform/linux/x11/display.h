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
#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop {

// A new connection to the display named by DISPLAY, opened without the
// complaints libxcb writes to standard error; null when there is none.
Display* openDisplayQuietly();

// Property text up to its first NUL: several clients terminate it.
std::string untilNul(const unsigned char* data, unsigned long count);

class XDisplay final : public WindowServer {
 public:
  XDisplay() = default;
  ~XDisplay() override;
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

  // Whether an X display can be had (opening it if need be).
  bool available() override { return display() != nullptr; }
  // The connection itself, for services that speak Xlib directly (XTest);
  // null without a display. A lost connection is replaced by a new one.
  Display* handle() { return display(); }

  // Managed top-level windows in the window manager's client-list order;
  // none without a display or without an EWMH window manager.
  std::optional<std::vector<WindowId>> clientList() override;
  // Managed top-level windows from bottom to top of the stacking order,
  // falling back to the client list where the stacking list is missing.
  std::optional<std::vector<WindowId>> stackingList() override;
  std::optional<WindowId> activeWindow() override;

  ClientWindow clientWindow(WindowId window) override;
  std::optional<Pid> windowPid(WindowId window) override;
  WindowTitle windowTitle(WindowId window) override;
  bool isViewable(WindowId window) override;
  // Where a client window lies on the root window, without and with the
  // frame the window manager draws around it (_NET_FRAME_EXTENTS).
  std::optional<RootRect> clientRect(WindowId window) override;
  std::optional<RootRect> frameRect(WindowId window) override;
  // The process's topmost managed window in the stacking order, an ordinary
  // one where it has any.
  std::optional<WindowId> topWindowOf(Pid pid) override;

  // Requests to the window manager, made as a pager makes them. Each is true
  // once it was sent about a window that exists; the window manager carries
  // it out later, or declines.
  // Makes the window the active one, raised, shown and focused.
  bool activateWindow(WindowId window) override;
  bool placeWindow(WindowId window, const WindowPlacement& placement) override;

  // Sets a STRING property of the root window where it is unset or empty;
  // true when it was set now.
  bool setRootTextIfMissing(const char* name, const std::string& text);

  // X clients know where their windows are, and a window includes whatever
  // its toolkit draws around it.
  bool placesWithoutTelling(Pid) override { return false; }
  bool clientRectExcludesShadow() const override { return false; }

  // The active RandR monitors; the whole screen as one primary monitor where
  // RandR cannot list monitors. None without a display.
  std::optional<std::vector<MonitorRect>> monitors() override;

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

}  // namespace kelp::platform::linux_desktop
