// A private headless desktop for tests of the built kelp-cua against real
// applications: a display server (Xvfb with openbox, or headless sway,
// GNOME Shell or KWin), a
// D-Bus session bus of its own, the accessibility bus, and the applications a
// test asks for. Nothing of it is shared with the machine's own desktop, and
// everything it started ends with it, also when a test fails.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/helper.h"
#include "support/process.h"

namespace kelp::test {

// The desktop could not be started (a program is missing, or a part of it
// did not become ready in time). The message says which and shows the logs.
class DesktopError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class DisplayServer {
  // Xvfb on a display it picks itself, openbox as the window manager.
  x11,
  // sway 1.7 on its headless backend with one output, HEADLESS-1, every
  // window floating so that it can be moved. Sway refuses to run as root, so
  // a root test process runs it as the system user `kelpdesk`
  // (scripts/setup.sh creates it); an ordinary user runs it as itself.
  // Programs of the desktop are Wayland clients: no DISPLAY, no Xwayland.
  sway,
  // GNOME Shell (43 and later) headless on one virtual monitor, started with
  // --unsafe-mode so that the tests may ask it for its own view of windows
  // and screen (Eval, org.gnome.Shell.Screenshot), which kelp-cua never
  // uses. Beside it: a system bus of its own, PipeWire and WirePlumber for
  // its screen casts, settings in a key file (animations off, kelp-cua's
  // shell extension from data/gnome-shell installed and turned on).
  gnome,
  // KWin (5.27) on its virtual backend, run as a copy without the file
  // capability Debian gives it. kelp-cua and the test process each get a
  // desktop entry that grants them fake input and ScreenShot2, the grant a
  // person's installed package gives.
  kde,
};

// Whether the display server's programs are installed here, so that tests
// can skip a desktop this machine cannot run instead of failing.
bool displayServerInstalled(DisplayServer server);

struct DesktopOptions {
  DisplayServer server = DisplayServer::x11;
  int width = 1920;
  int height = 1080;
  // The screen split into this many RandR monitors of equal width side by
  // side, the leftmost the primary one. Xvfb alone shows one monitor.
  // X11 only.
  int monitorColumns = 1;
  // Accessibility turned on, as a person does in the system settings.
  bool accessibility = true;
  // The accessibility bus's address published on the root window
  // (AT_SPI_BUS), as a full X11 session does. X11 only: on Wayland clients
  // ask the session bus for it.
  bool busOnRootWindow = true;
  // How long each part may take to become ready.
  Milliseconds readinessTimeout{20000};
};

struct AppOptions {
  std::vector<std::string> argv = {"gtk3-widget-factory"};
  // Wait for a top-level window with exactly this title (any title if none).
  std::optional<std::string> title;
  // Wait until the application shows itself with a window on the
  // accessibility bus (only when accessibility is on).
  bool waitForAccessibility = true;
  // Wait until the window manager has made its window the active one
  // (on sway and GNOME: the focused one; on KDE: the one its accessible
  // window calls active).
  bool waitUntilActive = true;
};

// An application started in the desktop.
struct DesktopApp {
  std::unique_ptr<Process> process;
  // Its top-level window that was waited for: the X window, on sway the con
  // id of its view in sway's tree, on GNOME mutter's window id; 0 on KDE.
  unsigned long window = 0;
  // GNOME and KDE: the compositor's id of that window (mutter's window id
  // in decimal, KWin's uuid), as in DesktopSession::compositorWindows().
  std::string windowId;
  std::string title;

  pid_t pid() const { return process->pid(); }
};

// Which calls work on which display server: the ones marked "X11 only" or
// "sway only" throw DesktopError on the other, saying so; all others work on
// both.
class DesktopSession {
 public:
  // Starts the desktop and waits until every part of it answers. Throws
  // DesktopError; whatever was started by then is stopped again.
  explicit DesktopSession(DesktopOptions options = {});
  ~DesktopSession();

  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // Starts an application and waits until it is on screen.
  DesktopApp& startApplication(AppOptions options = {});

  DisplayServer server() const;
  const std::string& display() const;  // ":N"; empty on Wayland
  // Empty on X11: the absolute path of the Wayland socket (programs of a
  // GNOME or KDE desktop get its name as WAYLAND_DISPLAY, as in a person's
  // session), and on sway only that of sway's IPC socket (SWAYSOCK).
  const std::string& waylandDisplay() const;
  const std::string& swaySocket() const;
  const std::string& sessionBusAddress() const;
  const std::string& accessibilityBusAddress() const;
  int width() const;
  int height() const;

  // The environment of a program that runs in this desktop. On sway:
  // WAYLAND_DISPLAY, SWAYSOCK, GDK_BACKEND=wayland, QT_QPA_PLATFORM=wayland
  // and an XDG_RUNTIME_DIR of the session's own (not sway's), without DISPLAY.
  // On GNOME and KDE: WAYLAND_DISPLAY, GDK_BACKEND=wayland,
  // QT_QPA_PLATFORM=wayland, XDG_CURRENT_DESKTOP=GNOME or KDE,
  // XDG_SESSION_TYPE=wayland, the private system bus, and settings from
  // the session's key file; without DISPLAY.
  Environment environment() const;

  // kelp-cua in this desktop: in server mode, or once with arguments.
  std::unique_ptr<HelperSession> startHelper() const;
  RunResult runHelper(const std::vector<std::string>& args, const std::string& input = "") const;

  // Runs xdotool with `args` in this desktop, as a person at its keyboard
  // and mouse, and waits for it. Throws DesktopError when it fails.
  // X11 only.
  void xdotool(const std::vector<std::string>& args) const;

  // The X server (X11 only) or the session bus daemon ends at once, as in a
  // crash. Nothing of this session that needs it may be used afterwards.
  void killXServer();
  void killSessionBus();

  // The accessibility switch (org.a11y.Status IsEnabled of the accessibility bus launcher).
  void setAccessibilityEnabled(bool enabled);
  bool accessibilityEnabled();

  // A rectangle on the screen, in pixels (on sway: layout coordinates).
  struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };

  // What the window manager publishes (EWMH). X11 only.
  std::vector<unsigned long> clientWindows();
  std::optional<unsigned long> activeWindow();
  std::string windowTitle(unsigned long window);
  std::optional<pid_t> windowPid(unsigned long window);
  // Where a window lies on the screen with the frame the window manager
  // draws around it (_NET_FRAME_EXTENTS), as a person sees it. X11 only.
  std::optional<WindowGeometry> windowGeometry(unsigned long window);

  // sway only. What `swaymsg -t get_tree` prints, parsed.
  Json swayTree();
  // Each view (a window of a client) in sway's tree, workspaces and
  // containers left out, in the tree's order.
  struct SwayWindow {
    long long conId = 0;
    pid_t pid = 0;
    std::string appId;  // empty for a client that set none
    std::string name;   // the title
    bool focused = false;
    // The client's own surface in layout coordinates (the node's rect moved
    // by its window_rect), without the border and title bar sway draws.
    WindowGeometry content;
    // The node's rect: the surface with sway's border and title bar.
    WindowGeometry rect;
  };
  std::vector<SwayWindow> swayWindows();
  // Runs one sway command (as `swaymsg COMMAND`) and returns sway's reply.
  // Throws DesktopError when sway says that the command or any part of it
  // failed.
  Json swaymsg(const std::string& command);

  // GNOME and KDE only: the compositor's own list of windows, bottom to top
  // on GNOME. GNOME Shell tells it through Eval, KWin through its windows
  // runner and getWindowInfo.
  struct CompositorWindow {
    std::string id;
    pid_t pid = 0;  // 0 where the compositor does not tell (KWin)
    std::string title;
    // The window without shadows, in layout coordinates (mutter's frame
    // rectangle, KWin's frame geometry).
    WindowGeometry frame;
    // Whether it has the keyboard focus; none where the compositor does not
    // tell (KWin: see appWindowActive).
    std::optional<bool> focused;
  };
  std::vector<CompositorWindow> compositorWindows();
  std::optional<CompositorWindow> compositorWindowOf(const DesktopApp& app);

  // Whether a window of the application says through accessibility that it
  // is the active one, which a Wayland toolkit learns only from the
  // compositor. Any display server.
  bool appWindowActive(const DesktopApp& app);

  // The whole screen as the display server gives it, without the pointer:
  // on X11 GetImage of the root window, on sway `grim` (wlr-screencopy), on
  // GNOME org.gnome.Shell.Screenshot, on KDE ScreenShot2's workspace.
  // 8-bit RGB, rows top to bottom.
  struct ScreenPixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
  };
  ScreenPixels screenPixels();

  // Every process of this desktop carries this in its environment, also
  // those that its daemons start on their own.
  std::string marker() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Processes still running (zombies aside) whose environment holds `marker`.
std::vector<pid_t> processesMarkedWith(const std::string& marker);

// `pid` is `ancestor` or was started by it, directly or further down.
bool isSameOrDescendant(pid_t pid, pid_t ancestor);

}  // namespace kelp::test
