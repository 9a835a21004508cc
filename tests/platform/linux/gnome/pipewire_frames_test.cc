#include <gtest/gtest.h>

#include "platform/linux/gnome/pipewire_frames.h"

#include <spa/param/video/raw.h>

#include <array>

#include "platform/linux/picture/scale.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

TEST(PixmanFormatOfVideoTest, EachOfferedFormatReadsItsBytesAsRedGreenBlue) {
  // One pixel of red 200, green 100, blue 50 laid out as each format lays
  // it out in memory; 7 stands for the padding or alpha byte.
  const struct {
    spa_video_format format;
    std::array<std::uint8_t, 4> bytes;
  } cases[] = {
      {SPA_VIDEO_FORMAT_BGRx, {50, 100, 200, 7}}, {SPA_VIDEO_FORMAT_BGRA, {50, 100, 200, 7}},
      {SPA_VIDEO_FORMAT_RGBx, {200, 100, 50, 7}}, {SPA_VIDEO_FORMAT_RGBA, {200, 100, 50, 7}},
      {SPA_VIDEO_FORMAT_xRGB, {7, 200, 100, 50}}, {SPA_VIDEO_FORMAT_ARGB, {7, 200, 100, 50}},
      {SPA_VIDEO_FORMAT_xBGR, {7, 50, 100, 200}}, {SPA_VIDEO_FORMAT_ABGR, {7, 50, 100, 200}},
  };
  for (const auto& c : cases) {
    const std::optional<pixman_format_code_t> format = pixmanFormatOfVideo(c.format);
    ASSERT_TRUE(format) << c.format;
    alignas(4) std::array<std::uint8_t, 4> pixel = c.bytes;
    PixmanImageOwner source = wrapPixels(*format, {1, 1}, pixel.data(), 4);
    ASSERT_TRUE(source) << c.format;
    ScaleScratch scratch;
    const std::optional<Image> image = scaledPicture(source.get(), {1, 1}, {1, 1}, scratch);
    ASSERT_TRUE(image) << c.format;
    EXPECT_EQ(image->rgb, (std::vector<std::uint8_t>{200, 100, 50})) << c.format;
  }
}

TEST(PixmanFormatOfVideoTest, NoneForFormatsWithoutFourBytesAPixel) {
  for (const spa_video_format format : {SPA_VIDEO_FORMAT_UNKNOWN, SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_RGB,
                                        SPA_VIDEO_FORMAT_BGR, SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_RGB16}) {
    EXPECT_EQ(pixmanFormatOfVideo(format), std::nullopt) << format;
  }
}

TEST(FrameFitsTest, RowsWithinTheBufferAndInWholeWords) {
  const struct {
    const char* what;
    int width, height, stride;
    std::size_t offset, bytes;
    bool fits;
  } cases[] = {
      {"tight", 1920, 1080, 7680, 0, 7680u * 1080, true},
      {"one byte short", 1920, 1080, 7680, 0, 7680u * 1080 - 1, false},
      {"padded rows, the last without its padding", 1920, 1080, 7696, 0, 7696u * 1079 + 7680, true},
      {"after an offset", 4, 2, 16, 64, 64 + 32, true},
      {"offset pushes it out", 4, 2, 16, 68, 64 + 32, false},
      {"rows narrower than the pixels", 1920, 1080, 7676, 0, 7680u * 1080, false},
      {"stride not in words", 3, 1, 14, 0, 64, false},
      {"offset not in words", 3, 1, 12, 2, 64, false},
      {"no width", 0, 1080, 7680, 0, 7680u * 1080, false},
      {"negative stride", 4, 2, -16, 0, 1000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(frameFits(c.width, c.height, c.stride, c.offset, c.bytes), c.fits) << c.what;
  }
}

TEST(PipewireSocketPathTest, AsTheLibraryFindsTheDaemon) {
  const struct {
    const char* remote;
    const char* pipewireRuntimeDir;
    const char* runtimeDir;
    std::optional<std::string> path;
  } cases[] = {
      {nullptr, nullptr, "/run/user/1000", "/run/user/1000/pipewire-0"},
      {"pipewire-1", nullptr, "/run/user/1000", "/run/user/1000/pipewire-1"},
      {"", "", "/run/user/1000", "/run/user/1000/pipewire-0"},
      {nullptr, "/pw", "/run/user/1000", "/pw/pipewire-0"},
      {"/tmp/pw.sock", nullptr, nullptr, "/tmp/pw.sock"},
      {nullptr, nullptr, nullptr, std::nullopt},
      {"pipewire-0", nullptr, "", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pipewireSocketPath(c.remote, c.pipewireRuntimeDir, c.runtimeDir), c.path)
        << (c.remote ? c.remote : "(none)");
  }
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::gnome
