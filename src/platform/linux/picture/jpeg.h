// JPEG encoding of a captured picture, the same for every display server.
#pragma once

#include <optional>

#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// TurboJPEG's quality (1 to 100) for the seam's (0 to 1); none when it is
// not a number.
std::optional<int> jpegQuality(double quality);

// The picture as a base-64 JPEG at `quality` (0 to 1), 4:2:0; none when it
// cannot be encoded. Shares nothing: safe on any thread, also while a
// capture runs.
std::optional<Jpeg> encodeJpegPicture(const Image& image, double quality);

}  // namespace kelp::platform::linux_desktop
