// Screen capture on KWin through org.kde.KWin.ScreenShot2, which KWin
// grants to a program whose desktop entry lists it under
// X-KDE-DBUS-Restricted-Interfaces. Pictures come through a pipe: KWin
// answers the call with the picture's size and pixel format, then writes
// the pixels (a QImage's rows) and closes its end.
//
// The outputs are read from a Wayland connection of the capture's own
// (xdg-output), so displays are numbered as on wlroots compositors; each
// is captured as the area of the layout it covers, at its own resolution,
// with the pointer drawn in by KWin.
#pragma once

#include <pixman.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/picture/capture_session.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::kde {

// The pixman format of a QImage format's pixels (QImage::Format's number,
// as the reply's "format" tells it), alpha taken as padding: the screen is
// opaque. None for formats the scaling cannot take, and on big-endian
// machines.
std::optional<pixman_format_code_t> pixelFormatOfQImage(std::uint32_t format);

// What the reply to a capture says of the picture; none when it says too
// little, or a size the pixels could not fill.
struct PictureLayout {
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
  pixman_format_code_t format = PIXMAN_x8r8g8b8;
  friend bool operator==(const PictureLayout&, const PictureLayout&) = default;
};
std::optional<PictureLayout> pictureLayoutOf(std::optional<std::uint32_t> width, std::optional<std::uint32_t> height,
                                             std::optional<std::uint32_t> stride,
                                             std::optional<std::uint32_t> format);

class KWinScreenCapture final : public ScreenCapture {
 public:
  KWinScreenCapture();
  ~KWinScreenCapture() override;
  KWinScreenCapture(const KWinScreenCapture&) = delete;
  KWinScreenCapture& operator=(const KWinScreenCapture&) = delete;

  // Whether KWin gives this process pictures: a capture of one pixel
  // succeeds. Once it has, the answer is kept.
  bool available();
  std::optional<std::vector<CaptureDisplay>> displays() override;
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override;
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;

 private:
  struct Session;
  CaptureSession<Session> session_;

  std::optional<Image> captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area, int width,
                                 int height);
};

}  // namespace kelp::platform::linux_desktop::kde
