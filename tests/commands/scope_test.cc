// "tree", "find" and "act" on one window, with or without closed menus, and
// an "act" whose "appeared" compares the same window before and after.
#include <gtest/gtest.h>

#include "common/messages.h"
#include "support/command_fixture.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using platform::ValueList;

class ScopeTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 300, .name = "Writer", .active = true});
    main = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Untitled 1 - Writer"}});
    Element bar = sim.addElement(main, "AXMenuBar");
    Element file = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "File"}});
    Element menu = sim.addElement(file, "AXMenu");
    for (const char* item : {"New", "Open…", "Save"}) sim.addElement(menu, "AXMenuItem", {{"AXTitle", item}});
    sim.addElement(main, "AXButton", {{"AXTitle", "Bold"}, {"AXPosition", Point{0, 40}}, {"AXSize", Size{20, 20}}});
    dialog = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Options - Writer"}});
    ok = sim.addElement(dialog, "AXButton", {{"AXTitle", "OK"}, {"AXPosition", Point{300, 400}}, {"AXSize", Size{60, 20}}});
    sim.setAttr(sim.appRoot(300), "AXWindows", ValueList{main, dialog});
  }
  static std::vector<std::string> labels(const Json& reply) {
    std::vector<std::string> list;
    for (const Json& element : reply["result"]["elements"]) list.push_back(element["label"].get<std::string>());
    return list;
  }
  Element main, dialog, ok;
};

TEST_F(ScopeTest, TheWindowInFrontIsTheFocusedOneElseTheLastOpened) {
  using List = std::vector<std::string>;
  EXPECT_EQ(labels(run(R"({"cmd":"tree","id":1,"window":"front"})")), (List{"OK"}));
  sim.setAttr(sim.appRoot(300), "AXFocusedWindow", main);
  EXPECT_EQ(labels(run(R"({"cmd":"tree","id":2,"window":"front"})")), (List{"New", "Open…", "Save", "Bold"}));
  // Closed menus are left out on request; an open one stays.
  EXPECT_EQ(labels(run(R"({"cmd":"tree","id":3,"window":"front","menus":false})")), (List{"Bold"}));
  // A title, or a part of one; paths count from the application as always.
  Json byTitle = run(R"({"cmd":"tree","id":4,"window":"Options"})");
  EXPECT_EQ(labels(byTitle), (List{"OK"}));
  EXPECT_EQ(byTitle["result"]["elements"][0]["path"], "/AXWindow[1]/AXButton[0]");
  // A window that is not there: nothing, and a hint that says so.
  Json missing = run(R"({"cmd":"find","id":5,"window":"Print"})");
  EXPECT_TRUE(missing["result"]["elements"].empty());
  EXPECT_EQ(missing["result"]["hint"], messages::noSuchWindowHint);
  // Without the fields, the whole application as before.
  EXPECT_EQ(labels(run(R"({"cmd":"tree","id":6})")).size(), 5u);
}

TEST_F(ScopeTest, ARefOfAWindowsTreeIsTheSameElementInAnActOfThatWindow) {
  Json tree = run(R"({"cmd":"tree","id":1,"window":"Options","menus":false})");
  ASSERT_EQ(tree["result"]["elements"][0]["ref"], 0);
  Json acted = run(R"({"cmd":"act","id":2,"window":"Options","menus":false,"ref":0})");
  EXPECT_EQ(acted["result"]["label"], "OK");
  EXPECT_EQ(sim.actions.back().first, ok);
  EXPECT_EQ(run(R"({"cmd":"act","id":3,"window":"Print","ref":0})")["result"], Json::parse(R"({"found":false})"));
}

TEST_F(ScopeTest, AppearedComparesTheSameWindowBeforeAndAfter) {
  // The locator's window before, the same window after: the main window's
  // menu items did not appear.
  sim.onAction(ok, [&](const std::string&) { sim.addElement(dialog, "AXButton", {{"AXTitle", "Apply"}}); });
  Json reply = run(R"({"cmd":"act","id":1,"locator":{"label":"OK","window":"Options"}})");
  EXPECT_EQ(reply["result"]["appeared"], Json::parse(R"([{"ref":1,"role":"AXButton","label":"Apply"}])"));
  // A named window that closed shows nothing as appeared.
  sim.onAction(ok, [&](const std::string&) { sim.remove(dialog); });
  reply = run(R"({"cmd":"act","id":2,"window":"Options","ref":0})");
  EXPECT_TRUE(reply["ok"]);
  EXPECT_FALSE(reply["result"].contains("appeared"));
  // The window in front is whichever is in front: once the dialog closes,
  // what the main window shows has come to the front.
  Element next = sim.addElement(sim.appRoot(300), "AXWindow", {{"AXTitle", "Options - Writer"}});
  Element close = sim.addElement(next, "AXButton", {{"AXTitle", "Close"}});
  sim.setAttr(sim.appRoot(300), "AXWindows", ValueList{main, next});
  sim.onAction(close, [&](const std::string&) { sim.setAttr(sim.appRoot(300), "AXWindows", ValueList{main}); });
  reply = run(R"({"cmd":"act","id":3,"window":"front","menus":false,"ref":0})");
  EXPECT_EQ(reply["result"]["label"], "Close");
  EXPECT_EQ(reply["result"]["appeared"], Json::parse(R"([{"ref":0,"role":"AXButton","label":"Bold"}])"));
}

}  // namespace
}  // namespace kelp
