// GoogleTest first: the X11 headers bring macros (None, Bool, ...).
#include <gtest/gtest.h>

#include <glib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/x11/capture.h"

namespace kelp::platform::linux_desktop {
namespace {

// ---- displays ----------------------------------------------------------------

TEST(CaptureDisplaysTest, NumberedFromOneInMonitorOrderWithFramesFromThePrimarysTopLeft) {
  // The primary monitor is second in the list, right of a taller one.
  const std::vector<CaptureDisplay> displays =
      captureDisplaysFrom({{0, 0, 1280, 1024, false}, {1280, 200, 1920, 1080, true}});
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].id, 1u);
  EXPECT_EQ(displays[1].id, 2u);
  EXPECT_EQ(std::make_pair(displays[0].width, displays[0].height), std::make_pair(1280, 1024));
  EXPECT_EQ(std::make_pair(displays[0].x, displays[0].y), std::make_pair(-1280.0, -200.0));
  EXPECT_EQ(std::make_pair(displays[1].x, displays[1].y), std::make_pair(0.0, 0.0));
  // Without a primary the first monitor is the reference.
  EXPECT_EQ(captureDisplaysFrom({{100, 50, 800, 600, false}, {900, 50, 800, 600, false}})[1].x, 800);
}

// ---- scaling plan --------------------------------------------------------------

// Whatever format is chosen must read the visual's red mask as pure red.
TEST(PixelFormatTest, RedMaskReadsAsRed) {
  struct Case {
    int bitsPerPixel;
    int depth;
    unsigned long red, green, blue;
  };
  for (const Case c : {Case{32, 24, 0xff0000, 0xff00, 0xff}, Case{32, 24, 0xff, 0xff00, 0xff0000},
                       Case{32, 30, 0x3ff00000, 0xffc00, 0x3ff}, Case{16, 16, 0xf800, 0x7e0, 0x1f},
                       Case{16, 15, 0x7c00, 0x3e0, 0x1f}}) {
    const std::optional<pixman_format_code_t> format = pixelFormatOf(c.bitsPerPixel, c.depth, c.red, c.green, c.blue);
    ASSERT_TRUE(format.has_value()) << c.bitsPerPixel << "/" << c.depth;
    EXPECT_EQ(PIXMAN_FORMAT_BPP(*format), static_cast<unsigned>(c.bitsPerPixel));
    std::uint32_t source = 0;
    if (c.bitsPerPixel == 16) {
      const auto value = static_cast<std::uint16_t>(c.red);
      std::memcpy(&source, &value, sizeof value);
    } else {
      source = static_cast<std::uint32_t>(c.red);
    }
    std::uint32_t target = 0;
    PixmanImageOwner from(pixman_image_create_bits(*format, 1, 1, &source, 4));
    PixmanImageOwner to(pixman_image_create_bits(PIXMAN_x8r8g8b8, 1, 1, &target, 4));
    pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0, 1, 1);
    EXPECT_EQ(target & 0xffffff, 0xff0000u) << std::hex << c.red;
  }
  EXPECT_EQ(pixelFormatOf(8, 8, 0, 0, 0), std::nullopt) << "palettes are not true colour";
  EXPECT_EQ(pixelFormatOf(32, 24, 0xff00, 0xff0000, 0xff), std::nullopt);
}

// ---- JPEG ------------------------------------------------------------------------

TEST(JpegQualityTest, RoundsAndClampsToTurboJpegsRange) {
  EXPECT_EQ(jpegQuality(0.62), 62);
  EXPECT_EQ(jpegQuality(0.625), 63);
  EXPECT_EQ(jpegQuality(1.5), 100);
  EXPECT_EQ(jpegQuality(0), 1);
  EXPECT_EQ(jpegQuality(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
  EXPECT_EQ(jpegQuality(std::numeric_limits<double>::infinity()), std::nullopt);
}

Image gradient(int width, int height) {
  Image image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 3))};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = &image.rgb[static_cast<std::size_t>((y * width + x) * 3)];
      pixel[0] = static_cast<std::uint8_t>(x * 255 / width);
      pixel[1] = static_cast<std::uint8_t>(y * 255 / height);
      pixel[2] = 0x80;
    }
  }
  return image;
}

// Encoding needs no display: this runs anywhere.
TEST(EncodeJpegTest, BaseSixtyFourOfAJpegThatDecodesToThePicture) {
  XScreenCapture capture;
  const Image image = gradient(101, 57);  // odd sizes: 4:2:0 blocks are cut
  const std::optional<Jpeg> jpeg = capture.encodeJpeg(image, 0.62);
  ASSERT_TRUE(jpeg.has_value());
  EXPECT_EQ(jpeg->width, 101);
  EXPECT_EQ(jpeg->height, 57);
  EXPECT_EQ(jpeg->base64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  EXPECT_EQ(jpeg->base64.size() % 4, 0u);

  gsize length = 0;
  GCharOwner raw(reinterpret_cast<gchar*>(g_base64_decode(jpeg->base64.c_str(), &length)));
  TurboJpegOwner decompressor(tjInitDecompress());
  int width = 0;
  int height = 0;
  int subsampling = -1;
  int colourspace = -1;
  auto* bytes = reinterpret_cast<unsigned char*>(raw.get());
  ASSERT_EQ(tjDecompressHeader3(decompressor.get(), bytes, length, &width, &height, &subsampling, &colourspace), 0);
  EXPECT_EQ(width, 101);
  EXPECT_EQ(height, 57);
  EXPECT_EQ(subsampling, TJSAMP_420);
  std::vector<std::uint8_t> decoded(static_cast<std::size_t>(width * height * 3));
  ASSERT_EQ(tjDecompress2(decompressor.get(), bytes, length, decoded.data(), width, 0, height, TJPF_RGB, 0), 0);
  double error = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i) error += std::abs(int{decoded[i]} - int{image.rgb[i]});
  EXPECT_LT(error / static_cast<double>(decoded.size()), 4.0) << "red, green and blue must stay in their places";
}

TEST(EncodeJpegTest, HigherQualityGivesALargerFile) {
  XScreenCapture capture;
  const Image image = gradient(256, 256);
  const std::optional<Jpeg> low = capture.encodeJpeg(image, 0.2);
  const std::optional<Jpeg> high = capture.encodeJpeg(image, 0.95);
  ASSERT_TRUE(low && high);
  EXPECT_LT(low->base64.size(), high->base64.size());
}

TEST(EncodeJpegTest, PicturesThatDoNotHoldTogetherAreRefused) {
  XScreenCapture capture;
  Image shortRows = gradient(16, 16);
  shortRows.rgb.pop_back();
  EXPECT_EQ(capture.encodeJpeg(shortRows, 0.62), std::nullopt);
  EXPECT_EQ(capture.encodeJpeg(Image{0, 16, {}}, 0.62), std::nullopt);
  EXPECT_EQ(capture.encodeJpeg(gradient(16, 16), std::nan("")), std::nullopt);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
