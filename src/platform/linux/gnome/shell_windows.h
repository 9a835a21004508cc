// GNOME Shell's windows, through the D-Bus interface of kelp-cua's own shell
// extension (data/gnome-shell): no stock interface of GNOME lists windows
// with their places and processes to an ordinary client. Without the
// extension the list is unavailable and nothing pretends otherwise.
#pragma once

#include <optional>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::gnome {

class ShellWindows final : public WindowServer {
 public:
  ShellWindows();
  ~ShellWindows() override;

  // Whether the extension answers on the session bus.
  bool extensionPresent();

  bool available() override;
  std::optional<std::vector<WindowId>> clientList() override;
  std::optional<std::vector<WindowId>> stackingList() override;
  std::optional<WindowId> activeWindow() override;
  ClientWindow clientWindow(WindowId window) override;
  std::optional<Pid> windowPid(WindowId window) override;
  WindowTitle windowTitle(WindowId window) override;
  bool isViewable(WindowId window) override;
  std::optional<RootRect> clientRect(WindowId window) override;
  std::optional<RootRect> frameRect(WindowId window) override;
  std::optional<WindowId> topWindowOf(Pid pid) override;
  bool activateWindow(WindowId window) override;
  bool placeWindow(WindowId window, const WindowPlacement& placement) override;
  std::optional<std::vector<MonitorRect>> monitors() override;
  bool placesWithoutTelling(Pid pid) override;
  bool clientRectExcludesShadow() const override;
};

}  // namespace kelp::platform::linux_desktop::gnome
