// Still pictures of whole displays (every display, or the one under the
// centre of the target application's focused window) or of a part of the
// screen, each with where it lies so that its pixels lead back to points.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kelp::capture {

inline constexpr int MAX_PICTURE_WIDTH = 1024;
// A part of the screen is taken at its own size up to this long edge, so
// that small text stays readable.
inline constexpr int MAX_REGION_EDGE = 1568;
inline constexpr std::chrono::milliseconds CAPTURE_TIMEOUT{15000};

// Where a picture lies: its top left in screen points and its pixels per
// point.
struct Placement {
  double x = 0;
  double y = 0;
  double scale = 1;
  int width = 0;  // pixels
  int height = 0;
};

struct Picture {
  platform::Image image;
  std::string note;  // "display <id> <width>x<height>"
  Placement placement;
};

// The pixel size a display is captured at: at most `maxWidth` wide, aspect kept.
struct PictureSize {
  int width = 0;
  int height = 0;
};
std::optional<PictureSize> pictureSize(const platform::CaptureDisplay& display, int maxWidth = MAX_PICTURE_WIDTH);
// A part of the screen `width` x `height` points: its own size, its long
// edge at most MAX_REGION_EDGE and its width at most `maxWidth` where given.
std::optional<PictureSize> regionPictureSize(int width, int height, std::optional<int> maxWidth);

// The screen point that pixel (`px`, `py`) of a picture shows; none outside
// the picture.
std::optional<platform::Point> pointInPicture(const Placement& placement, double px, double py);

// A part of the screen in points (accessibility space).
struct ScreenRegion {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
};
// The display holding most of `region` and the whole points of it that the
// region covers there; none where it covers no display.
struct DisplayPart {
  platform::CaptureDisplay display;
  platform::CaptureArea area;
};
std::optional<DisplayPart> displayPartOf(const std::vector<platform::CaptureDisplay>& displays,
                                         const ScreenRegion& region);

// Whether `point` (global points) lies on the display.
bool displayHolds(const platform::CaptureDisplay& display, const platform::Point& point);

// The displays to capture for `which` ("all", or anything else for one) and
// the focused window's frame, if any.
std::vector<platform::CaptureDisplay> targetDisplays(const std::vector<platform::CaptureDisplay>& displays,
                                                     const std::string& which,
                                                     const std::optional<platform::Point>& focusCentre);

// Captures on a thread of its own and waits for it at most `timeout`; what
// the capture finishes later is dropped. The focused window is read, on the
// calling thread, only when it chooses between several displays.
std::vector<Picture> captureScreen(platform::Platform& os, const std::string& which,
                                   const std::optional<std::string>& appName, int maxWidth = MAX_PICTURE_WIDTH,
                                   std::chrono::milliseconds timeout = CAPTURE_TIMEOUT);

// The part of the screen `region` covers on the display that holds most of
// it, in the same way; nothing where it covers no display or the capture
// fails.
std::vector<Picture> captureRegion(platform::Platform& os, const ScreenRegion& region, std::optional<int> maxWidth,
                                   std::chrono::milliseconds timeout = CAPTURE_TIMEOUT);

}  // namespace kelp::capture
