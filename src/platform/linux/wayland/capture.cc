// Copying a compositor's outputs into shared memory, and scaling them.
#include "platform/linux/wayland/capture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "platform/linux/picture/jpeg.h"
#include "platform/linux/picture/scale.h"
#include "platform/linux/x11/capture.h"
#include "platform/linux/wayland/connection.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {


// What the compositor says of one frame it copies.
struct FrameReport {
  bool offered = false;  // a shared-memory buffer we can take
  std::uint32_t format = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  bool allOffered = false;  // version 3: every buffer kind was described
  bool yInverted = false;
  bool ready = false;
  bool failed = false;
};

const zwlr_screencopy_frame_v1_listener FRAME_LISTENER = {
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width, std::uint32_t height,
           std::uint32_t stride) {
          auto* report = static_cast<FrameReport*>(data);
          if (report->offered || !pixelFormatOfShm(format)) return;
          *report = FrameReport{true, format, width, height, stride, false, false, false, false};
        },
    .flags =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
          static_cast<FrameReport*>(data)->yInverted = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
        },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                std::uint32_t) { static_cast<FrameReport*>(data)->ready = true; },
    .failed = [](void* data, zwlr_screencopy_frame_v1*) { static_cast<FrameReport*>(data)->failed = true; },
    .damage = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .buffer_done = [](void* data, zwlr_screencopy_frame_v1*) { static_cast<FrameReport*>(data)->allOffered = true; },
};

void flipRows(std::uint8_t* pixels, std::size_t stride, std::size_t height) {
  std::vector<std::uint8_t> row(stride);
  for (std::size_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    std::memcpy(row.data(), pixels + top * stride, stride);
    std::memcpy(pixels + top * stride, pixels + bottom * stride, stride);
    std::memcpy(pixels + bottom * stride, row.data(), stride);
  }
}

}  // namespace

std::optional<pixman_format_code_t> pixelFormatOfShm(std::uint32_t format) {
  if constexpr (std::endian::native != std::endian::little) return std::nullopt;
  // The screen's alpha, where there is one, means nothing.
  switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
      return PIXMAN_x8r8g8b8;
    case WL_SHM_FORMAT_ABGR8888:
    case WL_SHM_FORMAT_XBGR8888:
      return PIXMAN_x8b8g8r8;
    case WL_SHM_FORMAT_ARGB2101010:
    case WL_SHM_FORMAT_XRGB2101010:
      return PIXMAN_x2r10g10b10;
    case WL_SHM_FORMAT_ABGR2101010:
    case WL_SHM_FORMAT_XBGR2101010:
      return PIXMAN_x2b10g10r10;
    case WL_SHM_FORMAT_RGB565:
      return PIXMAN_r5g6b5;
    default:
      return std::nullopt;
  }
}

// ---- the session ---------------------------------------------------------------

struct WaylandScreenCapture::Session {
  WaylandConnection wayland;
  // The buffer the compositor copies into, kept between captures of the
  // same size: fresh memory costs a page fault per page.
  struct Buffer {
    wl_shm_pool* pool = nullptr;
    wl_buffer* buffer = nullptr;
    void* pixels = nullptr;
    std::size_t size = 0;
    std::uint32_t format = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t stride = 0;
  } buffer;
  zwlr_screencopy_frame_v1* frame = nullptr;  // while a copy is under way
  ScaleScratch scaling;

  std::uint64_t dropListener = wayland.onDrop([this] {
    endFrame();
    release();
  });

  bool usable() { return wayland.display() != nullptr; }

  ~Session() {
    wayland.cancelOnDrop(dropListener);
    endFrame();
    release();
  }

  void endFrame() {
    if (frame) zwlr_screencopy_frame_v1_destroy(frame);
    frame = nullptr;
  }

  void release() {
    if (buffer.buffer) wl_buffer_destroy(buffer.buffer);
    if (buffer.pool) wl_shm_pool_destroy(buffer.pool);
    if (buffer.pixels) munmap(buffer.pixels, buffer.size);
    buffer = {};
  }

  bool prepareBuffer(const FrameReport& report) {
    if (buffer.buffer && buffer.format == report.format &&
        buffer.width == report.width && buffer.height == report.height && buffer.stride == report.stride) {
      return true;
    }
    release();
    wl_shm* shm = wayland.globals().shm;
    if (!shm) return false;
    const std::size_t size = static_cast<std::size_t>(report.stride) * report.height;
    const int fd = memfd_create("kelp-capture", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      close(fd);
      return false;
    }
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
      close(fd);
      return false;
    }
    buffer.pixels = pixels;
    buffer.size = size;
    buffer.pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
    // The compositor holds its own copy of the descriptor once it is sent.
    buffer.buffer = wl_shm_pool_create_buffer(buffer.pool, 0, static_cast<std::int32_t>(report.width),
                                              static_cast<std::int32_t>(report.height),
                                              static_cast<std::int32_t>(report.stride), report.format);
    close(fd);
    buffer.format = report.format;
    buffer.width = report.width;
    buffer.height = report.height;
    buffer.stride = report.stride;
    return true;
  }

  // The output, or `area` of it in the output's points, scaled to `size`.
  std::optional<Image> capture(wl_output* output, const std::optional<CaptureArea>& area, PixelSize size) {
    zwlr_screencopy_manager_v1* manager = wayland.globals().screencopy;
    if (!manager) return std::nullopt;
    const bool describesAll = wayland.globals().screencopyVersion >= ZWLR_SCREENCOPY_FRAME_V1_BUFFER_DONE_SINCE_VERSION;
    FrameReport report;
    // 1: with the pointer, which the compositor alone knows how to draw.
    frame = area ? zwlr_screencopy_manager_v1_capture_output_region(manager, 1, output, area->x, area->y,
                                                                    area->width, area->height)
                 : zwlr_screencopy_manager_v1_capture_output(manager, 1, output);
    zwlr_screencopy_frame_v1_add_listener(frame, &FRAME_LISTENER, &report);
    const auto offered = [&] { return report.failed || (describesAll ? report.allOffered : report.offered); };
    // A connection that breaks meanwhile takes the frame with it (onDrop).
    if (!wayland.dispatchUntil(offered)) return std::nullopt;
    const auto done = [&] {
      endFrame();
      return std::nullopt;
    };
    if (report.failed || !report.offered || report.width == 0 || report.height == 0 ||
        report.stride < report.width * (PIXMAN_FORMAT_BPP(*pixelFormatOfShm(report.format)) / 8) ||
        report.stride % 4 != 0) {
      return done();
    }
    if (!prepareBuffer(report)) return done();
    zwlr_screencopy_frame_v1_copy(frame, buffer.buffer);
    if (!wayland.dispatchUntil([&] { return report.ready || report.failed; })) return std::nullopt;
    endFrame();
    if (!report.ready) return std::nullopt;

    auto* pixels = static_cast<std::uint8_t*>(buffer.pixels);
    if (report.yInverted) flipRows(pixels, report.stride, report.height);
    const PixelSize full{static_cast<int>(report.width), static_cast<int>(report.height)};
    PixmanImageOwner source =
        wrapPixels(*pixelFormatOfShm(report.format), full, pixels, static_cast<int>(report.stride));
    if (!source) return std::nullopt;
    return scaledPicture(source.get(), full, size, scaling);
  }
};

// ---- the service ---------------------------------------------------------------

WaylandScreenCapture::WaylandScreenCapture() = default;
WaylandScreenCapture::~WaylandScreenCapture() = default;

std::optional<std::vector<CaptureDisplay>> WaylandScreenCapture::displays() {
  return session_.with([](Session& session) -> std::optional<std::vector<CaptureDisplay>> {
    const std::optional<std::vector<MonitorRect>> monitors = session.wayland.monitors();
    if (!monitors) return std::nullopt;
    return captureDisplaysFrom(*monitors);
  });
}

std::optional<Image> WaylandScreenCapture::captureDisplay(std::uint32_t displayId, int width, int height) {
  return captureOf(displayId, std::nullopt, width, height);
}

std::optional<Image> WaylandScreenCapture::captureArea(std::uint32_t displayId, const CaptureArea& area, int width,
                                                       int height) {
  return captureOf(displayId, area, width, height);
}

std::optional<Image> WaylandScreenCapture::captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area,
                                                     int width, int height) {
  if (!pictureSizeUsable(width, height)) return std::nullopt;
  return session_.with([&](Session& session) -> std::optional<Image> {
    const std::optional<std::vector<MonitorRect>> monitors = session.wayland.monitors();
    if (!monitors || displayId == 0 || displayId > monitors->size()) return std::nullopt;
    const MonitorRect& monitor = (*monitors)[displayId - 1];
    if (area && !areaWithin(*area, monitor.width, monitor.height)) return std::nullopt;
    const std::vector<wl_output*> outputs = session.wayland.monitorOutputs();
    if (outputs.size() != monitors->size()) return std::nullopt;
    return session.capture(outputs[displayId - 1], area, {width, height});
  });
}

std::optional<Jpeg> WaylandScreenCapture::encodeJpeg(const Image& image, double quality) {
  return encodeJpegPicture(image, quality);
}

}  // namespace kelp::platform::linux_desktop::wayland
