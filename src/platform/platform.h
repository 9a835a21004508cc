// The platform seam. The core asks these questions in its own vocabulary
// (attribute names such as "AXRole", macOS virtual key codes, event type
// numbers, screen points) and each backend answers them for its desktop.
// Nothing here throws; absence is the answer to anything that cannot be had.
// Input events and the event tap are in input_events.h, screen pictures and
// the clipboard in pictures.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/input_events.h"
#include "platform/pictures.h"
#include "platform/value.h"

namespace kelp::platform {

using Pid = std::int32_t;

// What a backend can do at all on this machine, asked instead of guessed.
// No field has a default: filled with designated initialisers, a field left
// out is a compiler warning rather than a silent false.
struct Capabilities {
  bool accessibility;
  bool windowList;
  bool screens;
  bool keyboardEvents;
  bool mouseEvents;
  bool eventTap;
  bool screenCapture;
  bool testWindow;  // a window of this process's own can be shown
  // Where windows are and how big, beyond a list of them: some window
  // servers list windows but keep their places to themselves.
  bool windowFrames;
  // The kind of desktop session, as a person would name it: "x11",
  // "wayland", ...
  const char* session;
  // The modifier of the desktop's standard editing shortcuts (select all,
  // copy, paste): command on the Mac, control elsewhere.
  std::uint64_t editingModifier;
  // The clipboard's text can be read and set.
  bool clipboard;
  // Which compositor runs a Wayland session ("gnome", "kde", "wlroots");
  // empty on X11.
  const char* compositor = "";
  // What a person still has to do once so that the rest works, each said
  // in a sentence with the command that does it; empty when nothing.
  std::vector<std::string> setupNeeded = {};
};

// ---- accessibility -------------------------------------------------------

// What a burst of reads will ask of the elements it meets, in the order it
// asks, so that a backend can fetch ahead. A backend may ignore it; a plan
// that misses a read costs time, never a wrong value.
struct ReadPlan {
  // Read of every element ("AXChildren" among them leads on to the next).
  std::vector<std::string> ofEvery;
  // Elements whose "AXRole" is one of `recordedRoles` also have
  // `firstNonBlank` read in order until one gives text that is not blank,
  // and then `ofRecorded`.
  std::vector<std::string> recordedRoles;
  std::vector<std::string> firstNonBlank;
  std::vector<std::string> ofRecorded;
  // The burst stops after this many recorded elements, so fetching ahead
  // past them would be wasted; -1: no limit.
  std::int64_t recordLimit = -1;
};

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  virtual bool isTrusted() = 0;
  // Asks the system to grant (or turn on) accessibility; does not wait for a
  // person to answer. Returns the trust state afterwards.
  virtual bool promptForTrust() = 0;
  virtual Element systemWide() = 0;
  virtual Element applicationElement(Pid pid) = 0;
  // An attribute that cannot be read for any reason is a none Value.
  virtual Value copyAttribute(const Element& element, const std::string& name) = 0;
  virtual bool setAttribute(const Element& element, const std::string& name, const Value& value) = 0;
  virtual bool performAction(const Element& element, const std::string& action) = 0;
  // Hit test below `root` (the system-wide element or an application).
  virtual std::optional<Element> elementAtPosition(const Element& root, float x, float y) = 0;
  virtual std::optional<Pid> pidOf(const Element& element) = 0;
  // Whether pressing `element` through accessibility carries out the whole
  // press inside the call that asked for it, so that a modal dialog the
  // press opens holds the application's accessibility until it closes (and
  // can freeze the application for good once this process is gone). A
  // person's click is then the safer press wherever the element shows.
  virtual bool pressHoldsApplication(const Element& element) {
    (void)element;
    return false;
  }
  // Whether the application that `element` belongs to answers now: false
  // while it lets calls time out, busy or hung, and what is read of it may
  // fall short of what it shows.
  virtual bool answering(const Element& element) {
    (void)element;
    return true;
  }

  // Brackets a burst of reads, such as one walk of an application. Between
  // the two calls a backend may answer reads from values it fetched in bulk
  // after begin, guided by `plan`; nothing fetched may outlive end, so every
  // burst sees live state. Writes and actions are never deferred.
  virtual void beginSnapshot(const ReadPlan&) {}
  virtual void endSnapshot() {}
};

// ---- workspace -----------------------------------------------------------

enum class ActivationPolicy { regular, accessory, prohibited };

struct RunningApp {
  Pid pid = 0;
  std::optional<std::string> name{};
  std::optional<std::string> bundleId{};
  ActivationPolicy policy = ActivationPolicy::regular;
  bool active = false;
};

struct ApplicationFolders {
  std::vector<std::string> folders;
  std::string suffix;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  // In the platform's own order.
  virtual std::vector<RunningApp> runningApplications() = 0;
  virtual std::optional<RunningApp> frontmostApplication() = 0;
  virtual std::optional<RunningApp> applicationWithPid(Pid pid) = 0;
  virtual bool isActive(Pid pid) = 0;
  virtual bool activate(Pid pid) = 0;
  // Where the application known to the platform by this bundle identifier
  // can be opened from.
  virtual std::optional<std::string> applicationPathForBundleId(const std::string& bundleId) = 0;
  // The folders applications are installed in, in the order a name is looked
  // up there, and the suffix of an application's file in them: a name's
  // candidate is folder + "/" + name + suffix.
  virtual ApplicationFolders applicationFolders() = 0;
  // Starts the application at `path` and calls `done(ok)` once the platform
  // reports the outcome, possibly from another thread and possibly after the
  // caller stopped waiting; `done` must stay safe to call then.
  virtual void openApplication(const std::string& path, std::function<void(bool)> done) = 0;
  virtual std::string homeDirectory() = 0;
  virtual bool fileExists(const std::string& path) = 0;
};

// ---- process -------------------------------------------------------------

class Process {
 public:
  virtual ~Process() = default;
  virtual Pid ownPid() = 0;
  // The running executable's path; none when the platform cannot tell.
  virtual std::optional<std::string> executablePath() = 0;
};

// ---- screens and windows -------------------------------------------------

// A screen's frame in global coordinates: points, origin at the lower left of
// the primary screen, y growing upwards.
struct Screen {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
  bool main = false;
};

class Screens {
 public:
  virtual ~Screens() = default;
  virtual std::vector<Screen> screens() = 0;
};

// One on-screen window, as the window server describes it. A field the
// server withholds or that has another type is none.
struct WindowInfo {
  std::optional<std::string> ownerName{};
  std::optional<std::int64_t> ownerPid{};
  bool hasName = false;             // the entry has a title entry at all
  std::optional<std::string> name{};  // the title, when it is text
  std::optional<std::int64_t> layer{};
};

class WindowList {
 public:
  virtual ~WindowList() = default;
  // On-screen windows without desktop elements, front to back; none when the
  // window server cannot be asked.
  virtual std::optional<std::vector<WindowInfo>> onScreenWindows() = 0;
};

// ---- the self-test's window ----------------------------------------------

// One control of the self-test's window.
struct TestControl {
  enum class Kind { button, textField, label } kind = Kind::button;
  // In points from the top left of the window's content area.
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
  std::string text;         // a button's title, a label's text
  std::string placeholder;  // a text field's
  std::string identifier;   // the accessibility identifier; none when empty
};

// A top-level menu and the titles of its items.
struct TestMenu {
  std::string title;
  std::vector<std::string> items;
};

// What the self-test shows: a titled window of known controls, and a menu
// bar. Each backend renders it with its own toolkit.
struct TestWindowSpec {
  std::string title;
  double width = 0;  // of the content area, points
  double height = 0;
  std::vector<TestControl> controls;
  std::vector<TestMenu> menus;
};

// A window of this process's own, for testing the helper on itself. Main
// thread only.
class TestWindow {
 public:
  virtual ~TestWindow() = default;
  // Whether this desktop can show such a window at all (a display to open).
  virtual bool canShow() = 0;
  // Builds and shows a window and its menu bar as `spec` describes, in
  // front; false when it cannot. An earlier window stays.
  virtual bool show(const TestWindowSpec& spec) = 0;
  // Lets the main loop serve the window (and everything else) for `micros`.
  virtual void pump(std::int64_t micros) = 0;
  // The text control `index` of the last window shown holds now, read from
  // the toolkit itself; "" for anything else.
  virtual std::string controlText(std::size_t index) = 0;
  // Whether an item of the menus of the last window shown was chosen.
  virtual bool itemChosen() = 0;
};

// ---- environment, clock, run loop ----------------------------------------

class Environment {
 public:
  virtual ~Environment() = default;
  virtual std::vector<std::pair<std::string, std::string>> snapshot() = 0;
  virtual bool unset(const std::string& name) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Steady time for waits and intervals; its zero means nothing.
  virtual std::int64_t nowMicros() = 0;
  virtual void sleepMicros(std::int64_t micros) = 0;
  // The calendar time: milliseconds since 1970-01-01 00:00 UTC.
  virtual std::int64_t wallMillis() = 0;
};

class RunLoop {
 public:
  virtual ~RunLoop() = default;
  // Serves tasks, timers and event sources on the calling (main) thread until
  // stop() is called.
  virtual void run() = 0;
  virtual void stop() = 0;
  // From another thread: runs `task` on the main thread and returns once it
  // has finished.
  virtual void runSync(std::function<void()> task) = 0;
  using TimerId = std::uint64_t;
  virtual TimerId addTimer(std::int64_t delayMicros, std::function<void()> fire) = 0;
  virtual void cancelTimer(TimerId id) = 0;
};

// All services of one desktop. The core holds one of these and nothing else
// of the platform.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual Capabilities capabilities() = 0;
  virtual Accessibility& accessibility() = 0;
  virtual Workspace& workspace() = 0;
  virtual Process& process() = 0;
  virtual Screens& screens() = 0;
  virtual WindowList& windowList() = 0;
  virtual EventPoster& events() = 0;
  virtual EventTap& eventTap() = 0;
  virtual ScreenCapture& capture() = 0;
  virtual Clipboard& clipboard() = 0;
  virtual TestWindow& testWindow() = 0;
  virtual Environment& environment() = 0;
  virtual Clock& clock() = 0;
  virtual RunLoop& runLoop() = 0;
};

// The desktop this build was made for; each backend folder defines it.
std::unique_ptr<Platform> makeDesktopPlatform();

}  // namespace kelp::platform
