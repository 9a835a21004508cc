// A scripted desktop that lives in the test process: applications, screens,
// windows, element trees, an environment, a virtual clock, an event log and a
// run loop a test can drive. Scenes are built with plain assignments:
//
//   SimDesktop sim;
//   sim.addApp({.pid = 100, .name = "Notes", .bundleId = "com.example.notes", .active = true});
//   sim.addScreen({.w = 1440, .h = 900, .main = true});
//   sim.addWindow({.ownerName = "Notes", .ownerPid = 100, .title = "memo"});
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kelp::platform::sim {

struct SimWindow {
  std::optional<std::string> ownerName{};
  std::optional<std::int64_t> ownerPid{};
  std::optional<std::string> title{};  // none: the entry has no title at all
  std::optional<std::int64_t> layer = 0;
};

// One posted synthetic event, stamped with the virtual time it was posted at.
struct PostedEvent {
  std::int64_t atMicros = 0;
  enum class Kind { key, mouse, scroll } kind = Kind::key;
  KeyEvent key;
  MouseEvent mouse;
  ScrollEvent scroll;
};

class SimDesktop final : public Platform {
 public:
  SimDesktop();
  ~SimDesktop() override;

  // ---- scene -------------------------------------------------------------
  Capabilities caps{.accessibility = true,
                    .windowList = true,
                    .screens = true,
                    .keyboardEvents = true,
                    .mouseEvents = true,
                    .eventTap = true,
                    .screenCapture = true,
                    .testWindow = true,
                    .windowFrames = true,
                    .session = "simulated",
                    .editingModifier = 0x100000 /* command */,
                    .clipboard = true};
  bool trusted = true;
  bool grantTrustOnPrompt = false;  // what a person answers to the prompt
  int promptCount = 0;
  Pid ownPid = 4242;
  std::optional<std::string> executablePath = "/opt/kelp/kelp-cua";
  std::vector<RunningApp> apps;
  std::vector<Screen> screenList;
  std::optional<std::vector<SimWindow>> windows = std::vector<SimWindow>{};
  std::vector<std::pair<std::string, std::string>> env;
  std::set<std::string> existingPaths;
  std::vector<PostedEvent> posted;
  int snapshotsBegun = 0;
  int snapshotsOpen = 0;
  ReadPlan snapshotPlan;  // the plan of the last snapshot begun
  std::vector<std::pair<Element, std::string>> snapshotReads;  // attribute reads while one was open

  RunningApp& addApp(RunningApp app);
  Screen& addScreen(Screen screen);
  SimWindow& addWindow(SimWindow window);
  std::optional<std::string> envValue(const std::string& name) const;

  // ---- element trees -----------------------------------------------------
  // A new element of application `pid`. Attributes are plain Values; an
  // element's "AXChildren" is a ValueList of Elements.
  Element makeElement(Pid pid);
  void setAttr(const Element& element, const std::string& name, Value value);
  // A new element of the parent's application, appended to the parent's
  // "AXChildren" and pointing back through "AXParent".
  Element addChild(const Element& parent, std::vector<std::pair<std::string, Value>> attributes);
  // The same with its "AXRole" given first, as most scenes build elements.
  Element addElement(const Element& parent, std::string role,
                     std::vector<std::pair<std::string, Value>> attributes = {});
  // The root element of application `pid`, as the accessibility service gives it.
  Element appRoot(Pid pid);
  // Hit tests below `root` (the system-wide element or an application root)
  // inside the rectangle give `hit`; later regions lie on top of earlier ones.
  void addHitRegion(const Element& root, double x, double y, double w, double h, const Element& hit);
  // Applications that let calls time out: reads still answer (a test sets
  // what they give), and the accessibility service says they do not answer.
  std::set<Pid> busy;
  // Applications whose accessibility presses run inside the call, so that a
  // person's click is the safer press.
  std::set<Pid> pressesHoldApplication;
  // The element vanishes: every later read of it fails quietly.
  void remove(const Element& element);
  std::vector<std::pair<std::string, Value>> writes;   // attribute writes received
  std::vector<std::pair<Element, std::string>> actions;  // actions performed
  // The element refuses this attribute write or action: the call fails and
  // changes nothing. Everything else is accepted.
  void refuse(const Element& element, const std::string& writeOrAction);
  // What a text the keyboard types at the element does to its "AXValue";
  // without a rule it replaces the selected text, or else is appended.
  // Runs after the element performed an action it does not refuse, as the
  // application's answer (a menu opening, a dialog appearing).
  void onAction(const Element& element, std::function<void(const std::string& action)> answer);
  // Runs after the element took an attribute write, as the application's
  // answer (a window manager that puts a window back).
  void onWrite(const Element& element, std::function<void(const std::string& attribute)> answer);
  // Runs after each posted mouse event, as the application under the
  // pointer answers it (a menu closing on a click).
  std::function<void(const MouseEvent&)> onMouse;
  // Pointer and wheel events are lost (an input session the compositor
  // dropped): posting them reports failure.
  bool pointerLost = false;
  using TypingRule = std::function<std::string(const std::string& value, const std::string& typed)>;
  void onTyping(const Element& element, TypingRule rule);

  // ---- activation and launch ---------------------------------------------
  // How an application answers a request to activate it: at once (the
  // default), `micros` later, or never (none).
  std::map<Pid, std::optional<std::int64_t>> activationDelay;
  int activationRequests = 0;
  // Applications the platform knows by bundle identifier, to their paths.
  std::map<std::string, std::string> bundlePaths;
  // How opening an application at a path ends: with ok after `micros` of
  // virtual time, or never when absent from the map.
  struct LaunchOutcome {
    bool ok = true;
    std::int64_t micros = 0;
  };
  std::map<std::string, LaunchOutcome> launchOutcomes;
  std::vector<std::string> opened;  // paths asked to open, in order
  // A completion that has not arrived yet; a test may call it late.
  std::vector<std::function<void(bool)>> unansweredLaunches;

  // ---- screen capture ----------------------------------------------------
  // What the capture service offers; none when it refuses (no permission).
  std::optional<std::vector<CaptureDisplay>> captureDisplays = std::vector<CaptureDisplay>{};
  std::set<std::uint32_t> captureFailures;  // displays whose capture fails
  std::set<std::uint32_t> unencodable;      // whose pictures cannot be encoded
  // While held, a capture waits inside captureDisplay until released, as a
  // slow capture would; it may run on another thread.
  void holdCaptures();
  void releaseCaptures();
  int capturesFinished();
  // Pictures are filled with their display's id, and their JPEG text reads
  // "jpeg:<id>:<w>x<h>@<quality>" so that tests can see what was encoded.
  std::vector<std::string> captureLog();  // "<id> <w>x<h>" per capture asked for, "<id> <x>,<y> <aw>x<ah> <w>x<h>" per area

  // ---- clipboard -----------------------------------------------------------
  std::optional<std::string> clipboardText;  // none: it holds no text
  bool clipboardRefuses = false;             // setting the text fails

  // ---- the self-test's window --------------------------------------------
  // Its controls and menus become elements of this process's application
  // (ownPid), laid out from the top left of `testWindowOrigin`. A label is
  // neither focusable nor writable.
  bool testWindowShows = true;            // false: there is no display for it
  bool testWindowHasMenuBar = true;
  std::set<std::string> testWindowOmits;  // identifiers of controls left out
  Point testWindowOrigin{200, 100};
  int testWindowsShown = 0;

  // ---- virtual clock -----------------------------------------------------
  std::int64_t nowMicros() const { return now_; }
  void advance(std::int64_t micros) { advanceTo(now_ + micros); }
  // Changes the scene once virtual time reaches `micros`, as the helper's
  // own sleeps pass it: what an application does while a request waits.
  void atTime(std::int64_t micros, std::function<void()> change);

  // ---- run loop ----------------------------------------------------------
  // Runs queued tasks and due timers on the calling thread without blocking.
  void runPending();
  // Lets `micros` of virtual time pass on the run loop, on the calling
  // thread: timers and scripted events fire each at its own time.
  void runFor(std::int64_t micros);

  // ---- Platform ----------------------------------------------------------
  Capabilities capabilities() override { return caps; }
  Accessibility& accessibility() override;
  Workspace& workspace() override;
  Process& process() override;
  Screens& screens() override;
  WindowList& windowList() override;
  EventPoster& events() override;
  EventTap& eventTap() override;
  ScreenCapture& capture() override;
  Clipboard& clipboard() override;
  TestWindow& testWindow() override;
  Environment& environment() override;
  Clock& clock() override;
  RunLoop& runLoop() override;

  // Delivers an input event of the user to a started event tap whose mask
  // holds its type; false when no tap took it.
  bool tapRunning() const { return static_cast<bool>(tapHandler_); }
  bool deliverTapEvent(const TappedEvent& event);
  // The same `afterMicros` of virtual time from now, from the run loop, as
  // a person's input arrives between commands.
  void scheduleTapEvent(std::int64_t afterMicros, const TappedEvent& event);
  // Where the pointer is, as the event tap tells; none: it cannot be asked.
  std::optional<Point> pointer = Point{};
  // The calendar time at virtual time 0, in milliseconds since 1970.
  std::int64_t wallStartMillis = 1'765'000'000'000;

 private:
  friend class SimServices;
  friend class SimAccessibility;
  friend class SimRunLoop;
  friend class SimEventTap;
  friend class SimClock;
  friend class SimWorkspace;
  friend class SimEventPoster;
  void makeActive(Pid pid);
  struct ElementData {
    Pid pid = 0;
    bool removed = false;
    std::map<std::string, Value> attributes;
    std::set<std::string> refused;
    TypingRule typing;
    std::function<void(const std::string&)> answer;
    std::function<void(const std::string&)> afterWrite;
  };
  // Typing at the focused field, as its typing rule says.
  void typeAtFocus(const std::u16string& text);
  void selectAllAtFocus();
  ElementData* focusedData();
  void advanceTo(std::int64_t micros);
  struct PendingLaunch {
    std::int64_t due;
    bool ok;
    std::function<void(bool)> done;
  };
  std::vector<PendingLaunch> pendingLaunches_;
  std::map<Pid, std::int64_t> activationDue_;
  std::multimap<std::int64_t, std::function<void()>> sceneChanges_;
  ElementData* find(const Element& element);

  friend class SimCapture;
  std::mutex captureMutex_;
  std::condition_variable captureReleased_;
  bool capturesHeld_ = false;
  int capturesFinished_ = 0;
  std::vector<std::string> captureLog_;

  std::unique_ptr<class SimServices> services_;
  std::map<std::uint64_t, ElementData> elements_;
  std::uint64_t nextElement_ = 1;
  std::map<Pid, Element> appElements_;
  struct HitRegion {
    Element root;
    double x, y, w, h;
    Element hit;
  };
  std::vector<HitRegion> hitRegions_;
  Element systemWide_;
  std::int64_t now_ = 0;
  std::function<void(const TappedEvent&)> tapHandler_;
  std::uint64_t tapMask_ = 0;

  // Run loop state; tasks may come from the reader thread.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopRequested_ = false;
  struct Timer {
    std::int64_t due;
    std::function<void()> fire;
  };
  std::map<RunLoop::TimerId, Timer> timers_;
  RunLoop::TimerId nextTimer_ = 1;
  bool fireNextTimer();
};

}  // namespace kelp::platform::sim
