#include "capture/capture.h"

#include <algorithm>
#include <cmath>
#include <functional>
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

void keep(Handover& handover, platform::Image image, std::string note, double x, double y, int pointsWide) {
  const Placement placement{x, y, static_cast<double>(image.width) / pointsWide, image.width, image.height};
  std::lock_guard lock(handover.mutex);
  handover.pictures.push_back({std::move(image), std::move(note), placement});
}

void finish(Handover& handover) {
  std::lock_guard lock(handover.mutex);
  handover.done = true;
  handover.changed.notify_all();
}

void captureDisplays(platform::ScreenCapture& screens, const std::string& which, int maxWidth, Handover& handover) {
  if (std::optional<std::vector<platform::CaptureDisplay>> displays = screens.displays()) {
    const std::optional<platform::Point> centre = centreFor(*displays, which, handover);
    for (const platform::CaptureDisplay& display : targetDisplays(*displays, which, centre)) {
      std::optional<PictureSize> size = pictureSize(display, maxWidth);
      if (!size) continue;
      std::optional<platform::Image> image = screens.captureDisplay(display.id, size->width, size->height);
      if (image) keep(handover, std::move(*image), noteFor(display), display.x, display.y, display.width);
    }
  }
  finish(handover);
}

void captureDisplayPart(platform::ScreenCapture& screens, const ScreenRegion& region, std::optional<int> maxWidth,
                        Handover& handover) {
  const std::optional<std::vector<platform::CaptureDisplay>> displays = screens.displays();
  const std::optional<DisplayPart> part = displays ? displayPartOf(*displays, region) : std::nullopt;
  const std::optional<PictureSize> size =
      part ? regionPictureSize(part->area.width, part->area.height, maxWidth) : std::nullopt;
  if (part && size) {
    if (std::optional<platform::Image> image =
            screens.captureArea(part->display.id, part->area, size->width, size->height)) {
      const platform::CaptureArea& area = part->area;
      const std::string note = noteFor(part->display) + ", " + std::to_string(area.width) + "x" +
                               std::to_string(area.height) + " at " + std::to_string(area.x) + "," +
                               std::to_string(area.y);
      keep(handover, std::move(*image), note, part->display.x + area.x, part->display.y + area.y, area.width);
    }
  }
  finish(handover);
}

// Runs `job` on a thread of its own and waits for it at most until
// `deadline`, answering its questions about the focus meanwhile.
std::vector<Picture> awaitPictures(platform::Platform& os, const std::optional<std::string>& appName,
                                   std::chrono::milliseconds timeout, std::function<void(Handover&)> job) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto handover = std::make_shared<Handover>();
  std::thread([handover, job = std::move(job)] { job(*handover); }).detach();

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

}  // namespace

std::optional<PictureSize> pictureSize(const platform::CaptureDisplay& display, int maxWidth) {
  if (display.width <= 0 || display.height <= 0 || maxWidth <= 0) return std::nullopt;
  const int width = std::min(display.width, maxWidth);
  const int height = static_cast<int>(static_cast<double>(display.height) / display.width * width);
  if (height <= 0) return std::nullopt;
  return PictureSize{width, height};
}

std::optional<PictureSize> regionPictureSize(int width, int height, std::optional<int> maxWidth) {
  if (width <= 0 || height <= 0 || (maxWidth && *maxWidth <= 0)) return std::nullopt;
  double scale = std::min(1.0, static_cast<double>(MAX_REGION_EDGE) / std::max(width, height));
  if (maxWidth) scale = std::min(scale, static_cast<double>(*maxWidth) / width);
  const int pictureWidth = static_cast<int>(width * scale);
  const int pictureHeight = static_cast<int>(height * scale);
  if (pictureWidth <= 0 || pictureHeight <= 0) return std::nullopt;
  return PictureSize{pictureWidth, pictureHeight};
}

std::optional<platform::Point> pointInPicture(const Placement& placement, double px, double py) {
  // Written so that NaN fails too.
  if (!(px >= 0 && py >= 0 && px < placement.width && py < placement.height) || !(placement.scale > 0)) {
    return std::nullopt;
  }
  return platform::Point{placement.x + px / placement.scale, placement.y + py / placement.scale};
}

std::optional<DisplayPart> displayPartOf(const std::vector<platform::CaptureDisplay>& displays,
                                         const ScreenRegion& region) {
  if (!(region.w > 0) || !(region.h > 0) || !std::isfinite(region.x) || !std::isfinite(region.y) ||
      !std::isfinite(region.w) || !std::isfinite(region.h)) {
    return std::nullopt;
  }
  std::optional<DisplayPart> best;
  double bestShare = 0;
  for (const platform::CaptureDisplay& display : displays) {
    // Whole points of the display, the region's edges rounded outwards.
    const double left = std::max(std::floor(region.x), display.x);
    const double top = std::max(std::floor(region.y), display.y);
    const double right = std::min(std::ceil(region.x + region.w), display.x + display.width);
    const double bottom = std::min(std::ceil(region.y + region.h), display.y + display.height);
    if (right <= left || bottom <= top) continue;
    const double share = (right - left) * (bottom - top);
    if (share <= bestShare) continue;
    bestShare = share;
    best = DisplayPart{display, {static_cast<int>(left - display.x), static_cast<int>(top - display.y),
                                 static_cast<int>(right - left), static_cast<int>(bottom - top)}};
  }
  return best;
}

bool displayHolds(const platform::CaptureDisplay& display, const platform::Point& point) {
  return point.x >= display.x && point.x < display.x + display.width && point.y >= display.y &&
         point.y < display.y + display.height;
}

std::vector<platform::CaptureDisplay> targetDisplays(const std::vector<platform::CaptureDisplay>& displays,
                                                     const std::string& which,
                                                     const std::optional<platform::Point>& centre) {
  if (which == "all" || displays.empty()) return displays;
  if (centre) {
    for (const platform::CaptureDisplay& display : displays) {
      if (displayHolds(display, *centre)) return {display};
    }
  }
  return {displays.front()};
}

std::vector<Picture> captureScreen(platform::Platform& os, const std::string& which,
                                   const std::optional<std::string>& appName, int maxWidth,
                                   std::chrono::milliseconds timeout) {
  platform::ScreenCapture& screens = os.capture();
  return awaitPictures(os, appName, timeout, [&screens, which, maxWidth](Handover& handover) {
    captureDisplays(screens, which, maxWidth, handover);
  });
}

std::vector<Picture> captureRegion(platform::Platform& os, const ScreenRegion& region, std::optional<int> maxWidth,
                                   std::chrono::milliseconds timeout) {
  platform::ScreenCapture& screens = os.capture();
  return awaitPictures(os, std::nullopt, timeout, [&screens, region, maxWidth](Handover& handover) {
    captureDisplayPart(screens, region, maxWidth, handover);
  });
}

}  // namespace kelp::capture
