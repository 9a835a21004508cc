// The stages of one "screenshot" of display 1, each timed on its own, in a
// desktop that DISPLAY names (bench/screenshot_vs_import.sh starts one and
// runs these with --benchmark_filter=Shot). Without a display the stages
// that need one are skipped.
//
//   BM_Shot_Displays        the monitors, as the capture asks for them
//   BM_Shot_CaptureCopy     the root window into shared memory (MIT-SHM)
//   BM_Shot_Pointer         the pointer's image from XFixes, drawn in
//   BM_Shot_Downscale       1920x1080 (the screen) to the picture's size, RGB
//   BM_Shot_CaptureDisplay  all of the above as the capture does it
//   BM_Shot_EncodeJpeg      JPEG and base-64 as the capture does it
//   BM_Shot_Base64          base-64 of the JPEG alone
//   BM_Shot_ReplyJson       the reply line with the picture, twice, in it
//   BM_Shot_CaptureScreen   the core's capture: focus, thread, displays, capture
#include <benchmark/benchmark.h>
#include <X11/extensions/Xfixes.h>
#include <glib.h>
#include <pixman.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "common/json.h"
#include "common/replies.h"
#include "platform/linux/handles.h"
#include "platform/linux/x11/capture.h"

namespace {

using namespace kelp::platform;
using namespace kelp::platform::linux_desktop;

constexpr double QUALITY = 0.62;

// A connection of the bench's own and the screen as it is now.
struct Screen {
  Display* display = nullptr;
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // x8r8g8b8, as the X server has them

  static Screen& get() {
    static Screen screen = [] {
      Screen s;
      s.display = XOpenDisplay(nullptr);
      if (!s.display) return s;
      const int number = DefaultScreen(s.display);
      s.width = DisplayWidth(s.display, number);
      s.height = DisplayHeight(s.display, number);
      XImageOwner image(XGetImage(s.display, DefaultRootWindow(s.display), 0, 0, static_cast<unsigned>(s.width),
                                  static_cast<unsigned>(s.height), AllPlanes, ZPixmap));
      if (!image || image->bits_per_pixel != 32) {
        s.width = 0;
        return s;
      }
      s.pixels.resize(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height));
      for (int y = 0; y < s.height; ++y) {
        std::copy_n(reinterpret_cast<const std::uint32_t*>(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line),
                    s.width, s.pixels.begin() + static_cast<std::ptrdiff_t>(y) * s.width);
      }
      return s;
    }();
    return screen;
  }
  bool usable() const { return display && width > 0; }
  PixelSize size() const { return {width, height}; }
};

PixelSize pictureSizeOf(PixelSize screen) {
  const std::optional<kelp::capture::PictureSize> size =
      kelp::capture::pictureSize(CaptureDisplay{1, screen.width, screen.height, 0, 0});
  return size ? PixelSize{size->width, size->height} : PixelSize{};
}

#define NEED_SCREEN(state)                                         \
  Screen& screen = Screen::get();                                  \
  if (!screen.usable()) {                                          \
    (state).SkipWithError("no 32-bit X display in DISPLAY");       \
    return;                                                        \
  }

void BM_Shot_Displays(benchmark::State& state) {
  NEED_SCREEN(state);
  XScreenCapture capture;
  for (auto _ : state) benchmark::DoNotOptimize(capture.displays());
}
BENCHMARK(BM_Shot_Displays)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_CaptureCopy(benchmark::State& state) {
  NEED_SCREEN(state);
  Display* display = screen.display;
  const int number = DefaultScreen(display);
  SharedImageOwner image(XShmCreateImage(display, DefaultVisual(display, number), DefaultDepth(display, number),
                                         ZPixmap, nullptr, nullptr, static_cast<unsigned>(screen.width),
                                         static_cast<unsigned>(screen.height)));
  if (!image) return state.SkipWithError("no MIT-SHM");
  std::unique_ptr<SharedSegment> segment =
      SharedSegment::attach(display, static_cast<std::size_t>(image->bytes_per_line) * screen.height);
  if (!segment) return state.SkipWithError("no shared segment");
  image->obdata = reinterpret_cast<char*>(segment->info());
  image->data = segment->info()->shmaddr;
  for (auto _ : state) {
    if (!XShmGetImage(display, DefaultRootWindow(display), image.get(), 0, 0, AllPlanes)) {
      return state.SkipWithError("XShmGetImage failed");
    }
  }
  image.reset();
  segment.reset();
  XSync(display, False);
}
BENCHMARK(BM_Shot_CaptureCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_Pointer(benchmark::State& state) {
  NEED_SCREEN(state);
  std::vector<std::uint32_t> pixels = screen.pixels;
  PixmanImageOwner picture(
      pixman_image_create_bits(PIXMAN_x8r8g8b8, screen.width, screen.height, pixels.data(), screen.width * 4));
  std::vector<std::uint32_t> argb;
  for (auto _ : state) {
    XMemory<XFixesCursorImage> cursor(XFixesGetCursorImage(screen.display));
    if (!cursor) return state.SkipWithError("no cursor image");
    argb.assign(cursor->pixels, cursor->pixels + static_cast<std::size_t>(cursor->width) * cursor->height);
    PixmanImageOwner image(
        pixman_image_create_bits(PIXMAN_a8r8g8b8, cursor->width, cursor->height, argb.data(), cursor->width * 4));
    pixman_image_composite32(PIXMAN_OP_OVER, image.get(), nullptr, picture.get(), 0, 0, 0, 0,
                             cursor->x - cursor->xhot, cursor->y - cursor->yhot, cursor->width, cursor->height);
  }
}
BENCHMARK(BM_Shot_Pointer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_Downscale(benchmark::State& state) {
  NEED_SCREEN(state);
  std::vector<std::uint32_t> pixels = screen.pixels;
  PixmanImageOwner source(
      pixman_image_create_bits(PIXMAN_x8r8g8b8, screen.width, screen.height, pixels.data(), screen.width * 4));
  ScaleScratch scratch;
  const PixelSize to = pictureSizeOf(screen.size());
  for (auto _ : state) {
    std::optional<Image> picture = scaledPicture(source.get(), screen.size(), to, scratch);
    if (!picture) return state.SkipWithError("scaling failed");
    benchmark::DoNotOptimize(picture->rgb.data());
  }
}
BENCHMARK(BM_Shot_Downscale)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_CaptureDisplay(benchmark::State& state) {
  NEED_SCREEN(state);
  XScreenCapture capture;
  const PixelSize to = pictureSizeOf(screen.size());
  for (auto _ : state) {
    std::optional<Image> picture = capture.captureDisplay(1, to.width, to.height);
    if (!picture) return state.SkipWithError("capture failed");
    benchmark::DoNotOptimize(picture->rgb.data());
  }
}
BENCHMARK(BM_Shot_CaptureDisplay)->Unit(benchmark::kMillisecond)->UseRealTime();

// The screen as the picture the capture makes of it.
std::optional<Image> screenPicture() {
  Screen& screen = Screen::get();
  std::vector<std::uint32_t> pixels = screen.pixels;
  PixmanImageOwner source(
      pixman_image_create_bits(PIXMAN_x8r8g8b8, screen.width, screen.height, pixels.data(), screen.width * 4));
  ScaleScratch scratch;
  return scaledPicture(source.get(), screen.size(), pictureSizeOf(screen.size()), scratch);
}

// The screen's picture as "screenshot" encodes it.
std::optional<Jpeg> screenJpeg() {
  const std::optional<Image> picture = screenPicture();
  if (!picture) return std::nullopt;
  return XScreenCapture().encodeJpeg(*picture, QUALITY);
}

void BM_Shot_EncodeJpeg(benchmark::State& state) {
  NEED_SCREEN(state);
  const std::optional<Image> picture = screenPicture();
  if (!picture) return state.SkipWithError("scaling failed");
  XScreenCapture capture;
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::optional<Jpeg> jpeg = capture.encodeJpeg(*picture, QUALITY);
    if (!jpeg) return state.SkipWithError("encoding failed");
    bytes = jpeg->base64.size();
  }
  state.counters["base64_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Shot_EncodeJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_Base64(benchmark::State& state) {
  NEED_SCREEN(state);
  const std::optional<Jpeg> jpeg = screenJpeg();
  if (!jpeg) return state.SkipWithError("scaling or encoding failed");
  gsize length = 0;
  GCharOwner raw(reinterpret_cast<gchar*>(g_base64_decode(jpeg->base64.c_str(), &length)));
  for (auto _ : state) {
    GCharOwner text(g_base64_encode(reinterpret_cast<const guchar*>(raw.get()), length));
    benchmark::DoNotOptimize(text.get());
  }
}
BENCHMARK(BM_Shot_Base64)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_ReplyJson(benchmark::State& state) {
  NEED_SCREEN(state);
  const std::optional<Jpeg> jpeg = screenJpeg();
  if (!jpeg) return state.SkipWithError("scaling or encoding failed");
  for (auto _ : state) {
    // The shape "screenshot" replies with: the picture, then again on top.
    kelp::Json image = {{"jpegBase64", jpeg->base64}, {"w", jpeg->width}, {"h", jpeg->height},
                        {"note", "display 1 1920x1080"}};
    kelp::Json result;
    result["images"] = kelp::Json::array({image});
    result["displays"] = 1;
    result["jpegBase64"] = jpeg->base64;
    result["w"] = jpeg->width;
    result["h"] = jpeg->height;
    kelp::Json reply = {{"id", nullptr}, {"ok", true}, {"result", std::move(result)}};
    benchmark::DoNotOptimize(kelp::serializeReply(reply));
  }
}
BENCHMARK(BM_Shot_ReplyJson)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Shot_CaptureScreen(benchmark::State& state) {
  NEED_SCREEN(state);
  std::unique_ptr<Platform> os = makeDesktopPlatform();
  for (auto _ : state) {
    std::vector<kelp::capture::Picture> pictures = kelp::capture::captureScreen(*os, "focused", std::nullopt);
    if (pictures.empty()) return state.SkipWithError("nothing captured");
    benchmark::DoNotOptimize(pictures.front().image.rgb.data());
  }
}
BENCHMARK(BM_Shot_CaptureScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
