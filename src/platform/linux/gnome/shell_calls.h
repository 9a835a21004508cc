// Calls to kelp-cua's GNOME Shell extension (data/gnome-shell), which
// exports its object on the shell's own connection: the destination is
// org.gnome.Shell. Each call is bounded in time; none answers when the
// extension is not there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/gnome/screencast_monitors.h"
#include "platform/linux/handles.h"
#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::gnome {

// The extension's interface version, when it answers.
std::optional<unsigned> shellExtensionVersion(GDBusConnection* bus);
// The JSON of ListWindows and of Monitors.
std::optional<std::string> shellWindowsJson(GDBusConnection* bus);
std::optional<std::string> shellMonitorsJson(GDBusConnection* bus);
// Where the pointer is, in the compositor's global coordinates.
std::optional<Point> shellPointer(GDBusConnection* bus);
// True once the shell took the request about a window it has.
bool shellActivate(GDBusConnection* bus, WindowId window);
bool shellMoveResize(GDBusConnection* bus, WindowId window, const RootRect& frame);

// Mutter's own display configuration, which answers any caller.
std::optional<std::vector<MutterMonitor>> mutterMonitors(GDBusConnection* bus);

// The monitors: the extension's word, else Mutter's own display
// configuration, which answers any caller; none when neither does.
std::optional<std::vector<MonitorRect>> gnomeMonitors(GDBusConnection* bus);

}  // namespace kelp::platform::linux_desktop::gnome
