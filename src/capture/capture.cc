#include "capture/capture.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ax/attributes.h"
#include "ax/lookup.h"

namespace kelp::capture {
namespace {

// What the capture thread and the waiting caller share. The thread keeps it
// alive, so a capture that ends after the caller gave up writes only here.
struct Handover {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  std::vector<Picture> pictures;
  // The focus decides between several displays only, and only the caller's
  // thread may read it: the capture asks (`wantCentre`) and waits until the
  // caller answers (`centreGiven`), which it also does when it stops waiting.
  bool wantCentre = false;
  bool centreGiven = false;
  std::optional<platform::Point> centre;
};

std::optional<platform::Point> focusCentre(platform::Platform& os, const std::optional<std::string>& appName) {
  platform::Accessibility& ax = os.accessibility();
  if (!ax.isTrusted()) return std::nullopt;
  std::optional<ax::AppPair> target;
  if (appName) target = ax::appElement(os, appName, std::nullopt);
  if (!target) target = ax::appElement(os, std::nullopt, std::nullopt);
  if (!target) return std::nullopt;
  std::optional<platform::Element> window = ax::focusedOrFirstWindow(ax, target->element);
  if (!window) return std::nullopt;
  std::optional<ax::Frame> frame = ax::frameOf(ax, *window);
  if (!frame) return std::nullopt;
  return platform::Point{frame->x + frame->w / 2, frame->y + frame->h / 2};
}

bool contains(const platform::CaptureDisplay& display, const platform::Point& point) {
  return point.x >= display.x && point.x < display.x + display.width && point.y >= display.y &&
         point.y < display.y + display.height;
}

std::string noteFor(const platform::CaptureDisplay& display) {
  return "display " + std::to_string(display.id) + " " + std::to_string(display.width) + "x" +
         std::to_string(display.height);
}

// The focus centre from the caller's thread, asked for only when it can
// change which display is taken.
std::optional<platform::Point> centreFor(const std::vector<platform::CaptureDisplay>& displays,
                                         const std::string& which, Handover& handover) {
  if (which == "all" || displays.size() < 2) return std::nullopt;
  std::unique_lock lock(handover.mutex);
  handover.wantCentre = true;
  handover.changed.notify_all();
  handover.changed.wait(lock, [&] { return handover.centreGiven; });
  return handover.centre;
}

void runCapture(platform::ScreenCapture& screens, const std::string& which, Handover& handover) {
  std::optional<std::vector<platform::CaptureDisplay>> displays = screens.displays();
  if (displays) {
    const std::optional<platform::Point> centre = centreFor(*displays, which, handover);
    for (const platform::CaptureDisplay& display : targetDisplays(*displays, which, centre)) {
      std::optional<PictureSize> size = pictureSize(display);
      if (!size) continue;
      std::optional<platform::Image> image = screens.captureDisplay(display.id, size->width, size->height);
      if (!image) continue;
      std::lock_guard lock(handover.mutex);
      handover.pictures.push_back({std::move(*image), noteFor(display)});
    }
  }
  std::lock_guard lock(handover.mutex);
  handover.done = true;
  handover.changed.notify_all();
}

}  // namespace

std::optional<PictureSize> pictureSize(const platform::CaptureDisplay& display) {
  if (display.width <= 0 || display.height <= 0) return std::nullopt;
  const int width = std::min(display.width, MAX_PICTURE_WIDTH);
  const int height = static_cast<int>(static_cast<double>(display.height) / display.width * width);
  if (height <= 0) return std::nullopt;
  return PictureSize{width, height};
}

std::vector<platform::CaptureDisplay> targetDisplays(const std::vector<platform::CaptureDisplay>& displays,
                                                     const std::string& which,
                                                     const std::optional<platform::Point>& centre) {
  if (which == "all" || displays.empty()) return displays;
  if (centre) {
    for (const platform::CaptureDisplay& display : displays) {
      if (contains(display, *centre)) return {display};
    }
  }
  return {displays.front()};
}

std::vector<Picture> captureScreen(platform::Platform& os, const std::string& which,
                                   const std::optional<std::string>& appName, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto handover = std::make_shared<Handover>();
  platform::ScreenCapture& screens = os.capture();
  std::thread([handover, &screens, which] { runCapture(screens, which, *handover); }).detach();

  std::unique_lock lock(handover->mutex);
  const auto ready = [&] { return handover->done || (handover->wantCentre && !handover->centreGiven); };
  while (handover->changed.wait_until(lock, deadline, ready) && !handover->done) {
    // The focus is read here, on the caller's thread, where accessibility
    // lives, while the capture waits for it.
    lock.unlock();
    std::optional<platform::Point> centre = focusCentre(os, appName);
    lock.lock();
    handover->centre = centre;
    handover->centreGiven = true;
    handover->changed.notify_all();
  }
  // A capture that asks later goes on without the focus.
  handover->centreGiven = true;
  handover->changed.notify_all();
  return handover->pictures;
}

}  // namespace kelp::capture
