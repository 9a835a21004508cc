// JPEG encoding through libjpeg-turbo.
#include "platform/linux/picture/jpeg.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop {

std::optional<int> jpegQuality(double quality) {
  if (!std::isfinite(quality)) return std::nullopt;
  return static_cast<int>(std::clamp(std::round(quality * 100), 1.0, 100.0));
}

std::optional<Jpeg> encodeJpegPicture(const Image& image, double quality) {
  const std::optional<int> level = jpegQuality(quality);
  if (!level || image.width <= 0 || image.height <= 0 ||
      image.rgb.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
    return std::nullopt;
  }
  // A compressor of its own for each call: encoding may overlap a capture
  // that the core stopped waiting for, and making one costs microseconds.
  TurboJpegOwner compressor(tjInitCompress());
  if (!compressor) return std::nullopt;
  unsigned char* bytes = nullptr;
  unsigned long length = 0;
  const int failed = tjCompress2(compressor.get(), image.rgb.data(), image.width, 0, image.height, TJPF_RGB, &bytes,
                                 &length, TJSAMP_420, *level, 0);
  TurboJpegBufferOwner owned(bytes);
  if (failed || !owned || length == 0) return std::nullopt;
  GCharOwner text(g_base64_encode(owned.get(), length));
  if (!text) return std::nullopt;
  return Jpeg{std::string(text.get()), image.width, image.height};
}

}  // namespace kelp::platform::linux_desktop
