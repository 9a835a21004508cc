#include "ax/lookup.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"

namespace kelp::ax {
namespace {

using platform::ActivationPolicy;
using platform::Element;
using platform::Value;

class LookupTest : public ::testing::Test {
 protected:
  std::optional<platform::Pid> pick(std::optional<std::string> name, std::optional<std::int64_t> pid = std::nullopt) {
    auto found = appElement(sim, name, pid);
    if (!found) return std::nullopt;
    EXPECT_TRUE(found->element == sim.appRoot(found->app.pid));
    return found->app.pid;
  }
  platform::sim::SimDesktop sim;
  platform::Accessibility& ax = sim.accessibility();
};

TEST_F(LookupTest, RegularApplicationsWinOverBackgroundOnesOfTheSameName) {
  sim.addApp({.pid = 1, .name = "Mail", .bundleId = "bg.mail", .policy = ActivationPolicy::accessory});
  sim.addApp({.pid = 2, .name = "Mail", .bundleId = "com.example.mail"});
  EXPECT_EQ(pick("mAIL"), 2);
}

TEST_F(LookupTest, ExactNameBeatsBundleIdWhichBeatsAFragment) {
  sim.addApp({.pid = 1, .name = "Notes Helper Extra"});
  sim.addApp({.pid = 2, .name = "Big Notes", .bundleId = "notes"});
  sim.addApp({.pid = 3, .name = "Notes"});
  sim.addApp({.pid = 4, .name = "Tools", .bundleId = "com.Example.Tools"});
  EXPECT_EQ(pick("NOTES"), 3);
  EXPECT_EQ(pick("com.example.tools"), 4);
  EXPECT_EQ(pick("note"), 1) << "the first in candidate order whose name contains it";
  EXPECT_EQ(pick("helper"), 1);
  EXPECT_EQ(pick("missing"), std::nullopt);
}

TEST_F(LookupTest, NamesCompareByFullUnicodeLowerCasingAndCanonicalEquivalence) {
  sim.addApp({.pid = 1, .name = "ÉDITEUR"});
  sim.addApp({.pid = 2, .name = "메모"});
  EXPECT_EQ(pick("e\u0301diteur"), 1);
  EXPECT_EQ(pick("\u1106\u1166\u1106\u1169"), 2) << "Hangul jamo equal the precomposed syllables";
}

TEST_F(LookupTest, PidWinsAndAnUnknownPidFindsNothing) {
  sim.addApp({.pid = 1, .name = "A"});
  sim.addApp({.pid = 2, .name = "B", .active = true});
  EXPECT_EQ(pick("A", 2), 2);
  EXPECT_EQ(pick("A", 99), std::nullopt);
  EXPECT_EQ(pick(std::nullopt), 2) << "frontmost";
  EXPECT_EQ(pick(""), 2);
  sim.apps[1].active = false;
  EXPECT_EQ(pick(std::nullopt), std::nullopt);
}

TEST_F(LookupTest, ElementAtTriesTheSystemWideHitTestThenTheFallbackApplication) {
  sim.addApp({.pid = 7, .name = "Paint"});
  Element canvas = sim.addElement(sim.appRoot(7), "AXGroup");
  Element button = sim.addElement(sim.appRoot(7), "AXButton");
  sim.addHitRegion(sim.appRoot(7), 0, 0, 100, 100, canvas);
  sim.addHitRegion(sim.accessibility().systemWide(), 50, 50, 10, 10, button);
  Element systemWide = ax.systemWide();
  EXPECT_TRUE(elementAt(sim, systemWide, {55, 55}, std::nullopt) == button);
  EXPECT_TRUE(elementAt(sim, systemWide, {5, 5}, 7) == canvas);
  EXPECT_FALSE(elementAt(sim, systemWide, {5, 5}, std::nullopt));
  EXPECT_FALSE(elementAt(sim, systemWide, {500, 5}, 7));
}

TEST_F(LookupTest, OwnerAndFocus) {
  sim.addApp({.pid = 7, .name = "Paint", .active = true});
  Element field = sim.addElement(sim.appRoot(7), "AXTextField");
  EXPECT_EQ(ownerName(sim, field), "Paint");
  EXPECT_EQ(ownerName(sim, sim.addElement(sim.appRoot(8), "AXButton")), "") << "no running application with that pid";
  EXPECT_FALSE(focusedElement(sim));
  sim.setAttr(sim.appRoot(7), "AXFocusedUIElement", "not an element");
  EXPECT_FALSE(focusedElement(sim));
  sim.setAttr(sim.appRoot(7), "AXFocusedUIElement", field);
  EXPECT_TRUE(focusedElement(sim) == field);
}

TEST_F(LookupTest, WindowTitleLooksUpElevenAncestorsThenAsksTheElement) {
  Element window = sim.addElement(sim.appRoot(7), "AXWindow", {{"AXTitle", "Doc"}});
  Element near = window;
  for (int i = 0; i < 11; ++i) near = sim.addElement(near, "AXGroup");
  EXPECT_EQ(windowTitleOf(ax, near), "Doc") << "the eleventh ancestor is still examined";
  Element far = sim.addElement(near, "AXButton");
  EXPECT_EQ(windowTitleOf(ax, far), "") << "the window is the twelfth ancestor";
  sim.setAttr(far, "AXWindow", window);
  EXPECT_EQ(windowTitleOf(ax, far), "Doc");
  EXPECT_EQ(windowTitleOf(ax, sim.addElement(sim.appRoot(7), "AXButton")), "");
}

TEST_F(LookupTest, NamedAncestorPrefersANamedInteractiveElement) {
  Element window = sim.addElement(sim.appRoot(7), "AXWindow", {{"AXTitle", "Doc"}});
  Element button = sim.addElement(window, "AXButton", {{"AXTitle", "Save"}});
  Element image = sim.addElement(button, "AXImage");
  EXPECT_TRUE(namedAncestor(ax, image) == button);
  EXPECT_TRUE(namedAncestor(ax, window) == window);

  Element plain = sim.addElement(window, "AXButton");
  Element group = sim.addElement(plain, "AXGroup", {{"AXDescription", "Tools"}});
  Element icon = sim.addElement(group, "AXImage");
  EXPECT_TRUE(namedAncestor(ax, icon) == group) << "the innermost named element when no named control";

  Element lonely = sim.addElement(sim.addElement(window, "AXGroup"), "AXImage");
  EXPECT_TRUE(namedAncestor(ax, lonely) == lonely);

  Element identified = sim.addElement(window, "AXGroup", {{"AXIdentifier", "panel"}});
  Element chain = identified;
  for (int i = 0; i < 5; ++i) chain = sim.addElement(chain, "AXGroup");
  EXPECT_TRUE(namedAncestor(ax, chain) == identified) << "the sixth examined element";
  Element further = sim.addElement(chain, "AXGroup");
  EXPECT_TRUE(namedAncestor(ax, further) == further) << "a seventh is never examined";
  EXPECT_TRUE(namedAncestor(ax, sim.appRoot(7)) == sim.appRoot(7));
}

}  // namespace
}  // namespace kelp::ax
