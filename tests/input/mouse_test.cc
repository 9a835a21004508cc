#include "input/mouse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/event_trace.h"

namespace kelp::input {
namespace {

using platform::Point;
using test::describe;
using test::trace;

class Mouse : public ::testing::Test {
 protected:
  platform::sim::SimDesktop sim;
};

TEST_F(Mouse, ClicksCountFromOneWithExactModifierNames) {
  mouseClick(sim, {60, 45}, 2, {});
  EXPECT_EQ(trace(sim),
            "move 60,45 | +60 down#1 60,45 | +28 up#1 60,45 | +40 down#2 60,45 | +28 up#2 60,45");
  EXPECT_EQ(sim.nowMicros(), 60000 + 2 * 68000);

  for (std::int64_t count : {0, -3}) {
    sim.posted.clear();
    mouseClick(sim, {1, 2}, count, {});
    EXPECT_EQ(trace(sim), "move 1,2 | +60 down#1 1,2 | +28 up#1 1,2") << count;
  }

  sim.posted.clear();
  mouseClick(sim, {1, 2}, 3, {"shift", "Cmd", "command", "option"});
  EXPECT_EQ(trace(sim), "move 1,2 | +60 down#1+shift 1,2 | +28 up#1+shift 1,2 | +40 down#2+shift 1,2 | +28 "
                        "up#2+shift 1,2 | +40 down#3+shift 1,2 | +28 up#3+shift 1,2");
}

TEST_F(Mouse, RightClickAndDragFollowTheirPauses) {
  rightClick(sim, {5, 6});
  EXPECT_EQ(trace(sim), "move 5,6 | +50 rdown 5,6 | +40 rup 5,6");

  sim.posted.clear();
  const std::int64_t start = sim.nowMicros();
  dragMouse(sim, {0, 0}, {140, 70});
  ASSERT_EQ(sim.posted.size(), 17u);
  EXPECT_EQ(describe(sim.posted[1]), "down 0,0");
  EXPECT_EQ(describe(sim.posted[2]), "drag 10,5");
  EXPECT_EQ(describe(sim.posted[3]), "drag 20,10");
  EXPECT_EQ(describe(sim.posted[15]), "drag 140,70");
  EXPECT_EQ(describe(sim.posted[16]), "up 140,70");
  EXPECT_EQ(sim.posted[2].atMicros - sim.posted[1].atMicros, 80000);
  EXPECT_EQ(sim.posted[16].atMicros - sim.posted[15].atMicros, 96000);  // 16 after the step, 80 before the up
  EXPECT_EQ(sim.nowMicros() - start, 60000 + 80000 + 14 * 16000 + 80000);
}

TEST_F(Mouse, ScrollStepsAreAThirdOfTheLargerDeltaAtMostForty) {
  scrollAt(sim, {3, 4}, 4, -9);
  EXPECT_EQ(trace(sim), "move 3,4 | +40 wheel -2,1 | +14 wheel -2,1 | +14 wheel -2,1 | +14 wheel -2,1");

  sim.posted.clear();
  scrollAt(sim, {0, 0}, 0, 300);
  ASSERT_EQ(sim.posted.size(), 41u);
  EXPECT_EQ(describe(sim.posted[1]), "wheel 7,0");

  sim.posted.clear();
  scrollAt(sim, {0, 0}, 0, 10000);
  ASSERT_EQ(sim.posted.size(), 41u);
  EXPECT_EQ(describe(sim.posted[40]), "wheel 250,0");

  sim.posted.clear();
  scrollAt(sim, {0, 0}, 0, 0);
  EXPECT_EQ(trace(sim), "move 0,0 | +40 wheel 0,0");
}

TEST_F(Mouse, ScrollRefusesAmountsNoStepCanCarry) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(scrollDeltasUsable(std::nan(""), 0));
  EXPECT_FALSE(scrollDeltasUsable(0, inf));
  EXPECT_FALSE(scrollDeltasUsable(0, 1e12));  // 40 steps of 2.5e10 each
  EXPECT_TRUE(scrollDeltasUsable(0, 80000000000.0 / 1000));
  EXPECT_TRUE(scrollDeltasUsable(-2147483647.0 * 40, 0));
  scrollAt(sim, {0, 0}, inf, 0);
  EXPECT_TRUE(sim.posted.empty());
}

TEST(CenterOf, NeedsAFrameWithPositiveSize) {
  ax::Node node;
  EXPECT_FALSE(centerOf(node));
  node.frame = ax::Frame{10, 20, 100, 50};
  ASSERT_TRUE(centerOf(node));
  EXPECT_EQ(*centerOf(node), (Point{60, 45}));
  node.frame = ax::Frame{10, 20, 0, 50};
  EXPECT_FALSE(centerOf(node));
  node.frame = ax::Frame{10, 20, 5, -1};
  EXPECT_FALSE(centerOf(node));
  node.frame = ax::Frame{10, 20, std::nan(""), 5};
  EXPECT_FALSE(centerOf(node));
}

}  // namespace
}  // namespace kelp::input
