#include "input/activation.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"

namespace kelp::input {
namespace {

using platform::Element;

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Front", .active = true});
    sim.addApp({.pid = 200, .name = "Back"});
    window = sim.addElement(sim.appRoot(200), "AXWindow", {{"AXTitle", "doc"}});
    sim.setAttr(sim.appRoot(200), "AXWindows", platform::ValueList{window});
  }
  platform::RunningApp& back() { return sim.apps[1]; }
  platform::sim::SimDesktop sim;
  Element window;
};

TEST_F(Activation, AnActiveApplicationIsLeftAlone) {
  EXPECT_TRUE(activateFront(sim, sim.apps[0]));
  EXPECT_TRUE(sim.writes.empty());
  EXPECT_TRUE(sim.actions.empty());
  EXPECT_EQ(sim.activationRequests, 0);
}

TEST_F(Activation, RaisesTheFirstWindowAndAsksThePlatform) {
  sim.activationDelay[200] = std::nullopt;  // only the platform request could work, and it does not
  EXPECT_FALSE(activateFront(sim, back()));
  ASSERT_EQ(sim.writes.size(), 2u);
  EXPECT_EQ(sim.writes[0].first, "AXFrontmost");
  EXPECT_EQ(sim.writes[1].first, "AXMain");
  ASSERT_EQ(sim.actions.size(), 1u);
  EXPECT_TRUE(sim.actions[0].first == window);
  EXPECT_EQ(sim.actions[0].second, "AXRaise");
  EXPECT_EQ(sim.activationRequests, 2);  // the frontmost write and the request
  EXPECT_EQ(sim.nowMicros(), 1500000);   // 30 polls of 50 ms
}

TEST_F(Activation, PollsUntilALateApplicationComesForward) {
  sim.activationDelay[200] = 120000;
  EXPECT_TRUE(activateFront(sim, back()));
  EXPECT_EQ(sim.nowMicros(), 150000);
  EXPECT_FALSE(sim.apps[0].active);
}

TEST_F(Activation, NoTimeMeansNoPolling) {
  sim.activationDelay[200] = 1;
  EXPECT_FALSE(activateFront(sim, back(), 0));
  EXPECT_EQ(sim.nowMicros(), 0);
  sim.setAttr(sim.appRoot(200), "AXWindows", platform::ValueList{});
  sim.writes.clear();
  sim.actions.clear();
  EXPECT_FALSE(activateFront(sim, back(), -5));
  EXPECT_EQ(sim.writes.size(), 1u);  // only the frontmost write: no window to raise
  EXPECT_TRUE(sim.actions.empty());
}

class Launch : public ::testing::Test {
 protected:
  platform::sim::SimDesktop sim;
};

TEST_F(Launch, ABundleIdentifierWinsOverTheFolders) {
  sim.bundlePaths["com.example.notes"] = "/Volumes/x/Notes.app";
  sim.existingPaths.insert("/Applications/com.example.notes.app");
  sim.launchOutcomes["/Volumes/x/Notes.app"] = {true, 300000};
  EXPECT_TRUE(launchApp(sim, "com.example.notes"));
  EXPECT_EQ(sim.opened, std::vector<std::string>{"/Volumes/x/Notes.app"});
  EXPECT_EQ(sim.nowMicros(), 300000 + 900000);
}

TEST_F(Launch, FoldersAreSearchedInOrderWithTheHomeFolderLast) {
  sim.existingPaths = {"/home/sim/Applications/Notes.app", "/System/Applications/Utilities/Notes.app"};
  sim.launchOutcomes["/System/Applications/Utilities/Notes.app"] = {true, 0};
  EXPECT_TRUE(launchApp(sim, "Notes"));
  sim.existingPaths.erase("/System/Applications/Utilities/Notes.app");
  sim.launchOutcomes["/home/sim/Applications/Notes.app"] = {false, 0};
  EXPECT_FALSE(launchApp(sim, "Notes"));
  EXPECT_EQ(sim.opened, (std::vector<std::string>{"/System/Applications/Utilities/Notes.app",
                                                  "/home/sim/Applications/Notes.app"}));
  // The name is used as given.
  EXPECT_FALSE(launchApp(sim, "notes"));
  EXPECT_FALSE(launchApp(sim, "Notes.app"));
  EXPECT_EQ(sim.opened.size(), 2u);
}

TEST_F(Launch, NothingFoundAnswersAtOnce) {
  EXPECT_FALSE(launchApp(sim, "Nowhere"));
  EXPECT_EQ(sim.nowMicros(), 0);
  EXPECT_TRUE(sim.opened.empty());
}

TEST_F(Launch, GivesUpAfterEightSecondsAndALateAnswerChangesNothing) {
  sim.existingPaths.insert("/Applications/Slow.app");
  EXPECT_FALSE(launchApp(sim, "Slow"));
  EXPECT_EQ(sim.nowMicros(), 8000000 + 900000);
  ASSERT_EQ(sim.unansweredLaunches.size(), 1u);
  // The completion may still come; it must be safe to call.
  sim.unansweredLaunches[0](true);

  sim.launchOutcomes["/Applications/Slow.app"] = {true, 8500000};  // during the settling pause
  EXPECT_TRUE(launchApp(sim, "Slow"));
}

}  // namespace
}  // namespace kelp::input
