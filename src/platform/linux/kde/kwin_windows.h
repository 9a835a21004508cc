// KWin's windows, through a small KWin script loaded over D-Bus that
// reports every window (id, caption, pid, frame) back to this process and
// activates or moves one on request. KWin asks no permission for scripts.
#pragma once

#include <optional>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::kde {

class KWinWindows final : public WindowServer {
 public:
  KWinWindows();
  ~KWinWindows() override;

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

}  // namespace kelp::platform::linux_desktop::kde
