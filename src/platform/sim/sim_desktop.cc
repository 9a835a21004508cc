// The simulated desktop's scene outside the element trees: applications and
// their launch, screens, windows, capture, the environment; and the table of
// its services.
#include "platform/sim/sim_desktop.h"

#include <cstdio>

#include "platform/sim/sim_services.h"

namespace kelp::platform::sim {

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

class SimCapture final : public ScreenCapture {
 public:
  explicit SimCapture(SimDesktop& sim) : sim_(sim) {}
  std::optional<std::vector<CaptureDisplay>> displays() override { return sim_.captureDisplays; }
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override {
    return picture(displayId, std::to_string(width) + "x" + std::to_string(height), width, height);
  }
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override {
    return picture(displayId,
                   std::to_string(area.x) + "," + std::to_string(area.y) + " " + std::to_string(area.width) + "x" +
                       std::to_string(area.height) + " " + std::to_string(width) + "x" + std::to_string(height),
                   width, height);
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
  std::optional<Image> picture(std::uint32_t displayId, const std::string& asked, int width, int height) {
    std::unique_lock lock(sim_.captureMutex_);
    sim_.captureLog_.push_back(std::to_string(displayId) + " " + asked);
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

  SimDesktop& sim_;
};

class SimClipboard final : public Clipboard {
 public:
  explicit SimClipboard(SimDesktop& sim) : sim_(sim) {}
  std::optional<std::string> text() override { return sim_.clipboardText; }
  bool setText(const std::string& text) override {
    if (sim_.clipboardRefuses) return false;
    sim_.clipboardText = text;
    return true;
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

class SimServices {
 public:
  explicit SimServices(SimDesktop& sim)
      : accessibility(makeSimAccessibility(sim)),
        workspace(sim),
        process(sim),
        screens(sim),
        windowList(sim),
        events(makeSimEventPoster(sim)),
        eventTap(makeSimEventTap(sim)),
        capture(sim),
        clipboard(sim),
        testWindow(makeSimTestWindow(sim)),
        environment(sim),
        clock(makeSimClock(sim)),
        runLoop(makeSimRunLoop(sim)) {}
  std::unique_ptr<Accessibility> accessibility;
  SimWorkspace workspace;
  SimProcess process;
  SimScreens screens;
  SimWindowList windowList;
  std::unique_ptr<EventPoster> events;
  std::unique_ptr<EventTap> eventTap;
  SimCapture capture;
  SimClipboard clipboard;
  std::unique_ptr<TestWindow> testWindow;
  SimEnvironment environment;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<RunLoop> runLoop;
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




void SimDesktop::makeActive(Pid pid) {
  activationDue_.erase(pid);
  for (RunningApp& app : apps) app.active = app.pid == pid;
}








Accessibility& SimDesktop::accessibility() { return *services_->accessibility; }
Workspace& SimDesktop::workspace() { return services_->workspace; }
Process& SimDesktop::process() { return services_->process; }
Screens& SimDesktop::screens() { return services_->screens; }
WindowList& SimDesktop::windowList() { return services_->windowList; }
EventPoster& SimDesktop::events() { return *services_->events; }
EventTap& SimDesktop::eventTap() { return *services_->eventTap; }
ScreenCapture& SimDesktop::capture() { return services_->capture; }
Clipboard& SimDesktop::clipboard() { return services_->clipboard; }
TestWindow& SimDesktop::testWindow() { return *services_->testWindow; }
Environment& SimDesktop::environment() { return services_->environment; }
Clock& SimDesktop::clock() { return *services_->clock; }
RunLoop& SimDesktop::runLoop() { return *services_->runLoop; }

}  // namespace kelp::platform::sim
