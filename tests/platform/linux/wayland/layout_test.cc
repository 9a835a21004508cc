#include <gtest/gtest.h>

#include "platform/linux/wayland/layout.h"

#include <cmath>

namespace kelp::platform::linux_desktop::wayland {
namespace {

OutputPlace place(int x, int y, int width, int height) { return {"", x, y, width, height}; }

TEST(MonitorsFromOutputsTest, TheOutputHoldingTheOriginIsPrimaryElseTheFirst) {
  const struct {
    const char* what;
    std::vector<OutputPlace> outputs;
    std::vector<MonitorRect> monitors;
  } cases[] = {
      {"one", {place(0, 0, 1920, 1080)}, {{0, 0, 1920, 1080, true}}},
      {"origin on the second", {place(-1280, 0, 1280, 1024), place(0, 0, 1920, 1080)},
       {{-1280, 0, 1280, 1024, false}, {0, 0, 1920, 1080, true}}},
      {"origin on none", {place(100, 0, 800, 600), place(900, 0, 800, 600)},
       {{100, 0, 800, 600, true}, {900, 0, 800, 600, false}}},
      {"place not known yet", {OutputPlace{"HEADLESS-2", 1920, 0, std::nullopt, std::nullopt}, place(0, 0, 1920, 1080)},
       {{0, 0, 1920, 1080, true}}},
      {"none", {}, {}},
  };
  for (const auto& c : cases) {
    const std::vector<MonitorRect> monitors = monitorsFromOutputs(c.outputs);
    ASSERT_EQ(monitors.size(), c.monitors.size()) << c.what;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
      EXPECT_EQ(monitors[i].x, c.monitors[i].x) << c.what;
      EXPECT_EQ(monitors[i].y, c.monitors[i].y) << c.what;
      EXPECT_EQ(monitors[i].width, c.monitors[i].width) << c.what;
      EXPECT_EQ(monitors[i].height, c.monitors[i].height) << c.what;
      EXPECT_EQ(monitors[i].primary, c.monitors[i].primary) << c.what << " " << i;
    }
  }
}

// Two outputs side by side, the main one on the right.
const std::vector<MonitorRect> SIDE_BY_SIDE = {{-1280, 200, 1280, 1024, false}, {0, 0, 1920, 1080, true}};

TEST(LayoutPointTest, SeamPointsAreFromTheMainOutputsTopLeftAndLandOnTheirPixel) {
  const std::vector<MonitorRect> offMain = {{500, 300, 1920, 1080, true}};
  EXPECT_EQ(layoutPoint({10.7, 20.2}, offMain), (Point{510, 320}));
  EXPECT_EQ(layoutPoint({-0.5, 0}, offMain), (Point{499, 300}));
  EXPECT_EQ(layoutPoint({-100, 250}, SIDE_BY_SIDE), (Point{-100, 250}));
  EXPECT_EQ(layoutPoint({std::nan(""), 0}, offMain), std::nullopt);
  EXPECT_EQ(layoutPoint({0, INFINITY}, offMain), std::nullopt);
}

TEST(AbsoluteMotionTest, OverTheLayoutsBoundingBoxAndInsideIt) {
  const struct {
    Point layout;
    AbsoluteMotion motion;
  } cases[] = {
      {{0, 0}, {1280, 0, 3200, 1224}},
      {{-1280, 200}, {0, 200, 3200, 1224}},
      {{1919.9, 1079}, {3199, 1079, 3200, 1224}},
      // Outside the box: its nearest edge.
      {{5000, -50}, {3199, 0, 3200, 1224}},
      {{-9000, 9000}, {0, 1223, 3200, 1224}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(absoluteMotion(c.layout, SIDE_BY_SIDE), std::optional<AbsoluteMotion>(c.motion))
        << c.layout.x << "," << c.layout.y;
  }
  EXPECT_EQ(absoluteMotion({0, 0}, {}), std::nullopt);
  EXPECT_EQ(absoluteMotion({NAN, 0}, SIDE_BY_SIDE), std::nullopt);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::wayland
