// Pictures through KWin's ScreenShot2: the call, the pipe, and scaling.
#include "platform/linux/kde/screenshot_capture.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <memory>

#include "platform/linux/handles.h"
#include "platform/linux/picture/jpeg.h"
#include "platform/linux/picture/scale.h"
#include "platform/linux/session_bus.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/window_server.h"
#include "platform/linux/x11/capture.h"

namespace kelp::platform::linux_desktop::kde {
namespace {

constexpr const char* SCREENSHOT_NAME = "org.kde.KWin.ScreenShot2";
constexpr const char* SCREENSHOT_PATH = "/org/kde/KWin/ScreenShot2";
constexpr const char* SCREENSHOT_INTERFACE = "org.kde.KWin.ScreenShot2";

// A capture of a full screen took 0.3-0.4 s on a software renderer; KWin
// waits for its next frame before it copies.
constexpr std::chrono::milliseconds CAPTURE_WAIT{5000};

// QImage::Format's numbers.
enum QImageFormat : std::uint32_t {
  RGB32 = 4,
  ARGB32 = 5,
  ARGB32_PREMULTIPLIED = 6,
  RGB16 = 7,
  RGB888 = 13,
  RGBX8888 = 16,
  RGBA8888 = 17,
  RGBA8888_PREMULTIPLIED = 18,
  BGR30 = 19,
  A2BGR30_PREMULTIPLIED = 20,
  RGB30 = 21,
  A2RGB30_PREMULTIPLIED = 22,
  BGR888 = 29,
};

using FdListOwner = GRef<GUnixFDList>;

struct FileDescriptor {
  int fd = -1;
  FileDescriptor() = default;
  explicit FileDescriptor(int value) : fd(value) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }
  void reset() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

std::optional<std::uint32_t> unsignedResult(GVariant* results, const char* key) {
  GVariantOwner value(g_variant_lookup_value(results, key, nullptr));
  if (!value) return std::nullopt;
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(value.get());
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32) && g_variant_get_int32(value.get()) >= 0) {
    return static_cast<std::uint32_t>(g_variant_get_int32(value.get()));
  }
  return std::nullopt;
}

struct PendingCall {
  GVariantOwner reply;
  bool done = false;
  GRef<GCancellable> cancellable = GRef<GCancellable>::adopt(g_cancellable_new());
};

}  // namespace

std::optional<pixman_format_code_t> pixelFormatOfQImage(std::uint32_t format) {
  if constexpr (std::endian::native != std::endian::little) return std::nullopt;
  switch (format) {
    // 0xAARRGGBB words.
    case RGB32:
    case ARGB32:
    case ARGB32_PREMULTIPLIED:
      return PIXMAN_x8r8g8b8;
    // Bytes R, G, B, A: 0xAABBGGRR words.
    case RGBX8888:
    case RGBA8888:
    case RGBA8888_PREMULTIPLIED:
      return PIXMAN_x8b8g8r8;
    case RGB16:
      return PIXMAN_r5g6b5;
    // Bytes R, G, B: pixman names 24-bit formats by the word, low byte last.
    case RGB888:
      return PIXMAN_b8g8r8;
    case BGR888:
      return PIXMAN_r8g8b8;
    case BGR30:
    case A2BGR30_PREMULTIPLIED:
      return PIXMAN_x2b10g10r10;
    case RGB30:
    case A2RGB30_PREMULTIPLIED:
      return PIXMAN_x2r10g10b10;
    default:
      return std::nullopt;
  }
}

std::optional<PictureLayout> pictureLayoutOf(std::optional<std::uint32_t> width, std::optional<std::uint32_t> height,
                                             std::optional<std::uint32_t> stride,
                                             std::optional<std::uint32_t> format) {
  if (!width || !height || !stride || !format) return std::nullopt;
  const std::optional<pixman_format_code_t> pixels = pixelFormatOfQImage(*format);
  if (!pixels || !pictureSizeUsable(static_cast<int>(std::min<std::uint32_t>(*width, 1u << 30)),
                                    static_cast<int>(std::min<std::uint32_t>(*height, 1u << 30)))) {
    return std::nullopt;
  }
  const std::uint64_t rowBytes = std::uint64_t{*width} * (PIXMAN_FORMAT_BPP(*pixels) / 8);
  // pixman wants rows in whole 32-bit words, as QImage keeps them.
  if (*stride < rowBytes || *stride % 4 != 0 || *stride > (1u << 28)) return std::nullopt;
  return PictureLayout{static_cast<int>(*width), static_cast<int>(*height), static_cast<int>(*stride), *pixels};
}

// ---- the session ---------------------------------------------------------------

struct KWinScreenCapture::Session {
  wayland::WaylandConnection wayland;
  GRef<GDBusConnection> bus;
  GMainContextOwner context{g_main_context_new()};
  std::vector<std::uint8_t> pixels;  // kept between captures: fresh memory costs a page fault per page
  ScaleScratch scaling;
  bool granted = false;

  bool usable() {
    if (!bus || g_dbus_connection_is_closed(bus.get())) bus = connectToSessionBus(DBUS_CALL_TIMEOUT_MS);
    return bus && wayland.display() != nullptr;
  }

  // The layout's `area` (logical points) as KWin pictures it, with the
  // pointer, at the outputs' own resolution: its layout and pixels.
  std::optional<PictureLayout> capture(const RootRect& area) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
    FileDescriptor readEnd(ends[0]);
    FdListOwner fds = FdListOwner::adopt(g_unix_fd_list_new());
    const gint handle = g_unix_fd_list_append(fds.get(), ends[1], nullptr);
    // The list holds a copy; ours goes now, so that the end of KWin's
    // writing shows as the end of the pipe.
    close(ends[1]);
    if (handle < 0) return std::nullopt;

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
    // Our own windows (the self-test's) are part of what a person sees.
    g_variant_builder_add(&options, "{sv}", "hide-caller-windows", g_variant_new_boolean(FALSE));
    GVariant* parameters = g_variant_new("(iiuua{sv}h)", area.x, area.y, static_cast<guint32>(area.width),
                                         static_cast<guint32>(area.height), &options, handle);

    // KWin may answer before or after it writes; the pipe is read while
    // the answer is awaited, so neither waits for the other. The call's
    // state outlives this function when KWin keeps it waiting: the reply,
    // or the cancellation, comes into the context later.
    g_main_context_push_thread_default(context.get());
    auto* pending = new std::shared_ptr<PendingCall>(std::make_shared<PendingCall>());
    const std::shared_ptr<PendingCall> call = *pending;
    g_dbus_connection_call_with_unix_fd_list(
        bus.get(), SCREENSHOT_NAME, SCREENSHOT_PATH, SCREENSHOT_INTERFACE, "CaptureArea", parameters,
        G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<int>(CAPTURE_WAIT.count()),
        fds.get(), call->cancellable.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
          const std::unique_ptr<std::shared_ptr<PendingCall>> held(static_cast<std::shared_ptr<PendingCall>*>(data));
          (*held)->reply.reset(g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), nullptr,
                                                                              result, nullptr));
          (*held)->done = true;
        },
        pending);
    fds = {};
    pixels.clear();
    const auto deadline = std::chrono::steady_clock::now() + CAPTURE_WAIT;
    bool ended = false;
    std::uint8_t chunk[1 << 16];
    while (!(call->done && (ended || !call->reply))) {
      while (g_main_context_iteration(context.get(), FALSE)) {
      }
      if (call->done && (ended || !call->reply)) break;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      // Only the answer is missing once the pipe ended: the context is
      // looked at again soon all the same.
      pollfd ready{readEnd.fd, static_cast<short>(ended ? 0 : POLLIN), 0};
      const int polled = poll(&ready, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 5)));
      if (polled < 0 && errno != EINTR) break;
      if (polled <= 0 || ended) continue;
      const ssize_t got = read(readEnd.fd, chunk, sizeof chunk);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) {
        ended = true;
        continue;
      }
      pixels.insert(pixels.end(), chunk, chunk + got);
    }
    if (!call->done) g_cancellable_cancel(call->cancellable.get());
    g_main_context_pop_thread_default(context.get());
    if (!call->done || !call->reply || !ended) return std::nullopt;

    GVariantOwner results(g_variant_get_child_value(call->reply.get(), 0));
    const std::optional<PictureLayout> layout =
        pictureLayoutOf(unsignedResult(results.get(), "width"), unsignedResult(results.get(), "height"),
                        unsignedResult(results.get(), "stride"), unsignedResult(results.get(), "format"));
    if (!layout || pixels.size() < static_cast<std::size_t>(layout->stride) * static_cast<std::size_t>(layout->height)) {
      return std::nullopt;
    }
    granted = true;
    return layout;
  }

  std::optional<Image> picture(const RootRect& area, PixelSize size) {
    const std::optional<PictureLayout> layout = capture(area);
    if (!layout) return std::nullopt;
    const PixelSize full{layout->width, layout->height};
    PixmanImageOwner source = wrapPixels(layout->format, full, pixels.data(), layout->stride);
    if (!source) return std::nullopt;
    return scaledPicture(source.get(), full, size, scaling);
  }
};

// ---- the service ---------------------------------------------------------------

KWinScreenCapture::KWinScreenCapture() = default;
KWinScreenCapture::~KWinScreenCapture() = default;

bool KWinScreenCapture::available() {
  const std::optional<bool> granted = session_.with([](Session& session) -> std::optional<bool> {
    if (session.granted) return true;
    return session.capture({0, 0, 1, 1}).has_value();
  });
  return granted.value_or(false);
}

std::optional<std::vector<CaptureDisplay>> KWinScreenCapture::displays() {
  return session_.with([](Session& session) -> std::optional<std::vector<CaptureDisplay>> {
    const std::optional<std::vector<MonitorRect>> monitors = session.wayland.monitors();
    if (!monitors) return std::nullopt;
    return captureDisplaysFrom(*monitors);
  });
}

std::optional<Image> KWinScreenCapture::captureDisplay(std::uint32_t displayId, int width, int height) {
  return captureOf(displayId, std::nullopt, width, height);
}

std::optional<Image> KWinScreenCapture::captureArea(std::uint32_t displayId, const CaptureArea& area, int width,
                                                    int height) {
  return captureOf(displayId, area, width, height);
}

std::optional<Image> KWinScreenCapture::captureOf(std::uint32_t displayId, const std::optional<CaptureArea>& area,
                                                  int width, int height) {
  if (!pictureSizeUsable(width, height)) return std::nullopt;
  return session_.with([&](Session& session) -> std::optional<Image> {
    const std::optional<std::vector<MonitorRect>> monitors = session.wayland.monitors();
    if (!monitors || displayId == 0 || displayId > monitors->size()) return std::nullopt;
    const MonitorRect& monitor = (*monitors)[displayId - 1];
    if (area && !areaWithin(*area, monitor.width, monitor.height)) return std::nullopt;
    const RootRect part = area ? RootRect{monitor.x + area->x, monitor.y + area->y, area->width, area->height}
                               : RootRect{monitor.x, monitor.y, monitor.width, monitor.height};
    return session.picture(part, {width, height});
  });
}

std::optional<Jpeg> KWinScreenCapture::encodeJpeg(const Image& image, double quality) {
  return encodeJpegPicture(image, quality);
}

}  // namespace kelp::platform::linux_desktop::kde
