// Screen capture on a wlroots compositor: each output copied into shared
// memory through zwlr_screencopy_manager_v1, with the pointer drawn in by
// the compositor (overlay_cursor), then scaled and encoded as the X capture
// does.
//
// The capture has a Wayland connection of its own (CaptureSession), opened
// by the first call.
#pragma once

#include <pixman.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/picture/capture_session.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop::wayland {

// The pixman format of a wl_shm buffer's pixels (DRM fourcc codes, which
// name the channels of a little-endian word); none for formats the scaling
// cannot take, and on big-endian machines.
std::optional<pixman_format_code_t> pixelFormatOfShm(std::uint32_t format);

class WaylandScreenCapture final : public ScreenCapture {
 public:
  WaylandScreenCapture();
  ~WaylandScreenCapture() override;
  WaylandScreenCapture(const WaylandScreenCapture&) = delete;
  WaylandScreenCapture& operator=(const WaylandScreenCapture&) = delete;

  // The outputs with a place in the layout, in the compositor's order,
  // numbered from 1 (captureDisplaysFrom); none without a compositor.
  std::optional<std::vector<CaptureDisplay>> displays() override;
  // None also where the compositor offers no screen copies. Safe to call on
  // any thread; calls wait for each other.
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  // A part of the output, copied by the compositor alone (capture_output_region).
  std::optional<Image> captureArea(std::uint32_t displayId, const CaptureArea& area, int width, int height) override;
  // encodeJpegPicture: safe on any thread, also while a capture runs.
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;

 private:
  struct Session;
  CaptureSession<Session> session_;

  // The whole output, or `area` of it.
  std::optional<Image> captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area, int width,
                                 int height);
};

}  // namespace kelp::platform::linux_desktop::wayland
