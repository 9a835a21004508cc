#include "ax/attributes.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"

namespace kelp::ax {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using platform::Value;
using platform::ValueList;

class AttributesTest : public ::testing::Test {
 protected:
  Element element(std::vector<std::pair<std::string, Value>> attributes) {
    return sim.addChild(sim.appRoot(100), std::move(attributes));
  }
  platform::sim::SimDesktop sim;
  platform::Accessibility& ax = sim.accessibility();
};

TEST_F(AttributesTest, StrGivesTextAndNumbersInTheirStandardForm) {
  Element e = element({{"AXTitle", "  Send  "},
                       {"AXValue", true},
                       {"AXMinValue", 50.0},
                       {"AXMaxValue", 0.5},
                       {"AXIndex", 12},
                       {"AXParentish", Value(ValueList{})},
                       {"AXPoint", Point{1, 2}}});
  EXPECT_EQ(str(ax, e, "AXTitle"), "  Send  ") << "no trimming";
  EXPECT_EQ(str(ax, e, "AXValue"), "1");
  EXPECT_EQ(str(ax, e, "AXMinValue"), "50");
  EXPECT_EQ(str(ax, e, "AXMaxValue"), "0.5");
  EXPECT_EQ(str(ax, e, "AXIndex"), "12");
  EXPECT_EQ(str(ax, e, "AXParentish"), "");
  EXPECT_EQ(str(ax, e, "AXPoint"), "");
  EXPECT_EQ(str(ax, e, "AXParent"), "") << "an element reads as no text";
  EXPECT_EQ(str(ax, e, "AXMissing"), "");
}

TEST_F(AttributesTest, BoolAttrFallsBackForAnythingButABoolean) {
  Element e = element({{"AXEnabled", false}, {"AXFocused", "yes"}, {"AXSelected", 1}});
  EXPECT_FALSE(boolAttr(ax, e, "AXEnabled"));
  EXPECT_TRUE(boolAttr(ax, e, "AXFocused"));
  EXPECT_FALSE(boolAttr(ax, e, "AXFocused", false));
  EXPECT_TRUE(boolAttr(ax, e, "AXSelected")) << "a number is not a boolean";
  EXPECT_TRUE(boolAttr(ax, e, "AXMissing"));
}

TEST_F(AttributesTest, FrameNeedsBothPositionAndSize) {
  EXPECT_EQ(frameOf(ax, element({{"AXPosition", Point{10, 20}}, {"AXSize", Size{30, 40}}})), (Frame{10, 20, 30, 40}));
  EXPECT_FALSE(frameOf(ax, element({{"AXPosition", Point{10, 20}}})));
  EXPECT_FALSE(frameOf(ax, element({{"AXSize", Size{30, 40}}})));
  // Geometry of the other kind reads as zeros; something else gives no frame.
  EXPECT_EQ(frameOf(ax, element({{"AXPosition", Size{5, 6}}, {"AXSize", Size{30, 40}}})), (Frame{0, 0, 30, 40}));
  EXPECT_FALSE(frameOf(ax, element({{"AXPosition", "10,20"}, {"AXSize", Size{30, 40}}})));
  EXPECT_EQ(frameOf(ax, element({{"AXPosition", Point{0, 0}}, {"AXSize", Size{0, 0}}})), (Frame{0, 0, 0, 0}));
}

TEST_F(AttributesTest, LabelTakesTheFirstNonBlankNameThenTheValue) {
  EXPECT_EQ(labelFull(ax, element({{"AXTitle", " \n "}, {"AXDescription", "Send"}, {"AXHelp", "h"}})), "Send");
  EXPECT_EQ(labelFull(ax, element({{"AXPlaceholderValue", "Search"}, {"AXHelp", "h"}})), "Search");
  EXPECT_EQ(labelFull(ax, element({{"AXHelp", " tip "}, {"AXValue", "v"}})), "tip");
  EXPECT_EQ(labelFull(ax, element({{"AXValue", "  hello  "}})), "hello");
  EXPECT_EQ(labelFull(ax, element({{"AXValue", 1}})), "1");
  EXPECT_EQ(labelFull(ax, element({})), "");
}

TEST_F(AttributesTest, LabelIsClippedInUserPerceivedCharacters) {
  std::string title(150, 'a');
  Element e = element({{"AXTitle", title}});
  EXPECT_EQ(labelFull(ax, e), title);
  EXPECT_EQ(label(ax, e), std::string(120, 'a'));
  EXPECT_EQ(label(ax, element({{"AXTitle", std::string(120, 'b')}})), std::string(120, 'b'));

  std::string emoji;
  for (int i = 0; i < 130; ++i) emoji += "👋🏿";
  std::string clipped;
  for (int i = 0; i < 120; ++i) clipped += "👋🏿";
  EXPECT_EQ(label(ax, element({{"AXTitle", emoji}})), clipped);
}

TEST_F(AttributesTest, VanishedElementsReadAsAbsence) {
  Element e = element({{"AXTitle", "x"}, {"AXEnabled", false}, {"AXPosition", Point{}}, {"AXSize", Size{}}});
  sim.remove(e);
  EXPECT_EQ(labelFull(ax, e), "");
  EXPECT_TRUE(boolAttr(ax, e, "AXEnabled"));
  EXPECT_FALSE(frameOf(ax, e));
  EXPECT_TRUE(attr(ax, Element(), "AXRole").isNone());
}

TEST_F(AttributesTest, ElementListsHoldOnlyElements) {
  Element a = element({});
  EXPECT_EQ(elementsOf(Value(ValueList{a, a})).size(), 2u);
  EXPECT_TRUE(elementsOf(Value(ValueList{a, "b"})).empty());
  EXPECT_TRUE(elementsOf(Value(a)).empty());
}

}  // namespace
}  // namespace kelp::ax
