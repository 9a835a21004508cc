// The window list of a wlroots compositor without sway's IPC, from the
// toplevel handles wlr-foreign-toplevel-management announces: titles, app
// ids and whether a window is active or minimized. The protocol tells
// neither where windows are nor which process owns them, and cannot move
// them; it can activate one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/window_server.h"
#include "platform/linux/wayland/connection.h"

struct zwlr_foreign_toplevel_handle_v1_listener;

namespace kelp::platform::linux_desktop::wayland {


// ---- which process shows a window ------------------------------------------

// A process of this user, as far as telling it by name goes.
struct ProcessFacts {
  Pid pid = 0;
  std::string exeName;  // basename of /proc/PID/exe; empty when unreadable
  std::string comm;     // the kernel's name for it, cut to 15 bytes
  std::uint64_t startTicks = 0;
  // Whether its WAYLAND_DISPLAY is this process's: an application of
  // another session is not one of this compositor's windows.
  bool sameDisplay = false;
};

// The names a process of `appId` goes by: the app id itself, and its last
// dot-separated part lowercased ("org.xfce.mousepad" -> "mousepad").
std::vector<std::string> processNamesFor(std::string_view appId);

// The process a window with `appId` most likely belongs to: one whose
// executable's basename or comm is one of processNamesFor(appId) (comm
// compared as the kernel cuts it). Of several, one of this session comes
// first, then the most recently started (a new window is most likely the
// newest instance's), then the highest pid. None when nothing matches.
std::optional<Pid> processForAppId(std::string_view appId, const std::vector<ProcessFacts>& processes);

// When a process started, in clock ticks since boot: field 22 of
// /proc/PID/stat, counted after the command name, which may hold spaces
// and parentheses itself. None for a zombie or what does not parse.
std::optional<std::uint64_t> startTicksOf(std::string_view stat);

// This user's running processes whose executable or comm is one of `names`,
// read from /proc.
std::vector<ProcessFacts> processesNamed(const std::vector<std::string>& names);

// ---- the service -------------------------------------------------------------

class ToplevelWindows final : public WindowServer {
 public:
  // On the shared connection of the main thread, or (for another thread)
  // on a connection of its own. Made before the connection is first used,
  // so that it hears every announcement.
  explicit ToplevelWindows(WaylandConnection& wayland);
  ToplevelWindows();
  ~ToplevelWindows() override;
  ToplevelWindows(const ToplevelWindows&) = delete;
  ToplevelWindows& operator=(const ToplevelWindows&) = delete;

  bool available() override;
  std::optional<std::vector<WindowId>> clientList() override;
  std::optional<std::vector<WindowId>> stackingList() override;
  std::optional<WindowId> activeWindow() override;
  ClientWindow clientWindow(WindowId window) override;
  std::optional<Pid> windowPid(WindowId window) override;
  WindowTitle windowTitle(WindowId window) override;
  bool isViewable(WindowId window) override;
  std::optional<RootRect> clientRect(WindowId) override { return std::nullopt; }
  std::optional<RootRect> frameRect(WindowId) override { return std::nullopt; }
  std::optional<WindowId> topWindowOf(Pid pid) override;
  bool activateWindow(WindowId window) override;
  bool placeWindow(WindowId, const WindowPlacement&) override { return false; }
  std::optional<std::vector<MonitorRect>> monitors() override { return wayland_.monitors(); }
  // No window's place is told to anyone, its own client included.
  bool placesWithoutTelling(Pid) override { return true; }
  bool clientRectExcludesShadow() const override { return true; }
  bool knowsPlaces() const override { return false; }

  struct Toplevel {
    ToplevelWindows* owner = nullptr;
    WindowId id = 0;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    std::optional<std::string> title;
    std::string appId;
    bool activated = false;
    bool minimized = false;
    bool described = false;  // its first description is complete
    std::optional<Pid> pid;  // once found, kept: a window does not change hands
  };

 private:
  // The toplevels as the compositor last told them, after a roundtrip at
  // most once per short while; null without a connection.
  std::vector<std::unique_ptr<Toplevel>>* toplevels();
  Toplevel* find(WindowId window);
  static const zwlr_foreign_toplevel_handle_v1_listener HANDLE_LISTENER;
  void announced(zwlr_foreign_toplevel_handle_v1* handle);
  void closed(const Toplevel* toplevel);
  void forgetAll();

  std::unique_ptr<WaylandConnection> own_;  // when not on a shared one
  WaylandConnection& wayland_;
  std::uint64_t dropListener_ = 0;
  std::vector<std::unique_ptr<Toplevel>> toplevels_;
  WindowId nextId_ = 1;
  std::int64_t askedMicros_ = 0;
};

}  // namespace kelp::platform::linux_desktop::wayland
