// Screen capture on X11. X needs no permission to read the screen: a
// display that cannot be had is the only reason there are no pictures.
//
// The core captures on a thread of its own, possibly still running after the
// main thread stopped waiting for it, so the capture has an X connection of
// its own, never the main thread's, and touches no GLib main-context state.
// Xlib itself is safe to use from several threads, one connection each,
// since libX11 1.8 (which the backend needs anyway) initialises its locks
// by itself.
#pragma once

#include <pixman.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/picture/capture_session.h"
#include "platform/linux/picture/jpeg.h"
#include "platform/linux/picture/scale.h"
#include "platform/linux/rules.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// ---- decisions without a display ---------------------------------------------

// The capture displays: one per RandR monitor, in XDisplay::monitors()'
// order (the order the seam's screens have), the id being the monitor's
// position in that list counted from 1. Sizes are in pixels, frames in the
// accessibility space (accessibilityOrigin's origin, y down).
std::vector<CaptureDisplay> captureDisplaysFrom(const std::vector<MonitorRect>& monitors);

// The pixman format of an X image's pixels in this process's byte order;
// none for layouts that are not plain true colour (8-bit palettes).
std::optional<pixman_format_code_t> pixelFormatOf(int bitsPerPixel, int depth, unsigned long redMask,
                                                  unsigned long greenMask, unsigned long blueMask);

// ---- the service -------------------------------------------------------------

class XScreenCapture final : public ScreenCapture {
 public:
  XScreenCapture();
  ~XScreenCapture() override;
  XScreenCapture(const XScreenCapture&) = delete;
  XScreenCapture& operator=(const XScreenCapture&) = delete;

  std::optional<std::vector<CaptureDisplay>> displays() override;
  // The monitor's pixels from the root window (MIT-SHM where the server
  // shares memory with us, else a plain GetImage), the pointer drawn in from
  // XFixes' cursor image (GetImage never includes it), then scaled
  // (scaledPicture). Safe to call on any thread; calls wait for each other.
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override;
  // encodeJpegPicture: needs no X connection and shares nothing, so it is
  // safe on any thread, also while a capture runs.
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;

 private:
  struct Connection;
  CaptureSession<Connection> session_;

  // The whole display, or `area` of it.
  std::optional<Image> captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area, int width,
                                 int height);
};

}  // namespace kelp::platform::linux_desktop
