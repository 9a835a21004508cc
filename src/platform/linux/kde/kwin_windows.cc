// KWin's windows through a KWin script.
#include "platform/linux/kde/kwin_windows.h"

namespace kelp::platform::linux_desktop::kde {

KWinWindows::KWinWindows() = default;
KWinWindows::~KWinWindows() = default;
bool KWinWindows::available() { return false; }
std::optional<std::vector<WindowId>> KWinWindows::clientList() { return std::nullopt; }
std::optional<std::vector<WindowId>> KWinWindows::stackingList() { return std::nullopt; }
std::optional<WindowId> KWinWindows::activeWindow() { return std::nullopt; }
ClientWindow KWinWindows::clientWindow(WindowId window) { return clientWindowOfAppId(window, std::nullopt, ""); }
std::optional<Pid> KWinWindows::windowPid(WindowId) { return std::nullopt; }
WindowTitle KWinWindows::windowTitle(WindowId) { return {}; }
bool KWinWindows::isViewable(WindowId) { return false; }
std::optional<RootRect> KWinWindows::clientRect(WindowId) { return std::nullopt; }
std::optional<RootRect> KWinWindows::frameRect(WindowId) { return std::nullopt; }
std::optional<WindowId> KWinWindows::topWindowOf(Pid) { return std::nullopt; }
bool KWinWindows::activateWindow(WindowId) { return false; }
bool KWinWindows::placeWindow(WindowId, const WindowPlacement&) { return false; }
std::optional<std::vector<MonitorRect>> KWinWindows::monitors() { return std::nullopt; }
bool KWinWindows::placesWithoutTelling(Pid) { return true; }
bool KWinWindows::clientRectExcludesShadow() const { return false; }

}  // namespace kelp::platform::linux_desktop::kde
