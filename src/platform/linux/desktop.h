// The Linux desktop behind the seam: AT-SPI2 for accessibility in every
// session; for windows, screens, input and capture either X11 (EWMH, RandR,
// XTest, XRecord) or a wlroots Wayland compositor (sway's IPC, virtual
// input, screen copy). GLib's main context is the run loop. Everything that
// talks to the window server or AT-SPI runs on the main thread, except the
// watch of a launched application and screen capture, which have
// connections of their own. The clipboards have connections and threads of
// their own, so that other programs are answered while a request runs.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/atspi/calls.h"
#include "platform/linux/atspi/facts.h"
#include "platform/linux/gtk_test_window.h"
#include "platform/linux/atspi/ax_writes.h"
#include "platform/linux/launch.h"
#include "platform/linux/rules.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/session_bus.h"
#include "platform/linux/wayland/sway_windows.h"
#include "platform/linux/x11/capture.h"
#include "platform/linux/clipboard_thread.h"
#include "platform/linux/x11/clipboard.h"
#include "platform/linux/x11/display.h"
#include "platform/linux/x11/input.h"
#include "platform/linux/x11/record.h"
#include "platform/platform.h"
#include "platform/linux/wayland/toplevel_windows.h"
#include "platform/linux/wayland/capture.h"
#include "platform/linux/wayland/clipboard.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/input.h"
#include "platform/linux/gnome/remote_input.h"
#include "platform/linux/gnome/screencast_capture.h"
#include "platform/linux/gnome/shell_windows.h"
#include "platform/linux/kde/fake_input.h"
#include "platform/linux/kde/kwin_windows.h"
#include "platform/linux/kde/screenshot_capture.h"

namespace kelp::platform::linux_desktop {

// What a person does once so that GNOME and KDE let kelp-cua do everything.
inline constexpr std::string_view GNOME_EXTENSION_ADVICE =
    "the window list, window frames on screen and, with more than one monitor, clicks need kelp-cua's GNOME "
    "Shell extension: run "
    "`sh /usr/share/kelp-cua/install-gnome-extension.sh` (from the source tree: "
    "`scripts/install-gnome-extension.sh`) once and log in again; the accessibility tree, keys, typing and "
    "screenshots work without it";
inline constexpr std::string_view KDE_DESKTOP_ENTRY_ADVICE =
    "KWin gives input and screenshots only to a program whose executable is the first word of Exec= in a desktop "
    "entry that grants them: install kelp-cua's package (its /usr/share/applications/kelp-cua.desktop names "
    "/usr/bin/kelp-cua), or copy that file into ~/.local/share/applications with Exec= set to this program's full "
    "path (helperPath), then start kelp-cua again; no logging out is needed";

// A connection of its own to the session's window server, for a thread
// other than the main one. On Wayland, sway's IPC where sway's socket is
// found; else the compositor's toplevel list, which any wlroots compositor
// offers, on `shared` when given (the main thread's connection).
std::unique_ptr<WindowServer> newWindowServer(Session session, wayland::WaylandConnection* shared = nullptr);

// The connections the services share.
struct Connections {
  explicit Connections(Session session)
      : session(session), waylandWindows(isWayland(session) ? newWindowServer(session, &wayland) : nullptr) {}
  const Session session;
  XDisplay x;                          // opened only in an X11 session
  wayland::WaylandConnection wayland;  // opened only in a Wayland session
  // The Wayland session's windows; made before the connection opens, so
  // that a toplevel list hears every window.
  const std::unique_ptr<WindowServer> waylandWindows;
  SessionBus sessionBus;
  WindowServer& windows() {
    if (waylandWindows) return *waylandWindows;
    return x;
  }
};

// Input events of the user cannot be listened to in this session (Wayland
// lets no client see another's input); where the pointer is can still be
// told when this process put it there.
class RefusedEventTap final : public EventTap {
 public:
  explicit RefusedEventTap(std::function<std::optional<Point>()> pointer) : pointer_(std::move(pointer)) {}
  bool start(std::uint64_t, std::function<void(const TappedEvent&)>) override { return false; }
  void stop() override {}
  std::optional<Point> pointerLocation() override { return pointer_ ? pointer_() : std::nullopt; }

 private:
  std::function<std::optional<Point>()> pointer_;
};

// Turns the accessibility bus on and, on X11, publishes its address on the
// root window where a full session does and Qt looks first: without it a
// Qt application may lose the race to find the bus and show nothing.
void publishAccessibility(Connections& connections);

// ---- what several services read ----------------------------------------------

// Facts about each managed top-level window, in client-list order; empty
// without a display.
std::vector<ClientWindow> clientWindows(WindowServer& x);
// Applications on the accessibility bus with a process id; empty when
// accessibility is not available.
std::vector<AccessibleApp> accessibleApps(SessionBus& sessionBus);

// ---- services ----------------------------------------------------------------

class LinuxAccessibility final : public Accessibility {
 public:
  explicit LinuxAccessibility(Connections& connections);
  bool isTrusted() override;
  bool promptForTrust() override;
  Element systemWide() override;
  Element applicationElement(Pid pid) override;
  Value copyAttribute(const Element& element, const std::string& name) override;
  bool setAttribute(const Element& element, const std::string& name, const Value& value) override;
  bool performAction(const Element& element, const std::string& action) override;
  std::optional<Element> elementAtPosition(const Element& root, float x, float y) override;
  std::optional<Pid> pidOf(const Element& element) override;
  bool answering(const Element& element) override;
  bool pressHoldsApplication(const Element& element) override;
  void beginSnapshot(const ReadPlan& plan) override;
  void endSnapshot() override;

 private:
  // The seam's (0, 0) in X root coordinates, read once per snapshot.
  Point screenOrigin();
  std::optional<std::string> windowManagerTitle(FactStore& facts, const ObjectRef& window);
  // The top left of the client area of the X window behind an AT-SPI
  // window, in root coordinates; read once per snapshot.
  std::optional<Point> windowPlace(FactStore& facts, const ObjectRef& window);
  // The corner of the popup a menu shows in, where the window server says.
  std::optional<Point> popupPlace(const ObjectRef& menu, const RootRect& reported);
  // The managed window behind an AT-SPI window.
  std::optional<WindowId> managedWindowOf(FactStore& facts, const ObjectRef& window);
  WriteScope writeScope(FactStore& facts);
  void forgetSnapshotFacts();

  Connections& connections_;
  AtspiChannels channels_;
  int snapshotDepth_ = 0;
  std::unique_ptr<FactStore> snapshot_;  // while a snapshot is open
  ReadPlan snapshotPlan_;                // what the open snapshot reads
  std::optional<Point> snapshotOrigin_;
  std::map<std::string, std::optional<Point>> snapshotPlaces_;
};

class LinuxWorkspace final : public Workspace {
 public:
  explicit LinuxWorkspace(Connections& connections)
      : connections_(connections), launcher_([session = connections.session] { return newWindowServer(session); }) {}
  std::vector<RunningApp> runningApplications() override;
  std::optional<RunningApp> frontmostApplication() override;
  std::optional<RunningApp> applicationWithPid(Pid pid) override;
  bool isActive(Pid pid) override;
  bool activate(Pid pid) override;
  std::optional<std::string> applicationPathForBundleId(const std::string& bundleId) override;
  ApplicationFolders applicationFolders() override;
  void openApplication(const std::string& path, std::function<void(bool)> done) override;
  std::string homeDirectory() override;
  bool fileExists(const std::string& path) override;

 private:
  std::optional<Pid> activePid();
  Connections& connections_;
  Launcher launcher_;
};

class LinuxWindowList final : public WindowList {
 public:
  explicit LinuxWindowList(Connections& connections) : connections_(connections) {}
  std::optional<std::vector<WindowInfo>> onScreenWindows() override;

 private:
  Connections& connections_;
};

class LinuxScreens final : public Screens {
 public:
  explicit LinuxScreens(Connections& connections) : connections_(connections) {}
  std::vector<Screen> screens() override;

 private:
  Connections& connections_;
};

class LinuxProcess final : public Process {
 public:
  Pid ownPid() override;
  std::optional<std::string> executablePath() override;
};

class LinuxEnvironment final : public Environment {
 public:
  std::vector<std::pair<std::string, std::string>> snapshot() override;
  bool unset(const std::string& name) override;
};

class LinuxClock final : public Clock {
 public:
  std::int64_t nowMicros() override;
  void sleepMicros(std::int64_t micros) override;
  std::int64_t wallMillis() override;
};

class LinuxDesktop final : public Platform {
 public:
  LinuxDesktop();
  Capabilities capabilities() override;
  Accessibility& accessibility() override { return accessibility_; }
  Workspace& workspace() override { return workspace_; }
  Process& process() override { return process_; }
  Screens& screens() override { return screens_; }
  WindowList& windowList() override { return windowList_; }
  EventPoster& events() override;
  EventTap& eventTap() override {
    if (isWayland(connections_.session)) return refusedTap_;
    return eventTap_;
  }
  ScreenCapture& capture() override;
  Clipboard& clipboard() override;
  bool clipboardAvailable();
  TestWindow& testWindow() override { return testWindow_; }
  Environment& environment() override { return environment_; }
  Clock& clock() override { return clock_; }
  RunLoop& runLoop() override { return runLoop_; }

 private:
  // Where this process last put the pointer, on Wayland where no client
  // may read it.
  std::optional<Point> pointerLocation();
  bool inputAvailable();
  bool captureAvailable(bool windows);
  // What the session lacks that a person can add once.
  std::vector<std::string> setupNeeded();

  Connections connections_;
  GlibRunLoop runLoop_;
  LinuxAccessibility accessibility_{connections_};
  LinuxWorkspace workspace_{connections_};
  LinuxWindowList windowList_{connections_};
  LinuxScreens screens_{connections_};
  LinuxProcess process_;
  LinuxEnvironment environment_;
  LinuxClock clock_;
  XTestInput xInput_{connections_.x, runLoop_};
  XRecordTap eventTap_{connections_.x};
  wayland::VirtualInput waylandInput_{connections_.wayland, runLoop_};
  gnome::RemoteDesktopInput gnomeInput_{connections_.wayland, runLoop_};
  kde::FakeInput kdeInput_{connections_.wayland, runLoop_};
  RefusedEventTap refusedTap_{[this] { return pointerLocation(); }};
  XScreenCapture capture_;
  wayland::WaylandScreenCapture waylandCapture_;
  gnome::ScreenCastCapture gnomeCapture_;
  kde::KWinScreenCapture kdeCapture_;
  // Made when first asked for: most runs never touch the clipboard.
  std::unique_ptr<ClipboardThread<XClipboard>> xClipboard_;
  std::unique_ptr<ClipboardThread<wayland::WaylandClipboard>> waylandClipboard_;
  GtkTestWindow testWindow_;
};

}  // namespace kelp::platform::linux_desktop
