// What sway's IPC replies say, read into plain records, and the commands
// that carry out a placement: decisions without a socket, for tests.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::wayland {

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

}  // namespace kelp::platform::linux_desktop::wayland
