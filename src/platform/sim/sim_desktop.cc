#include "platform/sim/sim_desktop.h"

#include <algorithm>
#include <cstdio>

#include "text/text.h"

namespace kelp::platform::sim {
namespace {

class SimElement final : public ElementImpl {
 public:
  explicit SimElement(std::uint64_t id) : id(id) {}
  bool sameAs(const ElementImpl& other) const override {
    auto* sim = dynamic_cast<const SimElement*>(&other);
    return sim && sim->id == id;
  }
  std::uint64_t id;
};

std::uint64_t idOf(const Element& element) {
  auto* sim = dynamic_cast<const SimElement*>(element.impl());
  return sim ? sim->id : 0;
}

}  // namespace

class SimAccessibility final : public Accessibility {
 public:
  explicit SimAccessibility(SimDesktop& sim) : sim_(sim) {}
  bool isTrusted() override { return sim_.trusted; }
  bool promptForTrust() override {
    ++sim_.promptCount;
    if (sim_.grantTrustOnPrompt) sim_.trusted = true;
    return sim_.trusted;
  }
  Element systemWide() override { return sim_.systemWide_; }
  Element applicationElement(Pid pid) override {
    auto it = sim_.appElements_.find(pid);
    if (it != sim_.appElements_.end()) return it->second;
    Element element = sim_.makeElement(pid);
    sim_.setAttr(element, "AXRole", "AXApplication");
    sim_.appElements_[pid] = element;
    return element;
  }
  Value copyAttribute(const Element& element, const std::string& name) override {
    if (sim_.snapshotsOpen > 0) sim_.snapshotReads.emplace_back(element, name);
    auto* data = sim_.find(element);
    if (!data) return {};
    auto it = data->attributes.find(name);
    return it == data->attributes.end() ? Value{} : it->second;
  }
  bool setAttribute(const Element& element, const std::string& name, const Value& value) override {
    auto* data = sim_.find(element);
    if (!data) return false;
    sim_.writes.emplace_back(name, value);
    if (data->refused.count(name)) return false;
    data->attributes[name] = value;
    if (name == "AXFocused" && value.as<bool>() && *value.as<bool>()) focus(element, data->pid);
    if (name == "AXFrontmost" && value.as<bool>() && *value.as<bool>()) sim_.workspace().activate(data->pid);
    return true;
  }
  bool performAction(const Element& element, const std::string& action) override {
    auto* data = sim_.find(element);
    if (!data) return false;
    sim_.actions.emplace_back(element, action);
    if (data->refused.count(action)) return false;
    // Pressing a text field puts the cursor in it, as clicking would.
    if (action == "AXPress") {
      auto role = data->attributes.find("AXRole");
      const std::string* name = role == data->attributes.end() ? nullptr : role->second.as<std::string>();
      if (name && (*name == "AXTextField" || *name == "AXTextArea" || *name == "AXSearchField")) {
        focus(element, data->pid);
      }
    }
    // A copy, so that an answer may replace itself.
    if (auto answer = data->answer) answer(action);
    return true;
  }
  std::optional<Element> elementAtPosition(const Element& root, float x, float y) override {
    if (!sim_.find(root)) return std::nullopt;
    for (auto it = sim_.hitRegions_.rbegin(); it != sim_.hitRegions_.rend(); ++it) {
      if (it->root == root && x >= it->x && y >= it->y && x < it->x + it->w && y < it->y + it->h &&
          sim_.find(it->hit)) {
        return it->hit;
      }
    }
    return std::nullopt;
  }
  std::optional<Pid> pidOf(const Element& element) override {
    auto* data = sim_.find(element);
    if (!data) return std::nullopt;
    return data->pid;
  }
  void beginSnapshot(const ReadPlan& plan) override {
    ++sim_.snapshotsBegun;
    ++sim_.snapshotsOpen;
    sim_.snapshotPlan = plan;
  }
  void endSnapshot() override { --sim_.snapshotsOpen; }

 private:
  void focus(const Element& element, Pid pid) { sim_.setAttr(applicationElement(pid), "AXFocusedUIElement", element); }
  SimDesktop& sim_;
};

class SimWorkspace final : public Workspace {
 public:
  explicit SimWorkspace(SimDesktop& sim) : sim_(sim) {}
  std::vector<RunningApp> runningApplications() override { return sim_.apps; }
  std::optional<RunningApp> frontmostApplication() override {
    for (const RunningApp& app : sim_.apps) {
      if (app.active) return app;
    }
    return std::nullopt;
  }
  std::optional<RunningApp> applicationWithPid(Pid pid) override {
    for (const RunningApp& app : sim_.apps) {
      if (app.pid == pid) return app;
    }
    return std::nullopt;
  }
  bool isActive(Pid pid) override {
    auto app = applicationWithPid(pid);
    return app && app->active;
  }
  bool activate(Pid pid) override {
    ++sim_.activationRequests;
    if (!applicationWithPid(pid)) return false;
    auto behaviour = sim_.activationDelay.find(pid);
    if (behaviour == sim_.activationDelay.end() || (behaviour->second && *behaviour->second <= 0)) {
      sim_.makeActive(pid);
    } else if (behaviour->second) {
      sim_.activationDue_[pid] = sim_.now_ + *behaviour->second;
    }
    return true;
  }
  std::optional<std::string> applicationPathForBundleId(const std::string& bundleId) override {
    auto it = sim_.bundlePaths.find(bundleId);
    if (it == sim_.bundlePaths.end()) return std::nullopt;
    return it->second;
  }
  ApplicationFolders applicationFolders() override {
    return {{"/Applications", "/System/Applications", "/System/Applications/Utilities", homeDirectory() + "/Applications"},
            ".app"};
  }
  void openApplication(const std::string& path, std::function<void(bool)> done) override {
    sim_.opened.push_back(path);
    auto outcome = sim_.launchOutcomes.find(path);
    if (outcome == sim_.launchOutcomes.end()) {
      sim_.unansweredLaunches.push_back(std::move(done));
    } else if (outcome->second.micros <= 0) {
      done(outcome->second.ok);
    } else {
      sim_.pendingLaunches_.push_back({sim_.now_ + outcome->second.micros, outcome->second.ok, std::move(done)});
    }
  }
  std::string homeDirectory() override { return "/home/sim"; }
  bool fileExists(const std::string& path) override { return sim_.existingPaths.count(path) > 0; }

 private:
  SimDesktop& sim_;
};

class SimProcess final : public Process {
 public:
  explicit SimProcess(SimDesktop& sim) : sim_(sim) {}
  Pid ownPid() override { return sim_.ownPid; }
  std::optional<std::string> executablePath() override { return sim_.executablePath; }

 private:
  SimDesktop& sim_;
};

class SimScreens final : public Screens {
 public:
  explicit SimScreens(SimDesktop& sim) : sim_(sim) {}
  std::vector<Screen> screens() override { return sim_.screenList; }

 private:
  SimDesktop& sim_;
};

class SimWindowList final : public WindowList {
 public:
  explicit SimWindowList(SimDesktop& sim) : sim_(sim) {}
  std::optional<std::vector<WindowInfo>> onScreenWindows() override {
    if (!sim_.windows) return std::nullopt;
    std::vector<WindowInfo> list;
    for (const SimWindow& window : *sim_.windows) {
      list.push_back({window.ownerName, window.ownerPid, window.title.has_value(), window.title, window.layer});
    }
    return list;
  }

 private:
  SimDesktop& sim_;
};

class SimEventPoster final : public EventPoster {
 public:
  explicit SimEventPoster(SimDesktop& sim) : sim_(sim) {}
  bool postKey(const KeyEvent& event) override {
    PostedEvent posted{sim_.nowMicros(), PostedEvent::Kind::key, event, {}, {}};
    sim_.posted.push_back(posted);
    if (event.down && !event.unicode.empty()) sim_.typeAtFocus(event.unicode);
    return true;
  }
  bool postMouse(const MouseEvent& event) override {
    PostedEvent posted{sim_.nowMicros(), PostedEvent::Kind::mouse, {}, event, {}};
    sim_.posted.push_back(posted);
    return true;
  }
  bool postScroll(const ScrollEvent& event) override {
    PostedEvent posted{sim_.nowMicros(), PostedEvent::Kind::scroll, {}, {}, event};
    sim_.posted.push_back(posted);
    return true;
  }

 private:
  SimDesktop& sim_;
};

class SimEventTap final : public EventTap {
 public:
  explicit SimEventTap(SimDesktop& sim) : sim_(sim) {}
  bool start(std::uint64_t, std::function<void(const TappedEvent&)> onEvent) override {
    if (!sim_.caps.eventTap) return false;
    sim_.tapHandler_ = std::move(onEvent);
    return true;
  }
  void stop() override { sim_.tapHandler_ = nullptr; }

 private:
  SimDesktop& sim_;
};

class SimCapture final : public ScreenCapture {
 public:
  explicit SimCapture(SimDesktop& sim) : sim_(sim) {}
  std::optional<std::vector<CaptureDisplay>> displays() override { return sim_.captureDisplays; }
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override {
    std::unique_lock lock(sim_.captureMutex_);
    sim_.captureLog_.push_back(std::to_string(displayId) + " " + std::to_string(width) + "x" + std::to_string(height));
    sim_.captureReleased_.wait(lock, [&] { return !sim_.capturesHeld_; });
    std::optional<Image> image;
    if (!sim_.captureFailures.count(displayId) && width > 0 && height > 0) {
      image = Image{width, height, {}};
      image->rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3,
                        static_cast<std::uint8_t>(displayId));
    }
    // Counted last: once a test sees the count, this capture no longer
    // touches the desktop.
    ++sim_.capturesFinished_;
    return image;
  }
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override {
    if (image.rgb.empty()) return std::nullopt;
    const std::uint32_t displayId = image.rgb.front();
    if (sim_.unencodable.count(displayId)) return std::nullopt;
    char text[96];
    std::snprintf(text, sizeof text, "jpeg:%u:%dx%d@%g", displayId, image.width, image.height, quality);
    return Jpeg{text, image.width, image.height};
  }

 private:
  SimDesktop& sim_;
};

class SimEnvironment final : public Environment {
 public:
  explicit SimEnvironment(SimDesktop& sim) : sim_(sim) {}
  std::vector<std::pair<std::string, std::string>> snapshot() override { return sim_.env; }
  bool unset(const std::string& name) override {
    auto before = sim_.env.size();
    std::erase_if(sim_.env, [&](const auto& entry) { return entry.first == name; });
    return sim_.env.size() != before;
  }

 private:
  SimDesktop& sim_;
};

class SimClock final : public Clock {
 public:
  explicit SimClock(SimDesktop& sim) : sim_(sim) {}
  std::int64_t nowMicros() override { return sim_.now_; }
  void sleepMicros(std::int64_t micros) override {
    if (micros > 0) sim_.advanceTo(sim_.now_ + micros);
  }

 private:
  SimDesktop& sim_;
};

class SimRunLoop final : public RunLoop {
 public:
  explicit SimRunLoop(SimDesktop& sim) : sim_(sim) {}

  void run() override {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(sim_.mutex_);
        // Idle time passes instantly: with nothing queued, the next timer is due.
        sim_.wake_.wait(lock, [&] { return sim_.stopRequested_ || !sim_.tasks_.empty() || !sim_.timers_.empty(); });
        if (sim_.stopRequested_) {
          sim_.stopRequested_ = false;
          return;
        }
        if (!sim_.tasks_.empty()) {
          task = std::move(sim_.tasks_.front());
          sim_.tasks_.pop_front();
        }
      }
      if (task) {
        task();
      } else {
        sim_.fireNextTimer();
      }
    }
  }

  void stop() override {
    std::lock_guard lock(sim_.mutex_);
    sim_.stopRequested_ = true;
    sim_.wake_.notify_all();
  }

  void runSync(std::function<void()> task) override {
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    {
      std::lock_guard lock(sim_.mutex_);
      sim_.tasks_.push_back([&] {
        task();
        std::lock_guard doneLock(doneMutex);
        done = true;
        doneSignal.notify_one();
      });
      sim_.wake_.notify_all();
    }
    std::unique_lock doneLock(doneMutex);
    doneSignal.wait(doneLock, [&] { return done; });
  }

  TimerId addTimer(std::int64_t delayMicros, std::function<void()> fire) override {
    std::lock_guard lock(sim_.mutex_);
    TimerId id = sim_.nextTimer_++;
    sim_.timers_[id] = {sim_.now_ + std::max<std::int64_t>(delayMicros, 0), std::move(fire)};
    sim_.wake_.notify_all();
    return id;
  }

  void cancelTimer(TimerId id) override {
    std::lock_guard lock(sim_.mutex_);
    sim_.timers_.erase(id);
  }

 private:
  SimDesktop& sim_;
};

class SimServices {
 public:
  explicit SimServices(SimDesktop& sim)
      : accessibility(sim),
        workspace(sim),
        process(sim),
        screens(sim),
        windowList(sim),
        events(sim),
        eventTap(sim),
        capture(sim),
        environment(sim),
        clock(sim),
        runLoop(sim) {}
  SimAccessibility accessibility;
  SimWorkspace workspace;
  SimProcess process;
  SimScreens screens;
  SimWindowList windowList;
  SimEventPoster events;
  SimEventTap eventTap;
  SimCapture capture;
  SimEnvironment environment;
  SimClock clock;
  SimRunLoop runLoop;
};

SimDesktop::SimDesktop() : services_(std::make_unique<SimServices>(*this)) {
  systemWide_ = makeElement(0);
  setAttr(systemWide_, "AXRole", "AXSystemWide");
}

SimDesktop::~SimDesktop() = default;

RunningApp& SimDesktop::addApp(RunningApp app) { return apps.emplace_back(std::move(app)); }
Screen& SimDesktop::addScreen(Screen screen) { return screenList.emplace_back(screen); }
SimWindow& SimDesktop::addWindow(SimWindow window) {
  if (!windows) windows.emplace();
  return windows->emplace_back(std::move(window));
}

std::optional<std::string> SimDesktop::envValue(const std::string& name) const {
  for (const auto& [key, value] : env) {
    if (key == name) return value;
  }
  return std::nullopt;
}

Element SimDesktop::makeElement(Pid pid) {
  std::uint64_t id = nextElement_++;
  elements_[id].pid = pid;
  return Element(std::make_shared<SimElement>(id));
}

void SimDesktop::setAttr(const Element& element, const std::string& name, Value value) {
  if (auto* data = find(element)) data->attributes[name] = std::move(value);
}

Element SimDesktop::addChild(const Element& parent, std::vector<std::pair<std::string, Value>> attributes) {
  ElementData* parentData = find(parent);
  Element child = makeElement(parentData ? parentData->pid : 0);
  for (auto& [name, value] : attributes) setAttr(child, name, std::move(value));
  setAttr(child, "AXParent", parent);
  if ((parentData = find(parent))) {
    Value& children = parentData->attributes["AXChildren"];
    if (!children.as<ValueList>()) children = ValueList{};
    std::get<ValueList>(children).push_back(child);
  }
  return child;
}

Element SimDesktop::addElement(const Element& parent, std::string role,
                               std::vector<std::pair<std::string, Value>> attributes) {
  attributes.emplace_back("AXRole", std::move(role));
  return addChild(parent, std::move(attributes));
}

Element SimDesktop::appRoot(Pid pid) { return accessibility().applicationElement(pid); }

void SimDesktop::addHitRegion(const Element& root, double x, double y, double w, double h, const Element& hit) {
  hitRegions_.push_back({root, x, y, w, h, hit});
}

void SimDesktop::holdCaptures() {
  std::lock_guard lock(captureMutex_);
  capturesHeld_ = true;
}

void SimDesktop::releaseCaptures() {
  std::lock_guard lock(captureMutex_);
  capturesHeld_ = false;
  captureReleased_.notify_all();
}

int SimDesktop::capturesFinished() {
  std::lock_guard lock(captureMutex_);
  return capturesFinished_;
}

std::vector<std::string> SimDesktop::captureLog() {
  std::lock_guard lock(captureMutex_);
  return captureLog_;
}

void SimDesktop::refuse(const Element& element, const std::string& writeOrAction) {
  if (auto* data = find(element)) data->refused.insert(writeOrAction);
}

void SimDesktop::onAction(const Element& element, std::function<void(const std::string&)> answer) {
  if (auto* data = find(element)) data->answer = std::move(answer);
}

void SimDesktop::onTyping(const Element& element, TypingRule rule) {
  if (auto* data = find(element)) data->typing = std::move(rule);
}

void SimDesktop::makeActive(Pid pid) {
  activationDue_.erase(pid);
  for (RunningApp& app : apps) app.active = app.pid == pid;
}

void SimDesktop::typeAtFocus(const std::u16string& text) {
  std::optional<RunningApp> front = workspace().frontmostApplication();
  if (!front) return;
  Value target = accessibility().copyAttribute(appRoot(front->pid), "AXFocusedUIElement");
  const Element* element = target.as<Element>();
  ElementData* data = element ? find(*element) : nullptr;
  if (!data) return;
  const std::string typed = text::fromUtf16(text);
  const std::string* current = data->attributes["AXValue"].as<std::string>();
  const std::string value = current ? *current : std::string();
  data->attributes["AXValue"] = data->typing ? data->typing(value, typed) : value + typed;
}

void SimDesktop::advanceTo(std::int64_t micros) {
  now_ = std::max(now_, micros);
  // Activations and launch completions that fall due as time passes.
  std::vector<Pid> comeForward;
  for (const auto& [pid, due] : activationDue_) {
    if (due <= now_) comeForward.push_back(pid);
  }
  for (Pid pid : comeForward) makeActive(pid);
  std::vector<PendingLaunch> due;
  std::erase_if(pendingLaunches_, [&](PendingLaunch& launch) {
    if (launch.due > now_) return false;
    due.push_back(std::move(launch));
    return true;
  });
  for (PendingLaunch& launch : due) launch.done(launch.ok);
}

void SimDesktop::remove(const Element& element) {
  if (auto* data = find(element)) data->removed = true;
}

SimDesktop::ElementData* SimDesktop::find(const Element& element) {
  auto it = elements_.find(idOf(element));
  if (it == elements_.end() || it->second.removed) return nullptr;
  return &it->second;
}

bool SimDesktop::fireNextTimer() {
  std::function<void()> fire;
  {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return false;
    auto next = std::min_element(timers_.begin(), timers_.end(),
                                 [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
    now_ = std::max(now_, next->second.due);
    fire = std::move(next->second.fire);
    timers_.erase(next);
  }
  fire();
  return true;
}

void SimDesktop::runPending() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
    }
    if (task) {
      task();
      continue;
    }
    bool due = false;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [id, timer] : timers_) due = due || timer.due <= now_;
    }
    if (!due || !fireNextTimer()) return;
  }
}

void SimDesktop::deliverTapEvent(const TappedEvent& event) {
  if (tapHandler_) tapHandler_(event);
}

Accessibility& SimDesktop::accessibility() { return services_->accessibility; }
Workspace& SimDesktop::workspace() { return services_->workspace; }
Process& SimDesktop::process() { return services_->process; }
Screens& SimDesktop::screens() { return services_->screens; }
WindowList& SimDesktop::windowList() { return services_->windowList; }
EventPoster& SimDesktop::events() { return services_->events; }
EventTap& SimDesktop::eventTap() { return services_->eventTap; }
ScreenCapture& SimDesktop::capture() { return services_->capture; }
Environment& SimDesktop::environment() { return services_->environment; }
Clock& SimDesktop::clock() { return services_->clock; }
RunLoop& SimDesktop::runLoop() { return services_->runLoop; }

}  // namespace kelp::platform::sim
