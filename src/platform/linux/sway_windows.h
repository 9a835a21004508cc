// The window list of sway, read and steered over its IPC socket (the
// i3-compatible protocol sway offers at SWAYSOCK). On Wayland nothing else
// tells a client where other windows are, nor lets it move them.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_x11 {

// ---- decisions without a socket ----------------------------------------------

// One top-level window (a "view") of sway's tree.
struct SwayView {
  WindowId id = 0;  // the container id, which commands select by
  std::optional<Pid> pid;
  std::string appId;  // app_id, or the X class for Xwayland windows
  std::optional<std::string> instance;  // Xwayland windows' X instance name
  std::optional<std::string> name;
  RootRect content;  // the window's geometry in the output layout
  RootRect frame;    // with sway's border and title bar
  bool focused = false;
  bool visible = false;
  bool floating = false;
  bool xwayland = false;
};

// The views of a get_tree reply, bottom to top: windows on hidden
// workspaces and the scratchpad first, then each shown workspace's tiled
// windows and its floating ones (which sway lists in stacking order).
std::vector<SwayView> swayViews(const nlohmann::json& tree);

// The active outputs of a get_outputs reply, the one at the layout's origin
// marked primary (else the first): sway has no primary output of its own.
std::vector<MonitorRect> swayOutputs(const nlohmann::json& outputs);

// The commands that carry out `placement` (client-area terms) for `view`.
// Sway moves and sizes containers, whose rectangle includes its border, and
// resizes them about their centre, so a resize is followed by a move.
// None when nothing is asked; an empty answer for a window that only
// floating could move (sway places tiled windows itself).
std::optional<std::vector<std::string>> swayPlacementCommands(const SwayView& view, const WindowPlacement& placement);

// Whether a run_command reply says every command succeeded.
bool swayCommandsSucceeded(const nlohmann::json& reply);

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

}  // namespace kelp::platform::linux_x11
