// GoogleTest first: the X11 headers bring macros (None, Bool, ...).
#include <gtest/gtest.h>

#include "platform/linux/x11/display.h"

namespace kelp::platform::linux_desktop {
namespace {

// Window placement: what the tree reports for a window and where its client
// area lies decide where the window manager is asked to put the client.
TEST(WindowPlacementTest, ClientAreaReportsGoWhereAsked) {
  const RootRect client{100, 80, 640, 480};
  EXPECT_EQ(placementFor(client, client, Point{10, 20}, std::nullopt), (WindowPlacement{10, 20, {}, {}}));
  EXPECT_EQ(placementFor(client, client, std::nullopt, Size{800, 600}), (WindowPlacement{{}, {}, 800, 600}));
  EXPECT_EQ(placementFor(client, client, Point{10.4, 19.6}, Size{800.5, 600.2}),
            (WindowPlacement{10, 20, 801, 600}));
}

TEST(WindowPlacementTest, FrameReportsKeepTheirFrameAroundTheClient) {
  // The frame: 4 pixels each side, a 24-pixel title bar.
  const RootRect client{104, 104, 640, 480};
  const RootRect frame{100, 80, 648, 508};
  EXPECT_EQ(placementFor(frame, client, Point{0, 0}, Size{700, 500}), (WindowPlacement{4, 24, 692, 472}));
}

TEST(WindowPlacementTest, SizesStayPositiveAndCoordinatesBounded) {
  const RootRect frame{0, 0, 120, 130};
  const RootRect client{10, 20, 100, 100};
  const WindowPlacement tiny = placementFor(frame, client, std::nullopt, Size{5, 5});
  EXPECT_EQ(tiny.width, 1);
  EXPECT_EQ(tiny.height, 1);
  const WindowPlacement far = placementFor(client, client, Point{1e300, -1e300}, std::nullopt);
  EXPECT_EQ(far.x, 1 << 15);
  EXPECT_EQ(far.y, -(1 << 15));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
