// The window list of sway, read and steered over its IPC socket (the
// i3-compatible protocol sway offers at SWAYSOCK). On Wayland nothing else
// tells a client where other windows are, nor lets it move them.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/wayland/sway_tree.h"
#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::wayland {

// Where sway's IPC socket is: SWAYSOCK when set, else the one sway puts in
// the runtime folder; none when there is no such socket.
std::optional<std::string> swaySocketPath();

// ---- the service -------------------------------------------------------------

class SwayWindows final : public WindowServer {
 public:
  SwayWindows() = default;
  ~SwayWindows() override;
  SwayWindows(const SwayWindows&) = delete;
  SwayWindows& operator=(const SwayWindows&) = delete;

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
  // Xwayland windows know where they are, as on X11; native ones do not.
  bool placesWithoutTelling(Pid pid) override;
  bool clientRectExcludesShadow() const override { return true; }

 private:
  // One request and its reply; none when sway cannot be reached or
  // answered with something else. A broken socket is reopened next time.
  std::optional<nlohmann::json> ask(std::uint32_t type, const std::string& payload = "");
  bool connect();
  void disconnect();
  // The views, read at most once per short while: a burst of reads asks
  // about the same windows many times over.
  const std::vector<SwayView>* views();
  const SwayView* view(WindowId window);
  bool command(const std::string& text);

  int socket_ = -1;
  std::optional<std::vector<SwayView>> views_;
  std::int64_t viewsReadMicros_ = 0;
};

}  // namespace kelp::platform::linux_desktop::wayland
