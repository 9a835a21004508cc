// GNOME Shell's windows, through the D-Bus interface of kelp-cua's own shell
// extension (data/gnome-shell): no stock interface of GNOME lists windows
// with their places and processes to an ordinary client. Without the
// extension the list is unavailable and nothing pretends otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/gnome/shell_reply.h"
#include "platform/linux/handles.h"
#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::gnome {

class ShellWindows final : public WindowServer {
 public:
  ShellWindows();
  ~ShellWindows() override;
  ShellWindows(const ShellWindows&) = delete;
  ShellWindows& operator=(const ShellWindows&) = delete;

  // Whether the extension answers on the session bus, in a version this
  // build understands.
  bool extensionPresent();

  bool available() override { return extensionPresent(); }
  std::optional<std::vector<WindowId>> clientList() override;
  std::optional<std::vector<WindowId>> stackingList() override;
  std::optional<WindowId> activeWindow() override;
  ClientWindow clientWindow(WindowId window) override;
  std::optional<Pid> windowPid(WindowId window) override;
  WindowTitle windowTitle(WindowId window) override;
  bool isViewable(WindowId window) override;
  // The client's whole surface: GTK measures its accessible frames from its
  // corner, shadow included.
  std::optional<RootRect> clientRect(WindowId window) override;
  // What Mutter draws as the window, without the shadow.
  std::optional<RootRect> frameRect(WindowId window) override;
  std::optional<WindowId> topWindowOf(Pid pid) override;
  bool activateWindow(WindowId window) override;
  bool placeWindow(WindowId window, const WindowPlacement& placement) override;
  std::optional<std::vector<MonitorRect>> monitors() override;
  // Xwayland windows know where they are, as on X11; native ones do not.
  bool placesWithoutTelling(Pid pid) override;
  bool clientRectExcludesShadow() const override { return false; }
  std::optional<Point> popupOrigin(Pid pid, const RootRect& content) override;

 private:
  GDBusConnection* bus();
  // The managed windows, bottom to top, read at most once per short while:
  // a burst of reads asks about the same windows many times over.
  const std::vector<ShellWindow>* windows();
  const ShellWindow* window(WindowId id);

  GRef<GDBusConnection> bus_;
  std::optional<std::vector<ShellWindow>> windows_;
  std::vector<ShellWindow> popups_;  // menus and the like, read with windows_
  std::int64_t windowsReadMicros_ = 0;
};

}  // namespace kelp::platform::linux_desktop::gnome
