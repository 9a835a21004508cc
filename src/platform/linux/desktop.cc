// Assembling the Linux desktop: choosing the session, and the small services.
#include "platform/linux/desktop.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/linux/atspi/tree.h"

extern char** environ;

namespace kelp::platform::linux_desktop {
namespace {

void discardMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
GLogWriterOutput discardRecord(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }
void discardText(const gchar*) {}

// Standard output carries the protocol and standard error belongs to the
// parent, so GLib, GIO and libatspi must not write to either. Their messages
// go nowhere; g_print would even land between replies.
void silenceLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_log_set_default_handler(discardMessage, nullptr);
    // GLib allows a writer to be set only once per process.
    g_log_set_writer_func(discardRecord, nullptr, nullptr);
    g_set_print_handler(discardText);
    g_set_printerr_handler(discardText);
  });
}

}  // namespace

// ---- platform ----------------------------------------------------------------

void publishAccessibility(Connections& connections) {
  connections.sessionBus.enableAccessibility();
  const std::optional<std::string> address = connections.sessionBus.accessibilityBusAddress();
  if (address && connections.session == Session::x11) connections.x.setRootTextIfMissing("AT_SPI_BUS", *address);
}

std::unique_ptr<WindowServer> newWindowServer(Session session, wayland::WaylandConnection* shared) {
  if (session == Session::x11) return std::make_unique<XDisplay>();
  if (session == Session::gnome) return std::make_unique<gnome::ShellWindows>();
  if (session == Session::kde) return std::make_unique<kde::KWinWindows>();
  if (wayland::swaySocketPath()) return std::make_unique<wayland::SwayWindows>();
  if (shared) return std::make_unique<wayland::ToplevelWindows>(*shared);
  return std::make_unique<wayland::ToplevelWindows>();
}

namespace {

Session sessionOfEnvironment() {
  return sessionOf(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_CURRENT_DESKTOP"), [](const char* name) {
    SessionBus bus;
    return bus.nameHasOwner(name);
  });
}

}  // namespace

LinuxDesktop::LinuxDesktop() : connections_((silenceLibraries(), sessionOfEnvironment())) {}

EventPoster& LinuxDesktop::events() {
  switch (connections_.session) {
    case Session::x11: return xInput_.poster();
    case Session::wayland: return waylandInput_.poster();
    case Session::gnome: return gnomeInput_.poster();
    case Session::kde: return kdeInput_.poster();
  }
  return xInput_.poster();
}

ScreenCapture& LinuxDesktop::capture() {
  switch (connections_.session) {
    case Session::x11: return capture_;
    case Session::wayland: return waylandCapture_;
    case Session::gnome: return gnomeCapture_;
    case Session::kde: return kdeCapture_;
  }
  return capture_;
}

std::optional<Point> LinuxDesktop::pointerLocation() {
  switch (connections_.session) {
    case Session::x11: return std::nullopt;
    case Session::wayland: return waylandInput_.pointerLocation();
    case Session::gnome: return gnomeInput_.pointerLocation();
    case Session::kde: return kdeInput_.pointerLocation();
  }
  return std::nullopt;
}

bool LinuxDesktop::inputAvailable() {
  switch (connections_.session) {
    case Session::x11: return xInput_.available();
    case Session::wayland: return waylandInput_.available();
    case Session::gnome: return gnomeInput_.available();
    case Session::kde: return kdeInput_.available();
  }
  return false;
}

bool LinuxDesktop::captureAvailable(bool windows) {
  switch (connections_.session) {
    // Reading the screen needs no permission on X: a display is enough.
    case Session::x11: return windows;
    // On wlroots it takes a compositor that offers screen copies.
    case Session::wayland: return connections_.wayland.available() && connections_.wayland.globals().screencopy;
    case Session::gnome: return gnomeCapture_.available();
    case Session::kde: return kdeCapture_.available();
  }
  return false;
}

std::vector<std::string> LinuxDesktop::setupNeeded() {
  std::vector<std::string> needed;
  if (connections_.session == Session::gnome) {
    auto& shell = static_cast<gnome::ShellWindows&>(connections_.windows());
    if (!shell.extensionPresent()) needed.push_back(std::string(GNOME_EXTENSION_ADVICE));
  }
  if (connections_.session == Session::kde && (!kdeInput_.available() || !kdeCapture_.available())) {
    needed.push_back(std::string(KDE_DESKTOP_ENTRY_ADVICE));
  }
  return needed;
}

Capabilities LinuxDesktop::capabilities() {
  const bool wayland = isWayland(connections_.session);
  const bool windows = connections_.windows().available();
  const bool input = inputAvailable();
  return Capabilities{
      .accessibility = connections_.sessionBus.accessibilityBusAddress().has_value(),
      .windowList = windows,
      .screens = windows,
      .keyboardEvents = input,
      .mouseEvents = input,
      // Wayland shows no client another's input.
      .eventTap = !wayland && windows && eventTap_.available(),
      .screenCapture = captureAvailable(windows),
      // The self-test's window is one of GTK's, which opens on either.
      .testWindow = wayland || windows,
      .windowFrames = windows && connections_.windows().knowsPlaces(),
      .session = wayland ? "wayland" : "x11",
      .editingModifier = flags::control,
      // Each clipboard has a connection of its own: asked, it opens it.
      .clipboard = clipboardAvailable(),
      .compositor = compositorName(connections_.session),
      .setupNeeded = setupNeeded(),
  };
}

// ---- screens -----------------------------------------------------------------

std::vector<Screen> LinuxScreens::screens() {
  const std::optional<std::vector<MonitorRect>> monitors = connections_.windows().monitors();
  if (!monitors) return {};
  return screensFromMonitors(*monitors);
}

// ---- process -----------------------------------------------------------------

Pid LinuxProcess::ownPid() { return static_cast<Pid>(::getpid()); }

std::optional<std::string> LinuxProcess::executablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    // A full buffer may have cut the path short.
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    if (buffer.size() >= (1u << 20)) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

// ---- environment -------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> LinuxEnvironment::snapshot() {
  std::vector<std::pair<std::string, std::string>> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    variables.emplace_back(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  return variables;
}

bool LinuxEnvironment::unset(const std::string& name) { return ::unsetenv(name.c_str()) == 0; }

Clipboard& LinuxDesktop::clipboard() {
  if (isWayland(connections_.session)) {
    if (!waylandClipboard_) waylandClipboard_ = std::make_unique<ClipboardThread<wayland::WaylandClipboard>>();
    return *waylandClipboard_;
  }
  if (!xClipboard_) xClipboard_ = std::make_unique<ClipboardThread<XClipboard>>();
  return *xClipboard_;
}

bool LinuxDesktop::clipboardAvailable() {
  clipboard();
  return waylandClipboard_ ? waylandClipboard_->available() : xClipboard_->available();
}

// ---- clock -------------------------------------------------------------------

std::int64_t LinuxClock::nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void LinuxClock::sleepMicros(std::int64_t micros) {
  if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

std::int64_t LinuxClock::wallMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace kelp::platform::linux_desktop

namespace kelp::platform {

std::unique_ptr<Platform> makeDesktopPlatform() { return std::make_unique<linux_desktop::LinuxDesktop>(); }

}  // namespace kelp::platform
