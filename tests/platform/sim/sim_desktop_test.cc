#include "platform/sim/sim_desktop.h"

#include <gtest/gtest.h>

#include <thread>

namespace kelp::platform::sim {
namespace {

TEST(SimDesktopTest, SleepsAdvanceVirtualTimeAndTimersFireInDueOrder) {
  SimDesktop sim;
  std::vector<std::pair<int, std::int64_t>> fired;
  RunLoop& loop = sim.runLoop();
  loop.addTimer(300, [&] { fired.emplace_back(3, sim.nowMicros()); });
  auto cancelled = loop.addTimer(200, [&] { fired.emplace_back(2, sim.nowMicros()); });
  loop.addTimer(100, [&] { fired.emplace_back(1, sim.nowMicros()); });
  loop.cancelTimer(cancelled);

  sim.runPending();
  EXPECT_TRUE(fired.empty()) << "nothing is due before time passes";
  sim.clock().sleepMicros(150);
  sim.runPending();
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0], std::make_pair(1, std::int64_t{150}));

  // Run until idle, then stop from a timer: idle time jumps to the next due timer.
  loop.addTimer(1000, [&] { loop.stop(); });
  loop.run();
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_EQ(fired[1], std::make_pair(3, std::int64_t{300}));
  EXPECT_EQ(sim.nowMicros(), 1150);
}

TEST(SimDesktopTest, RunSyncFromAnotherThreadRunsOnTheLoopThreadAndWaits) {
  SimDesktop sim;
  std::thread::id ranOn;
  bool finished = false;
  std::thread other([&] {
    sim.runLoop().runSync([&] { ranOn = std::this_thread::get_id(); });
    finished = true;
    sim.runLoop().stop();
  });
  sim.runLoop().run();
  other.join();
  EXPECT_TRUE(finished);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(SimDesktopTest, VanishedElementsReadAsNothing) {
  SimDesktop sim;
  Accessibility& ax = sim.accessibility();
  Element button = sim.makeElement(100);
  sim.setAttr(button, "AXRole", "AXButton");
  sim.setAttr(button, "AXSize", Size{20, 10});
  EXPECT_EQ(ax.copyAttribute(button, "AXRole"), Value("AXButton"));
  EXPECT_EQ(ax.pidOf(button), 100);
  EXPECT_TRUE(ax.applicationElement(100) == ax.applicationElement(100));
  EXPECT_FALSE(ax.applicationElement(100) == button);

  sim.remove(button);
  EXPECT_TRUE(ax.copyAttribute(button, "AXRole").isNone());
  EXPECT_FALSE(ax.pidOf(button));
  EXPECT_FALSE(ax.performAction(button, "AXPress"));
  EXPECT_TRUE(ax.copyAttribute(Element(), "AXRole").isNone());
}

TEST(SimDesktopTest, PostedEventsAreStampedWithVirtualTime) {
  SimDesktop sim;
  sim.events().postKey({.keyCode = 36, .down = true});
  sim.clock().sleepMicros(20000);
  sim.events().postKey({.keyCode = 36, .down = false});
  ASSERT_EQ(sim.posted.size(), 2u);
  EXPECT_EQ(sim.posted[1].atMicros - sim.posted[0].atMicros, 20000);
  EXPECT_FALSE(sim.posted[1].key.down);
}

TEST(SimDesktopTest, WhatFallsDueWhileATimerWaitsHappensBeforeItFires) {
  SimDesktop sim;
  sim.addApp({.pid = 100, .name = "Late"});
  sim.activationDelay[100] = 100000;
  sim.launchOutcomes["/Applications/Late.app"] = {.ok = true, .micros = 150000};
  bool launched = false;
  sim.workspace().activate(100);
  sim.workspace().openApplication("/Applications/Late.app", [&](bool ok) { launched = ok; });
  bool activeWhenFired = false;
  bool launchedWhenFired = false;
  sim.runLoop().addTimer(200000, [&] {
    activeWhenFired = sim.workspace().isActive(100);
    launchedWhenFired = launched;
    sim.runLoop().stop();
  });
  sim.runLoop().run();
  EXPECT_EQ(sim.nowMicros(), 200000);
  EXPECT_TRUE(activeWhenFired);
  EXPECT_TRUE(launchedWhenFired);
}

TEST(SimDesktopTest, TheEventTapDeliversOnlyTheTypesOfItsMask) {
  SimDesktop sim;
  std::vector<int> seen;
  const std::uint64_t mask = (1u << eventType::leftMouseDown) | (1u << eventType::keyDown);
  ASSERT_TRUE(sim.eventTap().start(mask, [&](const TappedEvent& event) { seen.push_back(event.type); }));
  EXPECT_TRUE(sim.deliverTapEvent({.type = eventType::leftMouseDown}));
  EXPECT_FALSE(sim.deliverTapEvent({.type = eventType::scrollWheel}));
  EXPECT_FALSE(sim.deliverTapEvent({.type = 99}));
  EXPECT_TRUE(sim.deliverTapEvent({.type = eventType::keyDown}));
  sim.eventTap().stop();
  EXPECT_FALSE(sim.deliverTapEvent({.type = eventType::keyDown}));
  EXPECT_EQ(seen, (std::vector<int>{eventType::leftMouseDown, eventType::keyDown}));
}

}  // namespace
}  // namespace kelp::platform::sim
