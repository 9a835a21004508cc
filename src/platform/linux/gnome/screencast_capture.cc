// Pictures of GNOME's monitors through Mutter's screen cast and PipeWire.
#include "platform/linux/gnome/screencast_capture.h"

#include "platform/linux/picture/jpeg.h"

namespace kelp::platform::linux_desktop::gnome {

ScreenCastCapture::ScreenCastCapture() = default;
ScreenCastCapture::~ScreenCastCapture() = default;
bool ScreenCastCapture::available() { return false; }
std::optional<std::vector<CaptureDisplay>> ScreenCastCapture::displays() { return std::nullopt; }
std::optional<Image> ScreenCastCapture::captureDisplay(std::uint32_t, int, int) { return std::nullopt; }
std::optional<Image> ScreenCastCapture::captureArea(std::uint32_t, const CaptureArea&, int, int) { return std::nullopt; }
std::optional<Jpeg> ScreenCastCapture::encodeJpeg(const Image& image, double quality) {
  return encodeJpegPicture(image, quality);
}

}  // namespace kelp::platform::linux_desktop::gnome
