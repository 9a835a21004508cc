// What kelp-cua's GNOME Shell extension answers (data/gnome-shell/service.js),
// read without a connection: its window list and monitors as JSON, and the
// decisions taken on them, so that tests can check each one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::gnome {

// The extension's interface version this build speaks.
inline constexpr unsigned SHELL_EXTENSION_VERSION = 1;

// One window as the extension lists it.
struct ShellWindow {
  WindowId id = 0;
  std::optional<std::string> title;
  std::optional<std::string> wmClass;
  std::optional<std::string> wmInstance;
  std::optional<std::string> appId;  // GTK's application id, or a sandbox's
  std::optional<Pid> pid;
  RootRect frame;   // what Mutter draws as the window, without its shadow
  RootRect buffer;  // the client's whole surface, shadow and all
  bool focused = false;
  bool minimized = false;
  bool shown = false;  // on the active workspace and not minimized
  int stacking = 0;    // from the bottom
  std::string type;    // Meta.WindowType's name in lower case
  bool x11 = false;    // a client of Xwayland
};

// The windows of a ListWindows reply, from the bottom of the stacking order
// to the top; none when it is not such a list. A window without an id or a
// rectangle is left out.
std::optional<std::vector<ShellWindow>> parseShellWindows(const std::string& json);

// The monitors of a Monitors reply; none when it is not such a list.
std::optional<std::vector<MonitorRect>> parseShellMonitors(const std::string& json);

// Whether a window of this Meta type is a managed top-level window, as an
// EWMH client list holds them; menus, tooltips and drag icons are not.
bool isManagedType(const std::string& type);
// The kind the backend's rules give windows of this Meta type.
WindowKind kindOfType(const std::string& type);

// The window as an X client window would describe it: the GTK id where the
// window has one, else its class and instance.
ClientWindow clientWindowOf(const ShellWindow& window);

// The corner `content` was measured from, when the topmost shown popup of
// `pid` in `popups` whose frame has `content`'s size shows it; none when no
// popup has that size.
std::optional<Point> popupOriginOf(const std::vector<ShellWindow>& popups, Pid pid, const RootRect& content);

// The process's topmost window in `stacked` (bottom to top), an ordinary
// one where it has any.
std::optional<WindowId> topWindowOf(const std::vector<ShellWindow>& stacked, Pid pid);

// The frame rectangle to ask Mutter for so that the window's buffer (what
// clientRect reports) takes `placement`: the frame keeps its offset and its
// difference in size from the buffer. None when nothing is asked.
std::optional<RootRect> frameForPlacement(const ShellWindow& window, const WindowPlacement& placement);

}  // namespace kelp::platform::linux_desktop::gnome
