// Screen capture on KWin through org.kde.KWin.ScreenShot2, which KWin
// grants to a program whose desktop entry lists it under
// X-KDE-DBUS-Restricted-Interfaces. Pictures come through a pipe.
#pragma once

#include <optional>
#include <vector>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop::kde {

class KWinScreenCapture final : public ScreenCapture {
 public:
  KWinScreenCapture();
  ~KWinScreenCapture() override;

  bool available();
  std::optional<std::vector<CaptureDisplay>> displays() override;
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override;
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;
};

}  // namespace kelp::platform::linux_desktop::kde
