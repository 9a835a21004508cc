// GNOME Shell's windows through the extension's D-Bus interface.
#include "platform/linux/gnome/shell_windows.h"

namespace kelp::platform::linux_desktop::gnome {

ShellWindows::ShellWindows() = default;
ShellWindows::~ShellWindows() = default;
bool ShellWindows::extensionPresent() { return false; }
bool ShellWindows::available() { return false; }
std::optional<std::vector<WindowId>> ShellWindows::clientList() { return std::nullopt; }
std::optional<std::vector<WindowId>> ShellWindows::stackingList() { return std::nullopt; }
std::optional<WindowId> ShellWindows::activeWindow() { return std::nullopt; }
ClientWindow ShellWindows::clientWindow(WindowId window) { return clientWindowOfAppId(window, std::nullopt, ""); }
std::optional<Pid> ShellWindows::windowPid(WindowId) { return std::nullopt; }
WindowTitle ShellWindows::windowTitle(WindowId) { return {}; }
bool ShellWindows::isViewable(WindowId) { return false; }
std::optional<RootRect> ShellWindows::clientRect(WindowId) { return std::nullopt; }
std::optional<RootRect> ShellWindows::frameRect(WindowId) { return std::nullopt; }
std::optional<WindowId> ShellWindows::topWindowOf(Pid) { return std::nullopt; }
bool ShellWindows::activateWindow(WindowId) { return false; }
bool ShellWindows::placeWindow(WindowId, const WindowPlacement&) { return false; }
std::optional<std::vector<MonitorRect>> ShellWindows::monitors() { return std::nullopt; }
bool ShellWindows::placesWithoutTelling(Pid) { return true; }
bool ShellWindows::clientRectExcludesShadow() const { return false; }

}  // namespace kelp::platform::linux_desktop::gnome
