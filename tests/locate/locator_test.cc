#include "locate/locator.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"

namespace kelp::locate {
namespace {

ax::Node node(std::string role, std::string label, std::string identifier = "", std::string path = "") {
  ax::Node n;
  n.role = std::move(role);
  n.label = std::move(label);
  n.identifier = std::move(identifier);
  n.path = std::move(path);
  return n;
}

Locator locator(const char* json) { return readLocator(Json::parse(json)); }

// The chosen node's path, so that a test can compare without dereferencing nothing.
std::string chosen(const std::optional<ax::Node>& node) { return node ? node->path : "<nothing>"; }

TEST(LocatorTest, ScoresAddUpPerAgreeingField) {
  ax::Node send = node("AXButton", "Send", "sendButton", "/AXWindow[0]/AXButton[1]");
  EXPECT_EQ(score(send, locator(R"({"role":"AXButton","label":"Send"})")), 75);
  EXPECT_EQ(score(send, locator(R"({"role":"AXButton","label":"Send now"})")), 42);
  EXPECT_EQ(score(send, locator(R"({"label":"Sen"})")), 22);
  EXPECT_EQ(score(send, locator(R"({"identifier":"sendButton","role":"AXButton","label":"Send","path":"/AXWindow[0]/AXButton[1]"})")), 195);
  EXPECT_EQ(score(send, locator(R"({"label":"send"})")), 0) << "case-sensitive";
  EXPECT_EQ(score(send, locator(R"({"identifier":"","label":""})")), 0);
  EXPECT_EQ(score(send, locator(R"({"role":5,"label":["Send"],"path":null})")), 0) << "wrong types are absent";
  EXPECT_EQ(score(node("AXButton", ""), locator(R"({"label":"x"})")), 0) << "an empty label is contained in nothing";
  EXPECT_EQ(score(node("AXButton", "Cafe\u0301"), locator(R"({"label":"Café"})")), 55);
}

TEST(LocatorTest, ResolvePicksTheBestAboveTheThreshold) {
  std::vector<ax::Node> nodes = {node("AXButton", "Pay later", "pay", "/pay"), node("AXButton", "OK", "", "/ok"),
                                 node("AXButton", "Cancel", "", "/cancel"), node("AXButton", "OK", "", "/x")};
  EXPECT_FALSE(resolve(nodes, locator(R"({"role":"AXButton"})")));
  EXPECT_FALSE(resolve(nodes, locator(R"({"role":"AXButton","label":"Canc"})")));
  EXPECT_FALSE(resolve({}, locator(R"({"label":"OK"})")));
  EXPECT_FALSE(resolve(nodes, locator("{}")));
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"Cancel"})"))), "/cancel");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"identifier":"pay","role":"AXButton","label":"OK"})"))), "/pay");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"role":"AXButton","label":"O","path":"/x"})"))), "/x") << "72";
  EXPECT_FALSE(resolve(nodes, locator(R"({"label":"O","path":"/ok"})"))) << "52";
}

TEST(LocatorTest, NthChoosesAmongEquallyGoodCandidates) {
  std::vector<ax::Node> nodes = {node("AXButton", "OK", "", "/a"), node("AXStaticText", "OK", "", "/b"),
                                 node("AXButton", "OK", "", "/c")};
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"OK"})"))), "/a");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"OK","nth":1})"))), "/b");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"OK","nth":2})"))), "/c");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"OK","nth":5})"))), "/a");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"OK","nth":-1})"))), "/a");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"OK","nth":"1"})"))), "/a");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"role":"AXButton","label":"OK","nth":1})"))), "/c");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"role":"AXStaticText","label":"OK","nth":1})"))), "/b")
      << "a single best node ignores nth";
}

// Pages of a dialog visited before keep hidden fields of the same names:
// among equals what shows is taken first, and "nth" counts it first too.
TEST(LocatorTest, AmongEqualsWhatShowsComesFirst) {
  std::vector<ax::Node> nodes = {node("AXTextField", "First name", "", "/hidden"),
                                 node("AXTextField", "First name", "", "/shown"),
                                 node("AXTextField", "First name", "", "/other")};
  nodes[1].frame = ax::Frame{10, 10, 100, 20};
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"role":"AXTextField","label":"First name"})"))), "/shown");
  EXPECT_EQ(chosen(resolve(nodes, locator(R"({"label":"First name","nth":1})"))), "/hidden");
}

TEST(LocatorTest, LabelsLongerThanTheClipOnlyEarnThePartialPoints) {
  std::string full(130, 'z');
  ax::Node n = node("AXButton", full.substr(0, 120));
  EXPECT_EQ(score(n, locator(Json{{"label", full}}.dump().c_str())), 22);
}

class NarrowTest : public ::testing::Test {
 protected:
  platform::Element window(const std::string& title, const std::string& buttonLabel) {
    platform::Element w = sim.addChild(app, {{"AXRole", "AXWindow"}, {"AXTitle", title}});
    sim.addChild(w, {{"AXRole", "AXButton"}, {"AXTitle", buttonLabel}});
    platform::ValueList windows;
    platform::Value current = sim.accessibility().copyAttribute(app, "AXWindows");
    if (auto* existing = current.as<platform::ValueList>()) windows = *existing;
    windows.push_back(w);
    sim.setAttr(app, "AXWindows", windows);
    return w;
  }
  std::optional<std::vector<ax::Node>> narrow(const char* json) {
    return narrowToWindow(sim.accessibility(), app, readLocator(Json::parse(json)));
  }
  static std::string firstLabel(const std::optional<std::vector<ax::Node>>& nodes) {
    return nodes && !nodes->empty() ? nodes->front().label : "<nothing>";
  }
  platform::sim::SimDesktop sim;
  platform::Element app = sim.appRoot(5);
};

TEST_F(NarrowTest, ExactTitleFirstThenEitherContainment) {
  window("Inbox — Mail", "in inbox");
  window("Mail", "in mail");
  window("Drafts", "in drafts");
  EXPECT_EQ(firstLabel(narrow(R"({"window":"Mail"})")), "in mail");
  EXPECT_EQ(firstLabel(narrow(R"({"window":"Inbox"})")), "in inbox");
  EXPECT_EQ(firstLabel(narrow(R"({"window":"My Drafts folder"})")), "in drafts");
  auto nodes = narrow(R"({"window":"Drafts"})");
  ASSERT_TRUE(nodes);
  EXPECT_EQ(nodes->at(0).path, "/AXButton[0]") << "paths start at the window";
}

TEST_F(NarrowTest, NothingMeansSearchTheWholeApplication) {
  EXPECT_FALSE(narrow(R"({"window":"Mail"})")) << "no windows";
  window("Mail", "x");
  window("", "untitled");
  EXPECT_FALSE(narrow(R"({"window":"Calendar"})"));
  EXPECT_FALSE(narrow(R"({"window":""})"));
  EXPECT_FALSE(narrow(R"({"window":3})"));
  EXPECT_FALSE(narrow(R"({"label":"x"})"));
  EXPECT_FALSE(narrowToWindow(sim.accessibility(), app, std::nullopt));
  platform::Element empty = sim.addChild(app, {{"AXRole", "AXWindow"}, {"AXTitle", "Empty"}});
  sim.setAttr(app, "AXWindows", platform::ValueList{empty});
  EXPECT_FALSE(narrow(R"({"window":"Empty"})")) << "a window with no nodes";
}

}  // namespace
}  // namespace kelp::locate
