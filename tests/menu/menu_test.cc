#include "menu/menu.h"

#include <gtest/gtest.h>

#include "ax/attributes.h"
#include "support/command_fixture.h"
#include "support/event_trace.h"

namespace kelp {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using test::trace;

// A menu bar in the simulated desktop: bar → menu-bar items → one AXMenu
// each → items, as applications expose them.
class MenuTest : public test::CommandFixture {
 protected:
  void SetUp() override {
    sim.addApp({.pid = 100, .name = "Editor", .active = true});
    bar = sim.addElement(sim.appRoot(100), "AXMenuBar");
    sim.setAttr(sim.appRoot(100), "AXMenuBar", bar);
    file = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "File"}});
    Element fileMenu = sim.addElement(file, "AXMenu");
    sim.addElement(fileMenu, "AXMenuItem", {{"AXTitle", "New"}, {"AXMenuItemCmdChar", "N"}});
    saveAs = sim.addElement(fileMenu, "AXMenuItem", {{"AXTitle", "Save As…"}, {"AXMenuItemCmdChar", "S"}});
    sim.addElement(fileMenu, "AXMenuItem");  // a separator
    exportItem = sim.addElement(fileMenu, "AXMenuItem", {{"AXTitle", "Export"}});
    Element exportMenu = sim.addElement(exportItem, "AXMenu");
    sim.addElement(exportMenu, "AXMenuItem", {{"AXTitle", "PDF로 내보내기"}});
    sim.addElement(fileMenu, "AXMenuItem", {{"AXTitle", "Print"}, {"AXEnabled", false}});
    edit = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "edit"}});
    // The Edit menu shows its items only once it is pressed open.
    sim.onAction(edit, [this](const std::string& action) {
      if (action != "AXPress" || !ax::elementsOf(ax::attr(sim.accessibility(), edit, "AXChildren")).empty()) return;
      Element menu = sim.addElement(edit, "AXMenu");
      sim.addElement(menu, "AXMenuItem", {{"AXTitle", "Undo"}, {"AXEnabled", false}});
      sim.addElement(menu, "AXMenuItem", {{"AXTitle", "Copy"}});
    });
  }
  std::optional<Element> pick(const std::vector<std::string>& titles, std::string_view wanted) {
    std::vector<Element> items;
    for (const std::string& title : titles) items.push_back(sim.addElement(bar, "AXMenuItem", {{"AXTitle", title}}));
    return menu::pickMenu(sim.accessibility(), items, wanted);
  }
  std::string titleOf(const std::optional<Element>& element) {
    return element ? ax::label(sim.accessibility(), *element) : "(none)";
  }
  std::string pickTitle(const std::vector<std::string>& titles, std::string_view wanted) {
    return titleOf(pick(titles, wanted));
  }
  Element bar, file, saveAs, exportItem, edit;
};

TEST_F(MenuTest, ExactMatchesBeatLooseOnesAndLooseOnesForgiveDotsAndSpaces) {
  EXPECT_EQ(pickTitle({"Export to PDF", "export"}, "Export"), "export");
  EXPECT_EQ(pickTitle({"Save As…"}, "Save As..."), "Save As…");
  EXPECT_EQ(pickTitle({"Save As..."}, "save as"), "Save As...");
  EXPECT_EQ(pickTitle({"Export as PDF", "PDF로 내보내기"}, "pdf로"), "PDF로 내보내기");
  EXPECT_EQ(pickTitle({"Open Recent", "Open"}, "pen"), "Open Recent");  // first containing title
  EXPECT_EQ(pickTitle({"Zoom"}, " z "), "(none)");  // one character matches only a whole title
  EXPECT_EQ(pickTitle({"Z"}, "z"), "Z");
  EXPECT_EQ(pickTitle({"…", "...", "Anything"}, " … ... \n"), "(none)");
  EXPECT_EQ(pickTitle({"Anything"}, ""), "(none)");
}

TEST_F(MenuTest, FollowingAPathWithoutOpeningAnything) {
  menu::FollowResult result = menu::menuFollow(sim, bar, {"file", "export", "pdf"});
  EXPECT_EQ(titleOf(result.node), "PDF로 내보내기");
  EXPECT_FALSE(result.opened);
  EXPECT_FALSE(result.error);
  EXPECT_TRUE(sim.actions.empty());
  EXPECT_TRUE(menu::menuFollow(sim, bar, {}).node == bar);
  EXPECT_TRUE(menu::menuFollow(sim, bar, {"File"}).node == file);
}

TEST_F(MenuTest, AClosedLevelIsPressedOnceAndStaysReportedAsOpened) {
  const std::int64_t start = sim.nowMicros();
  menu::FollowResult result = menu::menuFollow(sim, bar, {"Edit", "Paste"});
  EXPECT_TRUE(result.opened);
  EXPECT_EQ(result.error, "「Paste」가 없어요. 여기 있는 것: Undo · Copy");
  EXPECT_EQ(sim.nowMicros() - start, 300000);
  ASSERT_EQ(sim.actions.size(), 1u);
  EXPECT_TRUE(sim.actions[0].first == edit);
}

TEST_F(MenuTest, TheNotFoundMessageListsAtMostFortyTitles) {
  menu::FollowResult result = menu::menuFollow(sim, bar, {"File", "Quit"});
  EXPECT_EQ(result.error, "「Quit」가 없어요. 여기 있는 것: New · Save As… · Export · Print");
  EXPECT_TRUE(result.node == file);

  Element many = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "Many"}});
  Element menu = sim.addElement(many, "AXMenu");
  for (int i = 0; i < 45; ++i) sim.addElement(menu, "AXMenuItem", {{"AXTitle", "i" + std::to_string(i)}});
  std::string message = *menu::menuFollow(sim, bar, {"Many", "x"}).error;
  EXPECT_NE(message.find("i38 · i39"), std::string::npos);
  EXPECT_EQ(message.find("i40"), std::string::npos);

  sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "Empty"}});
  EXPECT_EQ(menu::menuFollow(sim, bar, {"Empty", "x"}).error, "「x」가 없어요. 여기 있는 것: ");
}

TEST_F(MenuTest, ListingShowsSubmenusShortcutsAndAtMostSixtyItems) {
  EXPECT_EQ(menu::menuList(sim.accessibility(), file, false), Json::parse(R"([
      {"label":"New","enabled":true,"shortcut":"N"},
      {"label":"Save As…","enabled":true,"shortcut":"S"},
      {"label":"Export","enabled":true,"submenu":true},
      {"label":"Print","enabled":false}])"));
  EXPECT_EQ(menu::menuList(sim.accessibility(), bar, true).size(), 2u);
  // Listing presses nothing, so a closed level lists as empty.
  EXPECT_TRUE(menu::menuList(sim.accessibility(), edit, false).empty());

  Element big = sim.addElement(bar, "AXMenuBarItem", {{"AXTitle", "Big"}});
  Element menu = sim.addElement(big, "AXMenu");
  for (int i = 0; i < 75; ++i) {
    sim.addElement(menu, "AXMenuItem", {{"AXTitle", "item " + std::to_string(i)}});
    sim.addElement(menu, "AXMenuItem");
  }
  Json items = menu::menuList(sim.accessibility(), big, false);
  ASSERT_EQ(items.size(), 60u);
  EXPECT_EQ(items[59]["label"], "item 59");
}

TEST_F(MenuTest, CommandListsTheBarOrAMenu) {
  EXPECT_EQ(run(R"({"cmd":"menu","id":1,"app":"Editor"})"), Json::parse(R"({"id":1,"ok":true,"result":{
      "app":"Editor","done":false,"items":[{"label":"File","enabled":true,"submenu":true},
                                           {"label":"edit","enabled":true}]}})"));
  Json reply = run(R"({"cmd":"menu","id":2,"app":"Editor","path":["File"],"list":true})");
  EXPECT_EQ(reply["result"]["items"].size(), 4u);
  EXPECT_TRUE(sim.posted.empty());
  EXPECT_TRUE(sim.actions.empty());
}

TEST_F(MenuTest, CommandChoosesAnItemWithoutEscape) {
  const std::int64_t start = sim.nowMicros();
  EXPECT_EQ(run(R"({"cmd":"menu","id":1,"path":["File","Save As..."]})"),
            Json::parse(R"({"id":1,"ok":true,"result":{"app":"Editor","done":true,"label":"Save As…"},"error":null})"));
  EXPECT_EQ(sim.nowMicros() - start, 350000);
  ASSERT_EQ(sim.actions.size(), 1u);
  EXPECT_TRUE(sim.actions[0].first == saveAs);
  EXPECT_TRUE(sim.posted.empty());
}

// Where a press would run the item's dialog inside the call, a person's
// clicks open each level and choose the item, once each shows.
TEST_F(MenuTest, WhereAPressWouldHoldTheApplicationTheMenuIsClickedThrough) {
  sim.pressesHoldApplication.insert(100);
  sim.setAttr(file, "AXPosition", Point{0, 0});
  sim.setAttr(file, "AXSize", Size{40, 20});
  sim.setAttr(saveAs, "AXPosition", Point{0, 30});
  sim.setAttr(saveAs, "AXSize", Size{120, 20});
  // A click that lands on the item closes its menu; one beside it leaves it open.
  bool clickLands = true;
  sim.onMouse = [&](const platform::MouseEvent& event) {
    if (clickLands && event.type == platform::eventType::leftMouseUp && event.at.y >= 30) {
      sim.setAttr(saveAs, "AXSize", Size{0, 0});
    }
  };
  EXPECT_EQ(run(R"({"cmd":"menu","id":1,"path":["File","Save As…"]})")["result"]["done"], true);
  EXPECT_EQ(trace(sim).substr(0, 12), "move 20,10 |") << "the menu bar item first";
  EXPECT_NE(trace(sim).find("down#1 60,40"), std::string::npos) << trace(sim);
  EXPECT_TRUE(sim.actions.empty()) << "nothing pressed through accessibility";

  sim.posted.clear();
  sim.setAttr(saveAs, "AXSize", Size{120, 20});
  clickLands = false;
  const Json missed = run(R"({"cmd":"menu","id":4,"path":["File","Save As…"]})");
  EXPECT_EQ(missed["result"]["done"], false) << missed.dump();
  EXPECT_EQ(missed["error"], "그 메뉴를 누를 수 없어요");
  EXPECT_NE(trace(sim).find("keydown 53"), std::string::npos) << "the open menu is closed: " << trace(sim);
  EXPECT_TRUE(sim.actions.empty()) << "and not chosen a second way";
  clickLands = true;

  // Greyed out once its menu is open (LibreOffice tells it only then): the
  // menu closes again and nothing is chosen.
  sim.posted.clear();
  sim.setAttr(saveAs, "AXEnabled", false);
  EXPECT_EQ(run(R"({"cmd":"menu","id":3,"path":["File","Save As…"]})")["error"],
            "「Save As…」는 지금 쓸 수 없어요(회색으로 꺼져 있어요)");
  EXPECT_NE(trace(sim).find("keydown 53"), std::string::npos) << trace(sim);
  EXPECT_EQ(trace(sim).find("down#1 60,40"), std::string::npos) << "the item was not clicked";
  EXPECT_TRUE(sim.actions.empty());
  sim.setAttr(saveAs, "AXEnabled", true);

  // An item that never shows is pressed after all, its levels closed first.
  sim.posted.clear();
  sim.remove(saveAs);
  Element hidden = sim.addElement(ax::elementsOf(ax::attr(sim.accessibility(), file, "AXChildren")).at(0),
                                  "AXMenuItem", {{"AXTitle", "Hidden"}});
  EXPECT_EQ(run(R"({"cmd":"menu","id":2,"path":["File","Hidden"]})")["result"]["done"], true);
  EXPECT_TRUE(sim.actions.back().first == hidden);
  EXPECT_NE(trace(sim).find("keydown 53"), std::string::npos) << "Escape closed the File menu: " << trace(sim);
}

TEST_F(MenuTest, EscapeClosesOnlyWhatTheWalkOpened) {
  // Opened, then the title is missing: one Escape.
  EXPECT_EQ(run(R"({"cmd":"menu","id":1,"path":["Edit","Paste"]})")["error"],
            "「Paste」가 없어요. 여기 있는 것: Undo · Copy");
  EXPECT_EQ(trace(sim), "keydown 53 | +20 keyup 53");
  // Opened, then the item is greyed out: one Escape.
  sim.posted.clear();
  EXPECT_EQ(run(R"({"cmd":"menu","id":2,"path":["Edit","Undo"]})"),
            Json::parse(R"j({"id":2,"ok":false,"error":"「Undo」는 지금 쓸 수 없어요(회색으로 꺼져 있어요)"})j"));
  // The Edit menu stays open in the simulated desktop, so nothing was opened this time.
  EXPECT_TRUE(sim.posted.empty());
  // Not opened: a missing or greyed title presses no Escape.
  EXPECT_EQ(run(R"({"cmd":"menu","id":3,"path":["File","Print"]})")["error"],
            "「Print」는 지금 쓸 수 없어요(회색으로 꺼져 있어요)");
  EXPECT_EQ(run(R"({"cmd":"menu","id":4,"path":["Window"]})")["error"],
            "「Window」가 없어요. 여기 있는 것: File · edit");
  EXPECT_TRUE(sim.posted.empty());
}

TEST_F(MenuTest, FailedPressesAndMissingMenuBars) {
  sim.refuse(bar, "AXPress");
  EXPECT_EQ(run(R"({"cmd":"menu","id":1,"list":false})"),
            Json::parse(R"({"id":1,"ok":false,"result":{"app":"Editor","done":false,"label":""},
                            "error":"그 메뉴를 누를 수 없어요"})"));
  EXPECT_TRUE(sim.posted.empty());

  sim.addApp({.pid = 200, .name = "Agent"});
  EXPECT_EQ(run(R"({"cmd":"menu","id":2,"app":"Agent"})"),
            Json::parse(R"({"id":2,"ok":false,"error":"이 프로그램에는 위쪽 메뉴가 없어요"})"));
  EXPECT_EQ(run(R"({"cmd":"menu","id":3,"app":"Ghost"})")["error"], "그 프로그램을 찾지 못했어요");
  sim.trusted = false;
  EXPECT_EQ(run(R"({"cmd":"menu","id":4,"app":"Editor"})")["error"], "no-accessibility");
}

}  // namespace
}  // namespace kelp
