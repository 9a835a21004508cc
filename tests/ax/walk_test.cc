#include <gtest/gtest.h>

#include <algorithm>

#include "ax/node.h"
#include "platform/sim/sim_desktop.h"

namespace kelp::ax {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using platform::Value;

class WalkTest : public ::testing::Test {
 protected:
  std::vector<Node> walkFrom(const Element& start, std::int64_t max = 300) {
    return walk(sim.accessibility(), start, max);
  }
  platform::sim::SimDesktop sim;
  Element app = sim.appRoot(100);
  Element window = sim.addElement(app, "AXWindow", {{"AXTitle", "Main"}});
};

TEST_F(WalkTest, PathsCountEveryChildAndRecordsComeInDocumentOrder) {
  sim.addElement(window, "AXToolbar");
  Element group = sim.addElement(window, "AXGroup");
  sim.addElement(group, "AXImage");
  sim.addElement(group, "AXStaticText", {{"AXValue", "  "}});  // nothing to show: skipped
  Element button = sim.addElement(group, "AXButton", {{"AXIdentifier", "go"}, {"AXEnabled", false}});
  sim.addElement(button, "AXStaticText", {{"AXValue", "inside"}});
  sim.addChild(group, {});  // no role at all
  sim.addElement(sim.addChild(group, {}), "AXLink", {{"AXTitle", "more"}});

  std::vector<Node> nodes = walkFrom(app);
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].path, "/AXWindow[0]/AXGroup[1]/AXButton[2]");
  EXPECT_EQ(nodes[0].label, "") << "an unlabelled button is still recorded";
  EXPECT_EQ(nodes[0].identifier, "go");
  EXPECT_FALSE(nodes[0].enabled);
  EXPECT_TRUE(nodes[0].el == button);
  EXPECT_EQ(nodes[1].path, "/AXWindow[0]/AXGroup[1]/AXButton[2]/AXStaticText[0]");
  EXPECT_EQ(nodes[1].label, "inside");
  EXPECT_EQ(nodes[2].path, "/AXWindow[0]/AXGroup[1]/[4]/AXLink[0]");
}

TEST_F(WalkTest, ValueIsClippedWithTailAndUtf16Length) {
  std::string longText;
  for (int i = 0; i < 250; ++i) longText += (i % 2 ? "가" : "b");
  sim.addElement(window, "AXTextArea", {{"AXTitle", "Body"}, {"AXValue", longText}});
  sim.addElement(window, "AXTextArea", {{"AXTitle", "Short"}, {"AXValue", std::string(200, 'x')}});
  std::vector<Node> nodes = walkFrom(app);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].valueLen, 250);
  EXPECT_EQ(nodes[0].value, longText.substr(0, 100 * (1 + 3)));  // 200 characters: 100 "b" + 100 "가"
  EXPECT_EQ(nodes[0].valueTail, longText.substr(longText.size() - 40 * (1 + 3)));
  EXPECT_EQ(nodes[0].labelLen, 4);
  EXPECT_EQ(nodes[0].labelTail, "");
  EXPECT_EQ(nodes[1].value, std::string(200, 'x'));
  EXPECT_EQ(nodes[1].valueTail, "");
}

TEST_F(WalkTest, LabelThatIsTheValueHasNoLengthOrTail) {
  sim.addElement(window, "AXTextField", {{"AXValue", " memo "}});
  std::string longLabel(130, 'r');
  sim.addElement(window, "AXRow", {{"AXTitle", longLabel}, {"AXValue", "other"}});
  std::vector<Node> nodes = walkFrom(app);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].label, "memo");
  EXPECT_EQ(nodes[0].value, " memo ") << "values stay untrimmed";
  EXPECT_EQ(nodes[0].labelLen, 0);
  EXPECT_EQ(nodes[0].labelTail, "");
  EXPECT_EQ(nodes[1].label, std::string(120, 'r'));
  EXPECT_EQ(nodes[1].labelLen, 130);
  EXPECT_EQ(nodes[1].labelTail, std::string(80, 'r'));
}

TEST_F(WalkTest, MaxStopsTheWalkAndSmallerWalksArePrefixes) {
  for (int i = 0; i < 5; ++i) sim.addElement(sim.addElement(window, "AXGroup"), "AXButton", {{"AXTitle", "b" + std::to_string(i)}});
  EXPECT_TRUE(walkFrom(app, 0).empty());
  EXPECT_TRUE(walkFrom(app, -3).empty());
  std::vector<Node> all = walkFrom(app);
  ASSERT_EQ(all.size(), 5u);
  for (std::int64_t max = 1; max <= 5; ++max) {
    std::vector<Node> some = walkFrom(app, max);
    ASSERT_EQ(some.size(), static_cast<std::size_t>(max));
    for (std::size_t i = 0; i < some.size(); ++i) EXPECT_EQ(some[i].path, all[i].path);
  }
}

TEST_F(WalkTest, DepthLimitIsTwentyTwoBelowTheStart) {
  Element deep = window;  // depth 1
  for (int depth = 2; depth <= 21; ++depth) deep = sim.addElement(deep, "AXGroup");
  Element at22 = sim.addElement(deep, "AXButton", {{"AXTitle", "reachable"}});
  sim.addElement(at22, "AXButton", {{"AXTitle", "too deep"}});
  std::vector<Node> nodes = walkFrom(app);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].label, "reachable");
}

TEST_F(WalkTest, AnElementListingItsAncestorAsAChildStillEnds) {
  Element button = sim.addElement(window, "AXButton", {{"AXTitle", "loop"}});
  sim.setAttr(button, "AXChildren", Value(platform::ValueList{window}));
  std::vector<Node> nodes = walkFrom(app, 1000);
  EXPECT_EQ(nodes.size(), 11u) << "one button per two levels down to depth 22";
}

TEST_F(WalkTest, RecordsCarryFramesAndSurviveVanishedChildren) {
  Element gone = sim.addElement(window, "AXButton", {{"AXTitle", "gone"}});
  sim.addElement(window, "AXCheckBox", {{"AXTitle", "Wrap"}, {"AXValue", true}, {"AXPosition", Point{5, 6}}, {"AXSize", Size{7, 8}}});
  sim.remove(gone);
  std::vector<Node> nodes = walkFrom(app);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].path, "/AXWindow[0]/AXCheckBox[1]");
  EXPECT_EQ(nodes[0].value, "1");
  EXPECT_EQ(nodes[0].frame, (Frame{5, 6, 7, 8}));
}

// A backend fetches ahead what the plan names; a read the plan missed would
// cost a call per element. Only records show a label, so only they are read
// for one (the group's description is never asked).
TEST_F(WalkTest, AWalkReadsOnlyWhatItsPlanNames) {
  Element group = sim.addElement(window, "AXGroup", {{"AXDescription", "box"}});
  sim.addElement(group, "AXButton", {{"AXTitle", "OK"}, {"AXPosition", Point{1, 2}}, {"AXSize", Size{3, 4}}});
  sim.addElement(group, "AXTextField", {{"AXValue", "typed"}});
  ASSERT_EQ(walkFrom(app).size(), 2u);
  EXPECT_EQ(sim.snapshotPlan.ofEvery, walkReadPlan().ofEvery);
  const platform::ReadPlan& plan = walkReadPlan();
  auto names = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  ASSERT_FALSE(sim.snapshotReads.empty());
  for (const auto& [element, name] : sim.snapshotReads) {
    const platform::Value roleValue = sim.accessibility().copyAttribute(element, "AXRole");
    const std::string* role = roleValue.as<std::string>();
    const bool recorded = role && names(plan.recordedRoles, *role);
    EXPECT_TRUE(names(plan.ofEvery, name) ||
                (recorded && (names(plan.firstNonBlank, name) || names(plan.ofRecorded, name))))
        << name << " of " << (role ? *role : "?") << " is not in the plan";
  }
}

}  // namespace
}  // namespace kelp::ax
