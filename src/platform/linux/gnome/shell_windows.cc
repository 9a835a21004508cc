// GNOME Shell's windows through the extension's D-Bus interface.
#include "platform/linux/gnome/shell_windows.h"

#include <algorithm>
#include <chrono>

#include "platform/linux/gnome/shell_calls.h"
#include "platform/linux/session_bus.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

// Windows read this recently answer again without asking.
constexpr std::int64_t WINDOWS_FRESH_MICROS = 50'000;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ShellWindows::ShellWindows() = default;
ShellWindows::~ShellWindows() = default;

GDBusConnection* ShellWindows::bus() {
  if (bus_ && !g_dbus_connection_is_closed(bus_.get())) return bus_.get();
  bus_ = connectToSessionBus(DBUS_CALL_TIMEOUT_MS);
  return bus_.get();
}

bool ShellWindows::extensionPresent() {
  const std::optional<unsigned> version = shellExtensionVersion(bus());
  return version && *version == SHELL_EXTENSION_VERSION;
}

const std::vector<ShellWindow>* ShellWindows::windows() {
  const std::int64_t now = nowMicros();
  if (windows_ && now - windowsReadMicros_ < WINDOWS_FRESH_MICROS) return &*windows_;
  windows_.reset();
  const std::optional<std::string> json = shellWindowsJson(bus());
  std::optional<std::vector<ShellWindow>> parsed = json ? parseShellWindows(*json) : std::nullopt;
  if (!parsed) return nullptr;
  popups_.clear();
  for (const ShellWindow& w : *parsed) {
    if (!isManagedType(w.type)) popups_.push_back(w);
  }
  std::erase_if(*parsed, [](const ShellWindow& w) { return !isManagedType(w.type); });
  windows_ = std::move(parsed);
  windowsReadMicros_ = now;
  return &*windows_;
}

const ShellWindow* ShellWindows::window(WindowId id) {
  const std::vector<ShellWindow>* all = windows();
  if (!all) return nullptr;
  const auto found = std::find_if(all->begin(), all->end(), [id](const ShellWindow& w) { return w.id == id; });
  return found != all->end() ? &*found : nullptr;
}

std::optional<std::vector<WindowId>> ShellWindows::clientList() {
  const std::vector<ShellWindow>* all = windows();
  if (!all) return std::nullopt;
  std::vector<WindowId> ids;
  for (const ShellWindow& w : *all) ids.push_back(w.id);
  return ids;
}

std::optional<std::vector<WindowId>> ShellWindows::stackingList() { return clientList(); }

std::optional<WindowId> ShellWindows::activeWindow() {
  const std::vector<ShellWindow>* all = windows();
  if (!all) return std::nullopt;
  for (const ShellWindow& w : *all) {
    if (w.focused) return w.id;
  }
  return std::nullopt;
}

ClientWindow ShellWindows::clientWindow(WindowId id) {
  const ShellWindow* w = window(id);
  return w ? clientWindowOf(*w) : clientWindowOfAppId(id, std::nullopt, "");
}

std::optional<Pid> ShellWindows::windowPid(WindowId id) {
  const ShellWindow* w = window(id);
  return w ? w->pid : std::nullopt;
}

WindowTitle ShellWindows::windowTitle(WindowId id) {
  const ShellWindow* w = window(id);
  if (!w || !w->title) return {};
  return {true, w->title};
}

bool ShellWindows::isViewable(WindowId id) {
  const ShellWindow* w = window(id);
  return w && w->shown;
}

std::optional<RootRect> ShellWindows::clientRect(WindowId id) {
  const ShellWindow* w = window(id);
  return w ? std::optional(w->buffer) : std::nullopt;
}

std::optional<RootRect> ShellWindows::frameRect(WindowId id) {
  const ShellWindow* w = window(id);
  return w ? std::optional(w->frame) : std::nullopt;
}

std::optional<WindowId> ShellWindows::topWindowOf(Pid pid) {
  const std::vector<ShellWindow>* all = windows();
  if (!all) return std::nullopt;
  return gnome::topWindowOf(*all, pid);
}

bool ShellWindows::activateWindow(WindowId id) {
  if (!window(id)) return false;
  const bool taken = shellActivate(bus(), id);
  // Whatever the shell did, the windows read before it are out of date.
  windows_.reset();
  return taken;
}

bool ShellWindows::placeWindow(WindowId id, const WindowPlacement& placement) {
  const ShellWindow* w = window(id);
  if (!w) return false;
  const std::optional<RootRect> frame = frameForPlacement(*w, placement);
  if (!frame) return true;
  const bool taken = shellMoveResize(bus(), id, *frame);
  windows_.reset();
  return taken;
}

std::optional<Point> ShellWindows::popupOrigin(Pid pid, const RootRect& content) {
  if (!windows()) return std::nullopt;
  return popupOriginOf(popups_, pid, content);
}

std::optional<std::vector<MonitorRect>> ShellWindows::monitors() { return gnomeMonitors(bus()); }

bool ShellWindows::placesWithoutTelling(Pid pid) {
  const std::vector<ShellWindow>* all = windows();
  if (!all) return true;
  bool anyWindow = false;
  for (const ShellWindow& w : *all) {
    if (w.pid != pid) continue;
    if (!w.x11) return true;
    anyWindow = true;
  }
  return !anyWindow;
}

}  // namespace kelp::platform::linux_desktop::gnome
