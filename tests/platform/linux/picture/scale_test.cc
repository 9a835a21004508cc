// GoogleTest first: the X11 headers bring macros (None, Bool, ...).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "platform/linux/handles.h"
#include "platform/linux/picture/scale.h"

namespace kelp::platform::linux_desktop {
namespace {

TEST(ScaleStepsTest, ShrinkingEndsWithAnExactHalvingAfterHalvingsFromTheSource) {
  EXPECT_EQ(scaleSteps({1920, 1080}, {1024, 576}), (std::vector<PixelSize>{{2048, 1152}, {1024, 576}}));
  EXPECT_EQ(scaleSteps({3840, 2160}, {1024, 576}),
            (std::vector<PixelSize>{{1920, 1080}, {2048, 1152}, {1024, 576}}));
  EXPECT_EQ(scaleSteps({2048, 1152}, {1024, 576}), (std::vector<PixelSize>{{1024, 576}}));
  // Only the height needs the step up; the width halves once, at the end.
  EXPECT_EQ(scaleSteps({2048, 1000}, {1024, 576}), (std::vector<PixelSize>{{2048, 1152}, {1024, 576}}));
  // The same size or larger: one step.
  EXPECT_EQ(scaleSteps({1024, 768}, {1024, 768}), (std::vector<PixelSize>{{1024, 768}}));
  EXPECT_EQ(scaleSteps({800, 600}, {1024, 768}), (std::vector<PixelSize>{{1024, 768}}));
  EXPECT_TRUE(scaleSteps({0, 600}, {1024, 768}).empty());
}

// Bilinear resampling reads each target pixel from the 2x2 source pixels
// around it, so no step may shrink by more than half or a source pixel goes
// unread; and the picture must never grow beyond what it needs.
TEST(ScaleStepsTest, NoStepShrinksByMoreThanHalfAndNoneGrowsPastTwiceTheTarget) {
  for (int from = 1; from <= 9000; from += 37) {
    for (int to : {1, 7, 576, 1024, 1820}) {
      const std::vector<PixelSize> steps = scaleSteps({from, from}, {to, to});
      ASSERT_FALSE(steps.empty());
      EXPECT_EQ(steps.back(), (PixelSize{to, to}));
      int previous = from;
      for (const PixelSize& step : steps) {
        EXPECT_LE(previous, 2 * step.width) << from << " -> " << to;
        EXPECT_LE(step.width, std::max(from, 2 * to)) << from << " -> " << to;
        previous = step.width;
      }
    }
  }
}

// ---- scaling the pixels ---------------------------------------------------------

struct TestPicture {
  PixelSize size;
  std::vector<std::uint32_t> pixels;
  PixmanImageOwner image;

  TestPicture(PixelSize size, std::uint32_t (*pixel)(int x, int y)) : size(size) {
    pixels.resize(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
    for (int y = 0; y < size.height; ++y) {
      for (int x = 0; x < size.width; ++x) pixels[static_cast<std::size_t>(y * size.width + x)] = pixel(x, y);
    }
    image.reset(pixman_image_create_bits(PIXMAN_x8r8g8b8, size.width, size.height, pixels.data(), size.width * 4));
  }
};

std::uint8_t channel(const Image& image, int x, int y, int c) {
  return image.rgb[static_cast<std::size_t>((y * image.width + x) * 3 + c)];
}

TEST(ScaledPictureTest, KeepsColoursExactlyUpToTheEdges) {
  ScaleScratch scratch;
  for (const PixelSize from : {PixelSize{1920, 1080}, PixelSize{1024, 576}, PixelSize{3840, 2160}}) {
    TestPicture red(from, [](int, int) -> std::uint32_t { return 0xff2010; });
    const std::optional<Image> picture = scaledPicture(red.image.get(), from, {1024, 576}, scratch);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 1024);
    EXPECT_EQ(picture->height, 576);
    ASSERT_EQ(picture->rgb.size(), 1024u * 576u * 3u);
    for (int y : {0, 300, 575}) {
      for (int x : {0, 500, 1023}) {
        EXPECT_EQ(channel(*picture, x, y, 0), 0xff) << x << "," << y << " from " << from.width;
        EXPECT_EQ(channel(*picture, x, y, 1), 0x20);
        EXPECT_EQ(channel(*picture, x, y, 2), 0x10);
      }
    }
  }
}

// One-pixel lines (text, borders) shrunk by 1.875: a plain bilinear scale
// shows them as stripes of black and white; the mean of the pixels under
// each target pixel is an even grey.
TEST(ScaledPictureTest, ThinLinesAverageOutInsteadOfFlickering) {
  ScaleScratch scratch;
  TestPicture lines({1920, 1080}, [](int x, int) -> std::uint32_t { return x % 2 ? 0xffffff : 0; });
  const std::optional<Image> picture = scaledPicture(lines.image.get(), {1920, 1080}, {1024, 576}, scratch);
  ASSERT_TRUE(picture.has_value());
  int darkest = 255;
  int lightest = 0;
  for (int x = 2; x < 1022; ++x) {
    darkest = std::min<int>(darkest, channel(*picture, x, 300, 1));
    lightest = std::max<int>(lightest, channel(*picture, x, 300, 1));
  }
  EXPECT_GE(darkest, 100);
  EXPECT_LE(lightest, 155);
}

TEST(ScaledPictureTest, KeepsWhereThingsAre) {
  ScaleScratch scratch;
  // A white square at (960, 540)-(1280, 860) on black.
  TestPicture square({1920, 1080}, [](int x, int y) -> std::uint32_t {
    return x >= 960 && x < 1280 && y >= 540 && y < 860 ? 0xffffff : 0;
  });
  const std::optional<Image> picture = scaledPicture(square.image.get(), {1920, 1080}, {960, 540}, scratch);
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(channel(*picture, 478, 268, 0), 0);
  EXPECT_EQ(channel(*picture, 481, 271, 0), 255);
  EXPECT_EQ(channel(*picture, 638, 428, 0), 255);
  EXPECT_EQ(channel(*picture, 641, 431, 0), 0);

  // Shrunk by 1.875 the edges land between target pixels: a pixel may blend
  // with its neighbours' share, not with anything further away.
  const std::optional<Image> shrunk = scaledPicture(square.image.get(), {1920, 1080}, {1024, 576}, scratch);
  ASSERT_TRUE(shrunk.has_value());
  EXPECT_LE(channel(*shrunk, 510, 300, 0), 2);  // the square starts at 512
  EXPECT_GE(channel(*shrunk, 513, 300, 0), 253);
  EXPECT_GE(channel(*shrunk, 681, 456, 0), 253);  // and ends at 682.67, 458.67
  EXPECT_LE(channel(*shrunk, 684, 460, 0), 2);
}

// The steps as pixman takes them, one picture after the other: what the
// one-pass scaling must give, up to rounding (pixman's bilinear weights have
// 7 bits, and each step rounds to 8-bit channels).
std::vector<std::uint8_t> scaledStepByStep(const TestPicture& source, PixelSize to) {
  std::vector<std::uint32_t> pixels = source.pixels;
  PixelSize size = source.size;
  for (const PixelSize step : scaleSteps(source.size, to)) {
    std::vector<std::uint32_t> next(static_cast<std::size_t>(step.width) * static_cast<std::size_t>(step.height));
    PixmanImageOwner from(pixman_image_create_bits(PIXMAN_x8r8g8b8, size.width, size.height, pixels.data(),
                                                   size.width * 4));
    PixmanImageOwner target(
        pixman_image_create_bits(PIXMAN_x8r8g8b8, step.width, step.height, next.data(), step.width * 4));
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(static_cast<double>(size.width) / step.width),
                                pixman_double_to_fixed(static_cast<double>(size.height) / step.height));
    pixman_image_set_transform(from.get(), &transform);
    pixman_image_set_filter(from.get(), size == step ? PIXMAN_FILTER_NEAREST : PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(from.get(), PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, target.get(), 0, 0, 0, 0, 0, 0, step.width,
                             step.height);
    pixels = std::move(next);
    size = step;
  }
  std::vector<std::uint8_t> rgb;
  for (const std::uint32_t pixel : pixels) {
    rgb.push_back(static_cast<std::uint8_t>(pixel >> 16));
    rgb.push_back(static_cast<std::uint8_t>(pixel >> 8));
    rgb.push_back(static_cast<std::uint8_t>(pixel));
  }
  return rgb;
}

std::uint32_t noise(int x, int y) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 0x9e3779b1u ^ static_cast<std::uint32_t>(y) * 0x85ebca77u;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  return (h ^ (h >> 12)) & 0xffffff;
}

TEST(AxisTapsTest, WeightsSumToOneAndReachNoFurtherThanTheStepsDo) {
  const std::vector<AxisTaps> taps = axisTaps(1920, 1024);
  ASSERT_EQ(taps.size(), 1024u);
  std::vector<double> share(1920, 0.0);
  for (const AxisTaps& target : taps) {
    double sum = 0;
    for (std::size_t k = 0; k < target.weights.size(); ++k) {
      sum += target.weights[k];
      share[static_cast<std::size_t>(target.first) + k] += target.weights[k];
    }
    EXPECT_NEAR(sum, 1.0, 1e-9);
    EXPECT_LE(target.weights.size(), 4u) << "bilinear to 2048, then halved";
  }
  // Every source pixel counts, about as much as 1024 / 1920 of a pixel.
  for (const double s : share) EXPECT_NEAR(s, 1024.0 / 1920.0, 0.2);
  // The same size is each pixel alone; edges repeat instead of reaching out.
  const std::vector<AxisTaps> same = axisTaps(5, 5);
  ASSERT_EQ(same.size(), 5u);
  EXPECT_EQ(same[3].first, 3);
  EXPECT_EQ(same[3].weights, std::vector<double>{1.0});
  for (const AxisTaps& target : axisTaps(3, 8)) {
    EXPECT_GE(target.first, 0);
    EXPECT_LE(target.first + static_cast<int>(target.weights.size()), 3);
  }
  EXPECT_TRUE(axisTaps(0, 5).empty());
}

TEST(ScaledPictureTest, GivesWhatTheStepsGiveOneAfterTheOther) {
  ScaleScratch scratch;
  const std::pair<PixelSize, PixelSize> cases[] = {
      {{1920, 1080}, {1024, 576}}, {{3840, 2160}, {1024, 576}}, {{1366, 768}, {1024, 575}},
      {{1001, 333}, {517, 171}},   {{801, 601}, {1024, 768}},   {{1024, 576}, {1024, 576}}};
  for (const auto& [from, to] : cases) {
    const TestPicture source(from, noise);
    const std::optional<Image> picture = scaledPicture(source.image.get(), from, to, scratch);
    ASSERT_TRUE(picture.has_value());
    const std::vector<std::uint8_t> expected = scaledStepByStep(source, to);
    ASSERT_EQ(picture->rgb.size(), expected.size());
    int worst = 0;
    double total = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const int difference = std::abs(int{picture->rgb[i]} - int{expected[i]});
      worst = std::max(worst, difference);
      total += difference;
    }
    // Noise is the worst case for pixman's 7-bit positions and weights.
    EXPECT_LE(worst, 6) << from.width << "x" << from.height << " to " << to.width << "x" << to.height;
    EXPECT_LT(total / static_cast<double>(expected.size()), 1.5) << from.width << "x" << from.height;
  }
}

// The two axes' weights, applied exactly: the one pass rounds only once.
TEST(ScaledPictureTest, IsTheAxesWeightsAppliedOneAfterTheOther) {
  ScaleScratch scratch;
  for (const auto& [from, to] : {std::pair<PixelSize, PixelSize>{{1001, 333}, {517, 171}},
                                 std::pair<PixelSize, PixelSize>{{3840, 2160}, {1024, 576}}}) {
    const TestPicture source(from, noise);
    const std::optional<Image> picture = scaledPicture(source.image.get(), from, to, scratch);
    ASSERT_TRUE(picture.has_value());
    const std::vector<AxisTaps> columns = axisTaps(from.width, to.width);
    const std::vector<AxisTaps> rows = axisTaps(from.height, to.height);
    int worst = 0;
    std::vector<double> row(static_cast<std::size_t>(from.width) * 3);
    for (int y = 0; y < to.height; ++y) {
      std::fill(row.begin(), row.end(), 0.0);
      const AxisTaps& down = rows[static_cast<std::size_t>(y)];
      for (std::size_t k = 0; k < down.weights.size(); ++k) {
        for (int x = 0; x < from.width; ++x) {
          const std::uint32_t pixel = source.pixels[static_cast<std::size_t>((down.first + static_cast<int>(k)) * from.width + x)];
          for (int c = 0; c < 3; ++c) {
            row[static_cast<std::size_t>(x * 3 + c)] += down.weights[k] * ((pixel >> (16 - 8 * c)) & 0xff);
          }
        }
      }
      for (int x = 0; x < to.width; ++x) {
        const AxisTaps& across = columns[static_cast<std::size_t>(x)];
        for (int c = 0; c < 3; ++c) {
          double value = 0;
          for (std::size_t k = 0; k < across.weights.size(); ++k) {
            value += across.weights[k] * row[(static_cast<std::size_t>(across.first) + k) * 3 + static_cast<std::size_t>(c)];
          }
          worst = std::max(worst, static_cast<int>(std::lround(std::abs(value - channel(*picture, x, y, c)))));
        }
      }
    }
    EXPECT_LE(worst, 1) << from.width << "x" << from.height;
  }
}

// The scratch keeps tables and memory for one pair of sizes: other sizes in
// between (a display resized, another display) must not show through.
TEST(ScaledPictureTest, ScratchKeptAcrossSizesGivesWhatFreshScratchGives) {
  ScaleScratch kept;
  const std::pair<PixelSize, PixelSize> sequence[] = {{{1920, 1080}, {1024, 576}}, {{1280, 720}, {1024, 576}},
                                                      {{1921, 1081}, {1024, 576}}, {{1920, 1080}, {960, 540}},
                                                      {{1920, 1080}, {1024, 576}}};
  int round = 0;
  for (const auto& [from, to] : sequence) {
    ++round;
    TestPicture source(from, [](int x, int y) -> std::uint32_t { return noise(x + 7, y); });
    ScaleScratch fresh;
    const std::optional<Image> reused = scaledPicture(source.image.get(), from, to, kept);
    const std::optional<Image> anew = scaledPicture(source.image.get(), from, to, fresh);
    ASSERT_TRUE(reused && anew);
    EXPECT_EQ(reused->width, to.width);
    EXPECT_EQ(reused->height, to.height);
    EXPECT_TRUE(reused->rgb == anew->rgb) << "round " << round;
  }
  TestPicture small({640, 480}, noise);
  EXPECT_FALSE(scaledPicture(small.image.get(), {1920, 1080}, {1024, 576}, kept).has_value())
      << "the picture is not the size it is said to be";
}

TEST(ScaledPictureTest, ReadsRedAsRedInOtherPixelLayouts) {
  ScaleScratch scratch;
  std::vector<std::uint32_t> blueFirst(64 * 36, 0x1020ff);  // x8b8g8r8: red in the low byte
  PixmanImageOwner bgr(pixman_image_create_bits(PIXMAN_x8b8g8r8, 64, 36, blueFirst.data(), 64 * 4));
  std::vector<std::uint16_t> sixteen(64 * 36, 0xf800);  // r5g6b5 red
  PixmanImageOwner rgb565(pixman_image_create_bits(PIXMAN_r5g6b5, 64, 36,
                                                   reinterpret_cast<std::uint32_t*>(sixteen.data()), 64 * 2));
  for (pixman_image_t* source : {bgr.get(), rgb565.get()}) {
    const std::optional<Image> picture = scaledPicture(source, {64, 36}, {32, 18}, scratch);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(channel(*picture, 5, 5, 0), 0xff);
    EXPECT_LE(channel(*picture, 5, 5, 1), 0x20);
    EXPECT_LE(channel(*picture, 5, 5, 2), 0x10);
  }
}

// ---- X pixel layouts -------------------------------------------------------------

}  // namespace
}  // namespace kelp::platform::linux_desktop
