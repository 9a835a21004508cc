// The Linux backend's decisions that need no desktop to make: which
// compositor runs the session, where the session bus is, how RandR monitors
// become seam screens, what an EWMH window type means, and how window
// owners and accessibility registrations merge into running applications. Plain records in, plain records out, so tests
// can check them without X or D-Bus.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// ---- session -----------------------------------------------------------------

// Which window server the session runs: WAYLAND_DISPLAY names a Wayland
// compositor, DISPLAY alone an X server. Applications that run through
// Xwayland in a Wayland session are reached through the compositor too.
// Of Wayland compositors, GNOME's (Mutter) and KDE's (KWin) have interfaces
// of their own for input, pictures and windows; every other one is taken
// for a wlroots compositor.
enum class Session { x11, wayland, gnome, kde };
inline bool isWayland(Session session) { return session != Session::x11; }

// The session from what it says of itself: WAYLAND_DISPLAY, then
// XDG_CURRENT_DESKTOP (a colon-separated list such as "ubuntu:GNOME"), then
// which compositor owns its name on the session bus (`ownsBusName`, asked
// only when the desktop's name tells nothing).
Session sessionOf(const char* waylandDisplay, const char* currentDesktop,
                  const std::function<bool(const char*)>& ownsBusName);
// The compositor as "doctor" names it; empty on X11.
const char* compositorName(Session session);

// ---- session bus -----------------------------------------------------------

// The session bus address to connect to, or none. `sessionAddress` is
// DBUS_SESSION_BUS_ADDRESS, `runtimeDir` is XDG_RUNTIME_DIR and
// `runtimeSocketExists` says whether "<runtimeDir>/bus" is a socket.
// Alternatives that would start a bus (autolaunch:) are dropped: asking must
// never spawn one.
std::optional<std::string> sessionBusAddress(const std::optional<std::string>& sessionAddress,
                                             const std::optional<std::string>& runtimeDir,
                                             bool runtimeSocketExists);

// ---- screens ---------------------------------------------------------------

// A RandR monitor in X coordinates: pixels, origin top left, y downwards.
struct MonitorRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool primary = false;
};

// The seam's screens: origin at the lower left of the primary monitor, y
// upwards; the primary monitor is main. Without a primary monitor the first
// one takes its place.
std::vector<Screen> screensFromMonitors(const std::vector<MonitorRect>& monitors);

// Where the accessibility space's origin (the top left of the main screen,
// as screensFromMonitors chooses it) lies in X root coordinates; (0, 0)
// without monitors.
Point accessibilityOrigin(const std::vector<MonitorRect>& monitors);

// ---- windows ---------------------------------------------------------------

// What an EWMH window type list makes of a top-level window.
enum class WindowKind {
  normal,   // normal, dialog, or no type the window manager would understand
  dock,     // panels and docks
  desktop,  // the desktop itself, never listed as a window
  other,    // toolbars, menus, splash screens, notifications, ...
};

// `typeNames` are the atom names of _NET_WM_WINDOW_TYPE in the window's order
// of preference; the first known one decides.
WindowKind windowKind(const std::vector<std::string>& typeNames);

// The window layer the seam reports for a kind: 0 for ordinary windows,
// positive for anything floating above them.
std::int64_t windowLayer(WindowKind kind);

// ---- running applications --------------------------------------------------

// Facts read from one top-level client window.
struct ClientWindow {
  std::uint64_t id = 0;
  std::optional<Pid> pid;
  std::optional<std::string> wmInstance;  // WM_CLASS res_name
  std::optional<std::string> wmClass;     // WM_CLASS res_class
  std::optional<std::string> gtkApplicationId;
  WindowKind kind = WindowKind::normal;
};

// One process that owns top-level windows, described by its windows.
struct WindowOwner {
  Pid pid = 0;
  std::optional<std::string> wmInstance;
  std::optional<std::string> wmClass;
  std::optional<std::string> gtkApplicationId;
  bool ownsRegularWindow = false;
};

// Window owners in the order of their first window in `clients`; windows
// without a process id belong to nobody.
std::vector<WindowOwner> windowOwners(const std::vector<ClientWindow>& clients);

// The desktop entry ids ("x.desktop") worth looking up for an owner, the
// most telling first, without repeats.
std::vector<std::string> desktopEntryCandidates(const WindowOwner& owner);

// An application registered on the accessibility bus.
struct AccessibleApp {
  Pid pid = 0;
  std::string name;
};

// An owner's bundle id: the id of the desktop entry found for it
// (`desktopEntryId`, without ".desktop"), which is also what opens it, else
// its WM_CLASS class.
std::optional<std::string> bundleIdFor(const WindowOwner& owner, const std::optional<std::string>& desktopEntryId);

// Window owners first, in their order, then applications known only to the
// accessibility bus, in theirs; one entry per process. `bundleIds` runs
// parallel to `owners`.
std::vector<RunningApp> mergeRunningApps(const std::vector<WindowOwner>& owners,
                                         const std::vector<std::optional<std::string>>& bundleIds,
                                         const std::vector<AccessibleApp>& accessibleApps,
                                         std::optional<Pid> activePid);

// The name a program gives itself on the accessibility bus, as its command
// line (/proc/PID/cmdline, arguments split by NUL) tells it: the file name
// of its program, less the ".bin" of a program started by a wrapper script
// of its name. For an application too busy to tell its name, so that it is
// listed by the name it had.
std::string programName(std::string_view commandLine);

// The name shown for a process: its accessibility name when it has one, else
// the WM_CLASS class of its window.
std::optional<std::string> applicationName(const std::optional<std::string>& accessibleName,
                                           const std::optional<std::string>& wmClass);

// ---- launching with accessibility on ---------------------------------------

// What an application started through "activate" gets in its environment so
// that its toolkit shows its tree from the start: the accessibility bus's
// address (Qt reads it there instead of racing to ask the session bus for
// it), and the switches the toolkits read.
std::vector<std::pair<std::string, std::string>> accessibilityEnvironment(
    const std::optional<std::string>& accessibilityBusAddress);

// The command with the switches its program needs for the same: Chromium
// and Electron builds keep their web content's tree off unless told.
std::vector<std::string> withAccessibilitySwitches(std::vector<std::string> command);

// ---- text ------------------------------------------------------------------

// X STRING properties are ISO 8859-1.
std::string latin1ToUtf8(std::string_view latin1);

}  // namespace kelp::platform::linux_desktop
