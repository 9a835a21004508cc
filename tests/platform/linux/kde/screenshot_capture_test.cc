#include <gtest/gtest.h>

#include "platform/linux/kde/screenshot_capture.h"

#include <cstring>

namespace kelp::platform::linux_desktop::kde {
namespace {

TEST(QImageFormat, NamesThePixelsAsPixmanDoes) {
  struct Case {
    std::uint32_t format;
    std::optional<pixman_format_code_t> pixman;
  };
  const Case cases[] = {
      {4, PIXMAN_x8r8g8b8},    // RGB32
      {5, PIXMAN_x8r8g8b8},    // ARGB32: the screen's alpha means nothing
      {6, PIXMAN_x8r8g8b8},    // ARGB32_Premultiplied, what KWin 5.27 sends
      {7, PIXMAN_r5g6b5},      // RGB16
      {13, PIXMAN_b8g8r8},     // RGB888
      {16, PIXMAN_x8b8g8r8},   // RGBX8888
      {17, PIXMAN_x8b8g8r8},   // RGBA8888
      {18, PIXMAN_x8b8g8r8},   // RGBA8888_Premultiplied
      {19, PIXMAN_x2b10g10r10},
      {20, PIXMAN_x2b10g10r10},
      {21, PIXMAN_x2r10g10b10},
      {22, PIXMAN_x2r10g10b10},
      {29, PIXMAN_r8g8b8},     // BGR888
      {0, std::nullopt},       // Invalid
      {3, std::nullopt},       // Indexed8
      {24, std::nullopt},      // Grayscale8
      {26, std::nullopt},      // RGBA64
      {1000, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(pixelFormatOfQImage(c.format), c.pixman) << "format " << c.format;
}

// The byte order each 32-bit format stands for, read the way pixman reads
// words on this (little-endian) machine.
TEST(QImageFormat, RedComesOutRed) {
  const std::uint8_t argb32[4] = {0x10, 0x20, 0xf0, 0xff};  // B, G, R, A in memory
  const std::uint8_t rgba8888[4] = {0xf0, 0x20, 0x10, 0xff};
  std::uint32_t word = 0;
  std::memcpy(&word, argb32, 4);
  EXPECT_EQ(PIXMAN_FORMAT_TYPE(*pixelFormatOfQImage(6)), PIXMAN_TYPE_ARGB);
  EXPECT_EQ((word >> 16) & 0xff, 0xf0u);
  std::memcpy(&word, rgba8888, 4);
  EXPECT_EQ(PIXMAN_FORMAT_TYPE(*pixelFormatOfQImage(17)), PIXMAN_TYPE_ABGR);
  EXPECT_EQ(word & 0xff, 0xf0u);
}

TEST(PictureLayout, TakesOnlyWhatThePixelsCanFill) {
  EXPECT_EQ(pictureLayoutOf(1920, 1080, 7680, 6), (PictureLayout{1920, 1080, 7680, PIXMAN_x8r8g8b8}));
  EXPECT_EQ(pictureLayoutOf(10, 10, 40, 6), (PictureLayout{10, 10, 40, PIXMAN_x8r8g8b8}));
  // Rows may be padded, to whole words.
  EXPECT_EQ(pictureLayoutOf(3, 2, 12, 13), (PictureLayout{3, 2, 12, PIXMAN_b8g8r8}));
  EXPECT_FALSE(pictureLayoutOf(3, 2, 9, 13));       // rows not in whole words
  EXPECT_FALSE(pictureLayoutOf(1920, 1080, 7676, 6));  // a row too short
  EXPECT_FALSE(pictureLayoutOf(0, 1080, 0, 6));
  EXPECT_FALSE(pictureLayoutOf(1920, 0, 7680, 6));
  EXPECT_FALSE(pictureLayoutOf(1920, 1080, 7680, 3));  // a palette
  EXPECT_FALSE(pictureLayoutOf(std::nullopt, 1080, 7680, 6));
  EXPECT_FALSE(pictureLayoutOf(1920, 1080, std::nullopt, 6));
  EXPECT_FALSE(pictureLayoutOf(1920, 1080, 7680, std::nullopt));
  EXPECT_FALSE(pictureLayoutOf(100000, 100000, 400000, 6));  // beyond any picture asked for
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::kde
