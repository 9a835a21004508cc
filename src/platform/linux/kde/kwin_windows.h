// KWin's windows, through a small KWin script loaded over D-Bus that
// reports every window (id, caption, pid, frame) back to this process and
// activates or moves one on request. KWin asks no permission for scripts.
//
// A script cannot return a value: each request loads a script with the
// request written into it, runs it, and waits for the call it makes to an
// object this process exports on a session bus connection of its own; the
// script is unloaded and its file removed whatever came of it. Each
// instance belongs to one thread, whose waiting iterates a context of the
// instance's own, so it works while the main loop is busy with a request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/kde/kwin_script.h"
#include "platform/linux/window_server.h"

namespace kelp::platform::linux_desktop::kde {

class KWinWindows final : public WindowServer {
 public:
  KWinWindows();
  ~KWinWindows() override;
  KWinWindows(const KWinWindows&) = delete;
  KWinWindows& operator=(const KWinWindows&) = delete;

  bool available() override;
  std::optional<std::vector<WindowId>> clientList() override;
  std::optional<std::vector<WindowId>> stackingList() override;
  std::optional<WindowId> activeWindow() override;
  ClientWindow clientWindow(WindowId window) override;
  std::optional<Pid> windowPid(WindowId window) override;
  WindowTitle windowTitle(WindowId window) override;
  bool isViewable(WindowId window) override;
  // The client's surface (KWin's buffer geometry): where a Wayland client
  // measures its accessible frames from, shadow included, as X11 windows
  // hold theirs.
  std::optional<RootRect> clientRect(WindowId window) override;
  // With KWin's decoration, without a client's shadow.
  std::optional<RootRect> frameRect(WindowId window) override;
  std::optional<WindowId> topWindowOf(Pid pid) override;
  bool activateWindow(WindowId window) override;
  bool placeWindow(WindowId window, const WindowPlacement& placement) override;
  // The screens as KWin lists them to scripts, in its order of outputs,
  // which is also the order it announces them to clients in, so the
  // screen capture (xdg-output) numbers them alike.
  std::optional<std::vector<MonitorRect>> monitors() override;
  // Xwayland windows know where they are, as on X11; native ones do not.
  bool placesWithoutTelling(Pid pid) override;
  bool clientRectExcludesShadow() const override { return false; }

  // The whole report of one run of the script (the list after the action,
  // when there is one); none when KWin did not answer in time.
  std::optional<KWinReport> run(const ScriptRequest& request);

 private:
  // The connection, with the report object exported; false without a bus.
  bool connect();
  void disconnect();
  // The windows, read at most once per short while: a burst of reads asks
  // about the same windows many times over.
  const std::vector<KWinWindow>* windows();
  const KWinWindow* window(WindowId id);
  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);

  GMainContextOwner context_;
  GRef<GDBusConnection> bus_;
  guint registration_ = 0;
  std::uint64_t requests_ = 0;
  // The report awaited: its token, and the text once it came.
  std::string awaitedToken_;
  std::optional<std::string> report_;
  std::optional<std::vector<KWinWindow>> windows_;
  std::vector<RootRect> screens_;  // read with the windows
  std::int64_t windowsReadMicros_ = 0;
};

}  // namespace kelp::platform::linux_desktop::kde
