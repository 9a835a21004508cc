// Still pictures of whole displays: every display, or the one under the
// centre of the target application's focused window.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kelp::capture {

inline constexpr int MAX_PICTURE_WIDTH = 1024;
inline constexpr std::chrono::milliseconds CAPTURE_TIMEOUT{15000};

struct Picture {
  platform::Image image;
  std::string note;  // "display <id> <width>x<height>"
};

// The pixel size a display is captured at: at most 1024 wide, aspect kept.
struct PictureSize {
  int width = 0;
  int height = 0;
};
std::optional<PictureSize> pictureSize(const platform::CaptureDisplay& display);

// The displays to capture for `which` ("all", or anything else for one) and
// the focused window's frame, if any.
std::vector<platform::CaptureDisplay> targetDisplays(const std::vector<platform::CaptureDisplay>& displays,
                                                     const std::string& which,
                                                     const std::optional<platform::Point>& focusCentre);

// Captures on a thread of its own and waits for it at most `timeout`; what
// the capture finishes later is dropped. The focused window is read, on the
// calling thread, only when it chooses between several displays.
std::vector<Picture> captureScreen(platform::Platform& os, const std::string& which,
                                   const std::optional<std::string>& appName,
                                   std::chrono::milliseconds timeout = CAPTURE_TIMEOUT);

}  // namespace kelp::capture
