#include <gtest/gtest.h>

#include "platform/linux/gnome/screencast_monitors.h"

#include <vector>

#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

// A GetCurrentState reply with one physical monitor per `modes` entry
// (connector, current width and height) and the logical monitors `logical`
// in GVariant text, in the layout mode `layoutMode`.
GVariantOwner currentState(const std::vector<std::tuple<std::string, int, int>>& modes, const std::string& logical,
                           int layoutMode) {
  std::string physical;
  for (const auto& [connector, width, height] : modes) {
    if (!physical.empty()) physical += ", ";
    // A mode that is not current comes first, so that only is-current counts.
    physical += "(('" + connector + "', 'Vendor', 'Product', '0x01'), [('640x480@60', 640, 480, 60.0, 1.0, [1.0], " +
                "@a{sv} {}), ('mode', " + std::to_string(width) + ", " + std::to_string(height) +
                ", 60.0, 1.0, [1.0, 2.0], {'is-current': <true>, 'is-preferred': <true>})], " +
                "{'display-name': <'Vendor'>})";
  }
  const std::string text = "(uint32 2, [" + physical + "], @a(iiduba(ssss)a{sv}) [" + logical +
                           "], {'layout-mode': <uint32 " + std::to_string(layoutMode) + ">})";
  return GVariantOwner(g_variant_ref_sink(g_variant_new_parsed(text.c_str())));
}

std::string logicalMonitor(int x, int y, double scale, int transform, bool primary, const std::string& connector) {
  return "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(scale) + ", uint32 " +
         std::to_string(transform) + ", " + (primary ? "true" : "false") + ", [('" + connector +
         "', 'Vendor', 'Product', '0x01')], @a{sv} {})";
}

TEST(MonitorsFromCurrentStateTest, LogicalMonitorsInMuttersOrderWithTheirSizes) {
  const struct {
    const char* what;
    std::vector<std::tuple<std::string, int, int>> modes;
    std::string logical;
    int layoutMode;
    std::vector<MutterMonitor> monitors;
  } cases[] = {
      {"headless virtual monitor", {{"Meta-0", 1920, 1080}}, logicalMonitor(0, 0, 1, 0, true, "Meta-0"), 2,
       {{"Meta-0", {0, 0, 1920, 1080, true}}}},
      {"logical layout divides by the scale",
       {{"eDP-1", 3840, 2160}, {"HDMI-1", 1920, 1080}},
       logicalMonitor(0, 0, 2, 0, true, "eDP-1") + ", " + logicalMonitor(1920, 0, 1, 0, false, "HDMI-1"), 1,
       {{"eDP-1", {0, 0, 1920, 1080, true}}, {"HDMI-1", {1920, 0, 1920, 1080, false}}}},
      {"physical layout keeps the mode's pixels", {{"eDP-1", 3840, 2160}},
       logicalMonitor(0, 0, 2, 0, true, "eDP-1"), 2, {{"eDP-1", {0, 0, 3840, 2160, true}}}},
      {"fractional scale rounds", {{"eDP-1", 2880, 1800}}, logicalMonitor(0, 0, 1.75, 0, true, "eDP-1"), 1,
       {{"eDP-1", {0, 0, 1646, 1029, true}}}},
      {"a quarter turn swaps the sides", {{"DP-1", 1920, 1080}}, logicalMonitor(-1080, 0, 1, 1, false, "DP-1"), 2,
       {{"DP-1", {-1080, 0, 1080, 1920, false}}}},
      {"flipped and turned (7) swaps too; a half turn (2) does not",
       {{"DP-1", 1920, 1080}, {"DP-2", 1280, 1024}},
       logicalMonitor(0, 0, 1, 7, false, "DP-1") + ", " + logicalMonitor(1080, 0, 1, 2, true, "DP-2"), 2,
       {{"DP-1", {0, 0, 1080, 1920, false}}, {"DP-2", {1080, 0, 1280, 1024, true}}}},
      {"Mutter's order, not the connectors'",
       {{"DP-1", 1920, 1080}, {"DP-2", 1280, 1024}},
       logicalMonitor(1920, 0, 1, 0, false, "DP-2") + ", " + logicalMonitor(0, 0, 1, 0, true, "DP-1"), 2,
       {{"DP-2", {1920, 0, 1280, 1024, false}}, {"DP-1", {0, 0, 1920, 1080, true}}}},
      {"no logical monitors", {{"DP-1", 1920, 1080}}, "", 2, {}},
  };
  for (const auto& c : cases) {
    const GVariantOwner reply = currentState(c.modes, c.logical, c.layoutMode);
    const std::optional<std::vector<MutterMonitor>> monitors = monitorsFromCurrentState(reply.get());
    ASSERT_TRUE(monitors) << c.what;
    ASSERT_EQ(monitors->size(), c.monitors.size()) << c.what;
    for (std::size_t i = 0; i < monitors->size(); ++i) {
      const MutterMonitor& got = (*monitors)[i];
      const MutterMonitor& want = c.monitors[i];
      EXPECT_EQ(got.connector, want.connector) << c.what;
      EXPECT_EQ(got.rect.x, want.rect.x) << c.what << " " << i;
      EXPECT_EQ(got.rect.y, want.rect.y) << c.what << " " << i;
      EXPECT_EQ(got.rect.width, want.rect.width) << c.what << " " << i;
      EXPECT_EQ(got.rect.height, want.rect.height) << c.what << " " << i;
      EXPECT_EQ(got.rect.primary, want.rect.primary) << c.what << " " << i;
    }
  }
}

TEST(MonitorsFromCurrentStateTest, RelativeMotionIsScaledOnlyInAPhysicalLayout) {
  const std::string twoMonitors =
      logicalMonitor(0, 0, 2, 0, true, "eDP-1") + ", " + logicalMonitor(3840, 0, 1, 0, false, "HDMI-1");
  const std::vector<std::tuple<std::string, int, int>> modes = {{"eDP-1", 3840, 2160}, {"HDMI-1", 1920, 1080}};
  const GVariantOwner physical = currentState(modes, twoMonitors, 2);
  const GVariantOwner logical = currentState(modes, twoMonitors, 1);
  const std::optional<std::vector<MutterMonitor>> inPhysical = monitorsFromCurrentState(physical.get());
  const std::optional<std::vector<MutterMonitor>> inLogical = monitorsFromCurrentState(logical.get());
  ASSERT_TRUE(inPhysical && inLogical);
  EXPECT_EQ(inPhysical->front().scale, 2);
  EXPECT_FALSE(inPhysical->front().logicalLayout);
  EXPECT_TRUE(inLogical->front().logicalLayout);
  const struct {
    Point at;
    double physicalScale;
  } cases[] = {
      {{100, 100}, 2},
      {{3839, 2159}, 2},
      {{3840, 0}, 1},
      // Off every monitor: as it comes.
      {{-5, 0}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(motionScaleAt(*inPhysical, c.at), c.physicalScale) << c.at.x << "," << c.at.y;
    EXPECT_EQ(motionScaleAt(*inLogical, c.at), 1) << c.at.x << "," << c.at.y;
  }
}

TEST(MonitorsFromCurrentStateTest, NoneForAMonitorWithoutModeOrAnotherReply) {
  const GVariantOwner unknownConnector =
      currentState({{"DP-1", 1920, 1080}}, logicalMonitor(0, 0, 1, 0, true, "DP-9"), 2);
  EXPECT_EQ(monitorsFromCurrentState(unknownConnector.get()), std::nullopt);
  const GVariantOwner zeroScale = currentState({{"DP-1", 1920, 1080}}, logicalMonitor(0, 0, 0, 0, true, "DP-1"), 1);
  EXPECT_EQ(monitorsFromCurrentState(zeroScale.get()), std::nullopt);
  const GVariantOwner other(g_variant_ref_sink(g_variant_new_parsed("(uint32 2, 'monitors')")));
  EXPECT_EQ(monitorsFromCurrentState(other.get()), std::nullopt);
  EXPECT_EQ(monitorsFromCurrentState(nullptr), std::nullopt);
}

TEST(FramePartTest, PointsBecomeTheFramesPixelsRoundedOutwards) {
  const struct {
    const char* what;
    CaptureArea area;
    int monitorWidth, monitorHeight, frameWidth, frameHeight;
    std::optional<PixelRect> part;
  } cases[] = {
      {"frame as large as the monitor", {280, 660, 400, 300}, 1920, 1080, 1920, 1080, PixelRect{280, 660, 400, 300}},
      {"whole monitor", {0, 0, 1920, 1080}, 1920, 1080, 1920, 1080, PixelRect{0, 0, 1920, 1080}},
      {"scale 2", {10, 20, 30, 40}, 1920, 1080, 3840, 2160, PixelRect{20, 40, 60, 80}},
      {"scale 1.5 rounds outwards", {1, 1, 1, 1}, 1280, 720, 1920, 1080, PixelRect{1, 1, 2, 2}},
      {"bottom right corner", {1900, 1060, 20, 20}, 1920, 1080, 1920, 1080, PixelRect{1900, 1060, 20, 20}},
      {"beyond the right edge", {1910, 0, 20, 20}, 1920, 1080, 1920, 1080, std::nullopt},
      {"negative", {-1, 0, 20, 20}, 1920, 1080, 1920, 1080, std::nullopt},
      {"empty", {10, 10, 0, 5}, 1920, 1080, 1920, 1080, std::nullopt},
      {"no frame yet", {10, 10, 5, 5}, 1920, 1080, 0, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(framePart(c.area, c.monitorWidth, c.monitorHeight, c.frameWidth, c.frameHeight), c.part) << c.what;
  }
}

// A BGRx frame of 6x4 pixels in rows of 8: pixel (x, y) is red 10x, green
// 10y, blue 99; the two pixels of padding at each row's end hold 0xEE.
struct TestFrame {
  static constexpr int WIDTH = 6;
  static constexpr int HEIGHT = 4;
  static constexpr int STRIDE = 8 * 4;
  alignas(4) std::uint8_t bytes[STRIDE * HEIGHT];
  TestFrame() {
    for (int y = 0; y < HEIGHT; ++y) {
      for (int x = 0; x < STRIDE / 4; ++x) {
        std::uint8_t* pixel = bytes + y * STRIDE + x * 4;
        const bool padding = x >= WIDTH;
        pixel[0] = padding ? 0xEE : 99;
        pixel[1] = padding ? 0xEE : static_cast<std::uint8_t>(10 * y);
        pixel[2] = padding ? 0xEE : static_cast<std::uint8_t>(10 * x);
        pixel[3] = 0xEE;
      }
    }
  }
  FrameView view() { return {PIXMAN_x8r8g8b8, WIDTH, HEIGHT, STRIDE, bytes}; }
};

// The RGB the test frame's pixels from (x, y) give, `width` x `height` of them.
std::vector<std::uint8_t> testPixels(int x, int y, int width, int height) {
  std::vector<std::uint8_t> rgb;
  for (int row = y; row < y + height; ++row) {
    for (int column = x; column < x + width; ++column) {
      rgb.insert(rgb.end(), {static_cast<std::uint8_t>(10 * column), static_cast<std::uint8_t>(10 * row), 99});
    }
  }
  return rgb;
}

TEST(PictureOfFrameTest, ThePartsPixelsFromTheFramesRowsNeverItsPadding) {
  const struct {
    const char* what;
    std::optional<CaptureArea> area;
    int monitorWidth, monitorHeight;
    PixelSize to;
    std::optional<std::vector<std::uint8_t>> rgb;
  } cases[] = {
      {"whole frame", std::nullopt, 6, 4, {6, 4}, testPixels(0, 0, 6, 4)},
      {"a part", CaptureArea{2, 1, 3, 2}, 6, 4, {3, 2}, testPixels(2, 1, 3, 2)},
      {"the right edge, next to the padding", CaptureArea{4, 2, 2, 2}, 6, 4, {2, 2}, testPixels(4, 2, 2, 2)},
      {"a monitor at scale 2", CaptureArea{1, 0, 2, 1}, 3, 2, {4, 2}, testPixels(2, 0, 4, 2)},
      {"beyond the monitor", CaptureArea{5, 0, 2, 1}, 6, 4, {2, 1}, std::nullopt},
  };
  for (const auto& c : cases) {
    TestFrame frame;
    ScaleScratch scratch;
    const std::optional<Image> image =
        pictureOfFrame(frame.view(), c.area, c.monitorWidth, c.monitorHeight, c.to, scratch);
    ASSERT_EQ(image.has_value(), c.rgb.has_value()) << c.what;
    if (!image) continue;
    EXPECT_EQ(image->width, c.to.width) << c.what;
    EXPECT_EQ(image->height, c.to.height) << c.what;
    EXPECT_EQ(image->rgb, *c.rgb) << c.what;
  }
}

TEST(PictureOfFrameTest, ShrinkingAveragesThePixelsUnderEachTargetPixel) {
  TestFrame frame;
  ScaleScratch scratch;
  // Halved: each target pixel the mean of a 2x2 block, red 10x + 5.
  const std::optional<Image> image = pictureOfFrame(frame.view(), std::nullopt, 6, 4, {3, 2}, scratch);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->rgb, (std::vector<std::uint8_t>{5, 5, 99, 25, 5, 99, 45, 5, 99, 5, 25, 99, 25, 25, 99, 45, 25, 99}));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::gnome
