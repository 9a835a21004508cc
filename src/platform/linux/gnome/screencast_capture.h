// Screen capture on GNOME (Mutter): a stream of each monitor through
// org.gnome.Mutter.ScreenCast, its frames read from PipeWire. The stream
// stays open between pictures: its first frame takes most of a second.
#pragma once

#include <optional>
#include <vector>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop::gnome {

class ScreenCastCapture final : public ScreenCapture {
 public:
  ScreenCastCapture();
  ~ScreenCastCapture() override;
  ScreenCastCapture(const ScreenCastCapture&) = delete;
  ScreenCastCapture& operator=(const ScreenCastCapture&) = delete;

  // Whether Mutter's screen cast answers.
  bool available();
  std::optional<std::vector<CaptureDisplay>> displays() override;
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override;
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;
};

}  // namespace kelp::platform::linux_desktop::gnome
