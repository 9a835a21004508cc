// The KWin script that lists KWin's windows and acts on one, and what it
// reports back: the script's text for one request, the report read into
// plain records, and the frame that carries out a placement. Decisions
// without a bus, for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::kde {

// Where the script reports to: an object this process exports on its own
// unique name.
inline constexpr const char* REPORT_PATH = "/org/kelp/cua/KWinReport";
inline constexpr const char* REPORT_INTERFACE = "org.kelp.cua.KWinReport";
inline constexpr const char* REPORT_METHOD = "Report";

// What one run of the script does before it reports.
struct ScriptRequest {
  enum class Action { list, activate, place };
  Action action = Action::list;
  std::string window;             // the window's internalId, for activate and place
  std::optional<RootRect> frame;  // place: its new frame geometry
};

// The script for `request`, reporting with `token` to `service` (a unique
// bus name) at REPORT_PATH. Written for KWin 5.27's scripting; where KWin
// 6 renamed what it reads, both names are tried.
std::string scriptText(const ScriptRequest& request, const std::string& service, const std::string& token);

// One window as the script reports it. KWin's frame geometry is the
// window's geometry with KWin's own decoration, without the shadow a
// client draws; its buffer geometry is the client's surface, with such a
// shadow and without KWin's decoration.
struct KWinWindow {
  WindowId id = 0;       // from internalId, the same in every process
  std::string internalId;
  std::optional<Pid> pid;
  std::string caption;
  std::string resourceClass;  // the app id of a Wayland window, the X class of an X one
  std::string resourceName;
  std::string desktopFile;
  RootRect frame;
  RootRect buffer;
  WindowKind kind = WindowKind::normal;
  int stacking = 0;  // higher is nearer the top
  bool active = false;
  bool minimized = false;
  bool shown = false;    // on the current desktop and not minimized
  bool xwayland = false;
};

struct KWinReport {
  std::vector<KWinWindow> windows;  // in KWin's list order
  std::vector<RootRect> screens;    // in KWin's order
  bool done = false;                // the action found its window and was carried out
};

// The report the script sent; none when it is not one.
std::optional<KWinReport> parseReport(const std::string& text);

// The window id for a KWin internalId ("{8-4-4-4-12}" hex): its first 64
// bits. Ids are made alike in every process, so a window keeps its id
// across the threads' own window servers.
std::optional<WindowId> windowIdOf(const std::string& internalId);

// The frame geometry that brings the window's buffer (where the client
// measures from) to `placement`, keeping the decoration and shadow around
// it as they are.
RootRect frameForPlacement(const KWinWindow& window, const WindowPlacement& placement);

}  // namespace kelp::platform::linux_desktop::kde
