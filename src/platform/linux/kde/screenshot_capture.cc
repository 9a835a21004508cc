// Pictures through KWin's ScreenShot2.
#include "platform/linux/kde/screenshot_capture.h"

#include "platform/linux/picture/jpeg.h"

namespace kelp::platform::linux_desktop::kde {

KWinScreenCapture::KWinScreenCapture() = default;
KWinScreenCapture::~KWinScreenCapture() = default;
bool KWinScreenCapture::available() { return false; }
std::optional<std::vector<CaptureDisplay>> KWinScreenCapture::displays() { return std::nullopt; }
std::optional<Image> KWinScreenCapture::captureDisplay(std::uint32_t, int, int) { return std::nullopt; }
std::optional<Image> KWinScreenCapture::captureArea(std::uint32_t, const CaptureArea&, int, int) { return std::nullopt; }
std::optional<Jpeg> KWinScreenCapture::encodeJpeg(const Image& image, double quality) {
  return encodeJpegPicture(image, quality);
}

}  // namespace kelp::platform::linux_desktop::kde
