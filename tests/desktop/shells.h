// GNOME Shell and KWin as the display server of a private desktop: what each
// needs around it, how it starts, and its own view of the windows and the
// screen, against which the tests hold what kelp-cua says. Part of the
// harness: tests use DesktopSession.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/desktop_bus.h"
#include "desktop/harness.h"

namespace kelp::test {

// The configuration of a private message bus of `type` ("session",
// "system") listening at `socket`, that lets every client do everything and
// activates nothing.
std::string busConfig(const char* type, const std::string& socket);

// What the session lends the shell: its folders, its programs' environment,
// and its ways of starting programs, waiting and failing.
class SessionParts {
 public:
  virtual const DesktopOptions& desktopOptions() const = 0;
  // The session's private folder, removed with everything in it at the end.
  virtual const std::string& folder() const = 0;
  virtual const std::string& runtimeFolder() const = 0;
  virtual const std::string& homeFolder() const = 0;
  virtual const std::string& sessionBusAddress() const = 0;
  // The environment of programs of this desktop.
  virtual Environment programEnvironment() const = 0;
  // Starts a program of the desktop, its output in logs named `logName`.
  virtual std::unique_ptr<Process> startProgram(std::vector<std::string> argv, const std::string& logName,
                                                Environment environment) = 0;
  // Polls `ready` until it holds; fails when one of `vital` ends, or at the
  // session's readiness timeout, with `lastError` if one was kept.
  virtual void waitUntil(const std::string& what, const std::function<bool()>& ready,
                         const std::vector<Process*>& vital, const std::string* lastError = nullptr) = 0;
  [[noreturn]] virtual void fail(const std::string& what) const = 0;

 protected:
  ~SessionParts() = default;
};

class ShellDesktop {
 public:
  // `server` is gnome or kde.
  ShellDesktop(DisplayServer server, SessionParts& session);
  ~ShellDesktop();
  ShellDesktop(const ShellDesktop&) = delete;
  ShellDesktop& operator=(const ShellDesktop&) = delete;

  // Programs this shell needs beyond those of every desktop.
  static std::vector<std::string> missingPrograms(DisplayServer server);
  // What the programs of such a desktop find in their environment beside
  // the session's own, the shell included; `folder` is the session's.
  static void describe(DisplayServer server, const std::string& folder, Environment& environment);

  // The settings a person has when logging in; before anything of the
  // session starts, since the accessibility bus reads them too.
  void writeSettings();
  // Starts the system bus, what the shell needs, and the shell, and waits
  // until it answers on the session bus and shows the desktop.
  void start();

  std::string socketPath() const;
  Process* compositor() const { return compositor_.get(); }

  std::vector<DesktopSession::CompositorWindow> windows();
  DesktopSession::ScreenPixels screenPixels();

  // Waits until the application `app` (named `name`) shows a window that
  // the shell lists, with `options.title` when given and on KDE none of the
  // windows `before` its start, and sets
  // `app.window`, `app.windowId` and `app.title`. Then, when asked, until
  // the shell says it has the focus, or on KDE until `active()` holds.
  void awaitWindow(DesktopApp& app, const std::string& name, const AppOptions& options,
                   const std::vector<std::string>& before, const std::function<bool()>& active);

 private:
  bool gnome() const { return server_ == DisplayServer::gnome; }
  Environment shellEnvironment() const;
  void startSystemBus();
  void startPipeWire();
  void installExtension();
  void startGnomeShell();
  void installDesktopEntries();
  void startKWin();
  bool ownsName(const char* name);
  // The JSON of a JavaScript expression in GNOME Shell (Eval, unsafe mode).
  std::optional<Json> evaluate(const char* script, std::string* error);
  std::vector<DesktopSession::CompositorWindow> gnomeWindows(std::string* error = nullptr);
  std::vector<DesktopSession::CompositorWindow> kwinWindows(std::string* error = nullptr);
  DesktopSession::ScreenPixels gnomeScreenshot();
  DesktopSession::ScreenPixels kwinScreenshot();

  DisplayServer server_;
  SessionParts& session_;
  desktop_bus::Connection bus_;
  bool extensionInstalled_ = false;
  // Declared in start order, so that they are stopped in reverse.
  std::unique_ptr<Process> systemBus_;
  std::unique_ptr<Process> pipewire_;
  std::unique_ptr<Process> wireplumber_;
  std::unique_ptr<Process> compositor_;
};

}  // namespace kelp::test
