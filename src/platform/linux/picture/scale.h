// Scaling a screen's picture down to the size asked for, in one pass.
#pragma once

#include <pixman.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// Picture memory in 32-bit words, as pixman wants its rows aligned.
using Pixels = std::vector<std::uint32_t>;

struct PixelSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The sizes a picture passes through from `from` to `to`, `to` last, as
// axisTaps describes the steps: the step-by-step form of the scaling that
// scaledPicture does in one pass, which its tests compare it with.
std::vector<PixelSize> scaleSteps(PixelSize from, PixelSize to);

// One target pixel's share of the source along one axis: the weights, which
// sum to one, of the source pixels from `first` on.
struct AxisTaps {
  int first = 0;
  std::vector<double> weights;
};

// What the scaling means: bilinear alone, shrinking by more than a little,
// skips source pixels and lets thin lines and text flicker, so a picture is
// halved (each pixel the mean of a 2x2 block) while it is at least twice the
// target, then enlarged a little to exactly twice the target and halved once
// more, each step a bilinear resampling with edges repeating outwards: every
// target pixel ends up as a weighted mean of all the source pixels under it,
// much as an area average.
//
// For each of `to` target pixels, the weights those steps give the `from`
// source pixels along one axis, all steps taken together. Empty when a size
// is not positive.
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

// All of `source` (`from` pixels) scaled as axisTaps describes to `to`, as
// RGB: the two axes' axisTaps applied one after the other, rows first
// (pixman does this combined filter only slowly, as a separable convolution
// or with a picture twice the target's size in between: 1920x1080 to
// 1024x576 takes 35 ms or more, or 5.5 ms, with pixman; about 2 ms here,
// bench/screenshot_stages_bench.cc's Downscale). Edges
// repeat outwards, so border pixels are not darkened by blending with
// nothing.
std::optional<Image> scaledPicture(pixman_image_t* source, PixelSize from, PixelSize to, ScaleScratch& scratch);

// A pixman image over `bits`, which it does not own.
PixmanImageOwner wrapPixels(pixman_format_code_t format, PixelSize size, void* bits, int strideBytes);

}  // namespace kelp::platform::linux_desktop
