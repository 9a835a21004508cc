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
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/rules.h"
#include "platform/platform.h"

namespace kelp::platform::linux_x11 {

// ---- decisions without a display ---------------------------------------------

// The capture displays: one per RandR monitor, in XDisplay::monitors()'
// order (the order the seam's screens have), the id being the monitor's
// position in that list counted from 1. Sizes are in pixels, frames in the
// accessibility space (accessibilityOrigin's origin, y down).
std::vector<CaptureDisplay> captureDisplaysFrom(const std::vector<MonitorRect>& monitors);

struct PixelSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The sizes a picture passes through from `from` to `to`, `to` last. Each
// step is a bilinear resampling. Bilinear alone, shrinking by more than a
// little, skips source pixels and lets thin lines and text flicker, so a
// picture is first halved (each pixel the mean of a 2x2 block) while it is at
// least twice the target, then enlarged a little to exactly twice the target
// and halved once more: every target pixel ends up as a weighted mean of all
// the source pixels under it, much as an area average. This is what the
// scaling means; scaledPicture gets there in one pass (axisTaps).
std::vector<PixelSize> scaleSteps(PixelSize from, PixelSize to);

// One target pixel's share of the source along one axis: the weights, which
// sum to one, of the source pixels from `first` on.
struct AxisTaps {
  int first = 0;
  std::vector<double> weights;
};

// For each of `to` target pixels, the weights that scaleSteps' resamplings
// (bilinear, edges repeating outwards) give the `from` source pixels along
// one axis, all steps taken together. Empty when a size is not positive.
std::vector<AxisTaps> axisTaps(int from, int to);

// Memory and tables scaledPicture keeps between calls: fresh memory costs a
// page fault per page, and the weights depend only on the sizes.
struct ScaleScratch {
  struct Plan;  // the weights in fixed point for one pair of sizes
  ScaleScratch();
  ~ScaleScratch();
  ScaleScratch(ScaleScratch&&) noexcept;
  ScaleScratch& operator=(ScaleScratch&&) noexcept;
  std::unique_ptr<Plan> plan;
  std::vector<std::uint16_t> row;          // one target row, source wide
  std::vector<std::uint32_t> converted;    // a source not in 8-bit channels
};

// All of `source` (`from` pixels) scaled as scaleSteps describe to `to`, as
// RGB: the two axes' axisTaps applied one after the other, rows first
// (pixman does this combined filter only slowly, as a separable convolution
// or with a picture twice the target's size in between: 1920x1080 to
// 1024x576 takes 35 ms or more, or 5.5 ms, with pixman; about 2 ms here,
// bench/screenshot_stages_bench.cc's Downscale). Edges
// repeat outwards, so border pixels are not darkened by blending with
// nothing.
std::optional<Image> scaledPicture(pixman_image_t* source, PixelSize from, PixelSize to, ScaleScratch& scratch);

// The pixman format of an X image's pixels in this process's byte order;
// none for layouts that are not plain true colour (8-bit palettes).
std::optional<pixman_format_code_t> pixelFormatOf(int bitsPerPixel, int depth, unsigned long redMask,
                                                  unsigned long greenMask, unsigned long blueMask);

// TurboJPEG's quality (1 to 100) for the seam's (0 to 1); none when it is
// not a number.
std::optional<int> jpegQuality(double quality);

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
  // XFixes' cursor image (GetImage never includes it), then scaled along
  // scaleSteps. Safe to call on any thread; calls wait for each other.
  std::optional<Image> captureDisplay(std::uint32_t displayId, int width, int height) override;
  // Needs no X connection and shares nothing: safe on any thread, also while
  // a capture runs.
  std::optional<Jpeg> encodeJpeg(const Image& image, double quality) override;

 private:
  struct Connection;
  // The connection and the lock that makes calls wait for each other. Each
  // call holds a reference for as long as it runs, so that a capture the
  // core stopped waiting for may still finish after this object is gone.
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kelp::platform::linux_x11
