// Menus through the real Linux backend, against mousepad's GTK 3 menu bar:
// the shape the core walks (menu bar, items, one AXMenu below each item that
// opens one), what the items tell, and choosing and opening them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ax/attributes.h"
#include "desktop/in_process/linux_fixture.h"

namespace kelp::test {
namespace {

using platform::Element;

// Escape as the core's keyboard sends it: macOS key code 53.
void pressEscape(platform::Platform& os) {
  os.events().postKey({53, true, 0, {}});
  os.events().postKey({53, false, 0, {}});
}

// A mousepad of its own for each test, ended with it; the application that
// was in front before is brought back. Without its D-Bus server a new
// mousepad never hands its window over to one that is still going away.
class Mousepad {
 public:
  Mousepad(DesktopSession& desktop, platform::Platform& os, platform::Pid returnTo)
      : desktop_(desktop),
        os_(os),
        returnTo_(returnTo),
        app_(desktop.startApplication(program({"mousepad", "--disable-server"}))) {
    std::optional<ax::AppPair> pair = ax::appElement(os, std::nullopt, app_.pid());
    if (!pair) throw std::runtime_error("mousepad is not on the accessibility bus");
    element_ = pair->element;
  }
  ~Mousepad() {
    if (app_.process->running()) app_.process->terminate();
    os_.workspace().activate(returnTo_);
    EXPECT_TRUE(eventually([&] { return os_.workspace().isActive(returnTo_); }));
  }
  Mousepad(const Mousepad&) = delete;
  Mousepad& operator=(const Mousepad&) = delete;

  const Element& element() const { return element_; }

  // Mousepad's top-level windows, as the window manager lists them.
  std::vector<std::string> windowTitles() {
    std::vector<std::string> titles;
    for (unsigned long window : desktop_.clientWindows()) {
      if (desktop_.windowPid(window) == app_.pid()) titles.push_back(desktop_.windowTitle(window));
    }
    return titles;
  }

 private:
  DesktopSession& desktop_;
  platform::Platform& os_;
  platform::Pid returnTo_;
  DesktopApp& app_;
  Element element_;
};

class MenuReads {
 public:
  explicit MenuReads(platform::Accessibility& ax) : ax_(ax) {}

  std::vector<Element> children(const Element& element) {
    return ax::elementsOf(ax::attr(ax_, element, "AXChildren"));
  }
  std::string role(const Element& element) { return ax::str(ax_, element, "AXRole"); }
  std::string title(const Element& element) { return ax::str(ax_, element, "AXTitle"); }
  std::string commandCharacter(const Element& element) { return ax::str(ax_, element, "AXMenuItemCmdChar"); }
  bool enabled(const Element& element) { return ax::boolAttr(ax_, element, "AXEnabled", true); }
  std::optional<Element> parent(const Element& element) {
    const platform::Value value = ax::attr(ax_, element, "AXParent");
    if (const Element* found = value.as<Element>()) return *found;
    return std::nullopt;
  }

  // The one AXMenu below an item that opens one.
  Element submenu(const Element& item) {
    const std::vector<Element> below = children(item);
    if (below.size() != 1 || role(below.front()) != "AXMenu")
      throw std::runtime_error("\"" + title(item) + "\" has no single AXMenu below it");
    return below.front();
  }

  std::vector<std::string> titles(const std::vector<Element>& elements) {
    std::vector<std::string> found;
    for (const Element& element : elements) found.push_back(title(element));
    return found;
  }

  Element named(const Element& menu, const std::string& wanted) {
    for (const Element& item : children(menu)) {
      if (title(item) == wanted) return item;
    }
    throw std::runtime_error("no \"" + wanted + "\" in the menu");
  }

  Element menuBar(const Element& application) {
    const platform::Value value = ax::attr(ax_, application, "AXMenuBar");
    if (const Element* bar = value.as<Element>()) return *bar;
    throw std::runtime_error("no menu bar");
  }

 private:
  platform::Accessibility& ax_;
};

TEST_F(CoreOnLinuxDesktop, EachMenuBarItemHoldsOneMenuWhoseItemsLeadBackUp) {
  Mousepad mousepad(desktop(), os(), app().pid());
  MenuReads menus(ax());
  const Element bar = menus.menuBar(mousepad.element());
  EXPECT_EQ(menus.role(bar), "AXMenuBar");
  const std::vector<Element> items = menus.children(bar);
  EXPECT_EQ(menus.titles(items),
            (std::vector<std::string>{"File", "Edit", "Search", "View", "Document", "Help"}));

  for (const Element& item : items) {
    SCOPED_TRACE(menus.title(item));
    EXPECT_EQ(menus.role(item), "AXMenuBarItem");
    EXPECT_EQ(menus.commandCharacter(item), "") << "Alt+F opens it, but that is a mnemonic";
    const Element menu = menus.submenu(item);
    EXPECT_FALSE(menu == item) << "the menu is an element of its own";
    EXPECT_TRUE(menus.submenu(item) == menu) << "and the same one every time it is read";
    EXPECT_EQ(menus.parent(menu), item);
    EXPECT_EQ(menus.title(menu), "");
    EXPECT_EQ(ax::attr(ax(), menu, "AXWindow"), ax::attr(ax(), item, "AXWindow"));
    const std::vector<Element> entries = menus.children(menu);
    ASSERT_FALSE(entries.empty()) << "GTK lists the items of closed menus";
    for (const Element& entry : entries) EXPECT_EQ(menus.parent(entry), menu) << menus.title(entry);
    EXPECT_FALSE(ax().performAction(menu, "AXPress")) << "the item is what opens it";
    EXPECT_FALSE(ax().setAttribute(menu, "AXFocused", true));
  }
  EXPECT_EQ(menus.parent(items.front()), bar);
}

TEST_F(CoreOnLinuxDesktop, MenuItemsTellTheirTitleStateShortcutAndSubmenu) {
  Mousepad mousepad(desktop(), os(), app().pid());
  MenuReads menus(ax());
  const std::vector<Element> bar = menus.children(menus.menuBar(mousepad.element()));
  ASSERT_FALSE(bar.empty());
  const Element file = menus.submenu(bar.front());

  struct Expected {
    std::string title;
    bool enabled;
    std::string key;
    bool submenu;
  };
  // Mousepad greys out what an untouched new document cannot do.
  const std::vector<Expected> expected = {
      {"New", true, "N", false},
      {"New Window", true, "N", false},
      {"New From Template", true, "", true},
      {"Open...", true, "O", false},
      {"Open Recent", true, "", true},
      {"Save", true, "S", false},
      {"Save As...", true, "S", false},
      {"Save All", true, "", false},
      {"Reload", false, "", false},
      {"Print...", true, "P", false},
      {"Detach Tab", false, "D", false},
      {"Close Tab", true, "W", false},
      {"Close Window", true, "W", false},
      {"Quit", true, "Q", false},
  };
  std::vector<Expected> found;
  int separators = 0;
  for (const Element& entry : menus.children(file)) {
    if (menus.role(entry) != "AXMenuItem") {
      EXPECT_EQ(menus.title(entry), "") << "what is no item has no title to choose it by";
      ++separators;
      continue;
    }
    const std::vector<Element> below = menus.children(entry);
    found.push_back(
        {menus.title(entry), menus.enabled(entry), menus.commandCharacter(entry), !below.empty()});
    if (!below.empty()) {
      EXPECT_EQ(menus.role(below.front()), "AXMenu");
    }
  }
  EXPECT_EQ(separators, 5);
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(expected[i].title);
    EXPECT_EQ(found[i].title, expected[i].title);
    EXPECT_EQ(found[i].enabled, expected[i].enabled);
    EXPECT_EQ(found[i].key, expected[i].key);
    EXPECT_EQ(found[i].submenu, expected[i].submenu);
  }

  // A greyed item still tells its shortcut; a submenu's items are a level
  // further down.
  const Element undo = menus.named(menus.submenu(bar[1]), "Undo");
  EXPECT_FALSE(menus.enabled(undo));
  EXPECT_EQ(menus.commandCharacter(undo), "Z");
  const Element recent = menus.submenu(menus.named(file, "Open Recent"));
  EXPECT_EQ(menus.titles(menus.children(recent)), std::vector<std::string>{"Clear History"});
  const Element view = menus.submenu(bar[3]);
  EXPECT_EQ(menus.commandCharacter(menus.named(view, "Fullscreen")), "F11");
}

TEST_F(CoreOnLinuxDesktop, AWalkGoesThroughTheMenusAsSingleReadsDo) {
  Mousepad mousepad(desktop(), os(), app().pid());
  const std::vector<ax::Node> nodes = walk(mousepad.element(), 2000);
  const std::vector<const ax::Node*> saveAs = nodesWith(nodes, "AXMenuItem", "Save As...");
  ASSERT_EQ(saveAs.size(), 1u);
  EXPECT_NE(saveAs.front()->path.find("/AXMenuBar[0]/AXMenuBarItem[0]/AXMenu[0]/AXMenuItem[8]"),
            std::string::npos)
      << saveAs.front()->path;
  EXPECT_FALSE(saveAs.front()->frame) << "a closed menu's items are nowhere";
  const std::vector<const ax::Node*> clear = nodesWith(nodes, "AXMenuItem", "Clear History");
  ASSERT_EQ(clear.size(), 1u);
  EXPECT_NE(clear.front()->path.find("/AXMenuItem[5]/AXMenu[0]/AXMenuItem[0]"), std::string::npos)
      << clear.front()->path;
  for (const ax::Node& node : nodes) {
    if (node.role != "AXMenuItem") continue;
    SCOPED_TRACE(node.path);
    EXPECT_EQ(ax::str(ax(), node.el, "AXRole"), node.role);
    EXPECT_EQ(ax::label(ax(), node.el), node.label);
    EXPECT_EQ(ax::boolAttr(ax(), node.el, "AXEnabled", true), node.enabled);
  }
}

TEST_F(CoreOnLinuxDesktop, PressingAMenuBarItemOpensItsMenuAndEscapeClosesIt) {
  Mousepad mousepad(desktop(), os(), app().pid());
  MenuReads menus(ax());
  const Element file = menus.children(menus.menuBar(mousepad.element())).front();
  const Element save = menus.named(menus.submenu(file), "Save");
  ASSERT_FALSE(ax::frameOf(ax(), save));
  ASSERT_TRUE(ax().performAction(file, "AXPress"));
  EXPECT_TRUE(eventually([&] { return ax::frameOf(ax(), save).has_value(); })) << "the menu opens";
  pressEscape(os());
  EXPECT_TRUE(eventually([&] { return !ax::frameOf(ax(), save).has_value(); })) << "and closes again";
  EXPECT_EQ(mousepad.windowTitles().size(), 1u) << "nothing was chosen";
}

TEST_F(CoreOnLinuxDesktop, ChoosingAnItemOfAClosedMenuCarriesItOut) {
  Mousepad mousepad(desktop(), os(), app().pid());
  MenuReads menus(ax());
  const std::vector<Element> bar = menus.children(menus.menuBar(mousepad.element()));
  const Element saveAs = menus.named(menus.submenu(bar.front()), "Save As...");
  ASSERT_EQ(mousepad.windowTitles().size(), 1u);
  ASSERT_TRUE(ax().performAction(saveAs, "AXPress"));
  const auto dialogShown = [&] {
    const std::vector<std::string> titles = mousepad.windowTitles();
    return std::find(titles.begin(), titles.end(), "Save As") != titles.end();
  };
  EXPECT_TRUE(eventually(dialogShown)) << "the save dialog opens";
  EXPECT_TRUE(eventually([&] {
    for (const Element& window : ax::elementsOf(ax::attr(ax(), mousepad.element(), "AXWindows"))) {
      if (ax::str(ax(), window, "AXTitle") == "Save As") return true;
    }
    return false;
  })) << "and is among the application's windows";
  // The item's action goes on inside mousepad until the dialog closes, and
  // keys must reach the dialog all the same. They go to the active window,
  // which the dialog becomes a little later.
  ASSERT_TRUE(eventually([&] {
    const std::optional<unsigned long> active = desktop().activeWindow();
    return active && desktop().windowTitle(*active) == "Save As";
  }));
  pressEscape(os());
  EXPECT_TRUE(eventually([&] { return !dialogShown(); })) << "Escape cancels it";

  // An item two levels down, in menus that were never opened: Edit,
  // Convert, To Uppercase.
  const std::vector<ax::Node> nodes = walk(mousepad.element(), 2000);
  const std::vector<const ax::Node*> documents = nodesWith(nodes, "AXTextArea", "");
  ASSERT_EQ(documents.size(), 1u);
  const Element document = documents.front()->el;
  const Element edit = menus.submenu(bar[1]);
  ASSERT_TRUE(ax().setAttribute(document, "AXValue", "chosen from a menu"));
  ASSERT_TRUE(eventually([&] { return ax::str(ax(), document, "AXValue") == "chosen from a menu"; }));
  EXPECT_TRUE(eventually([&] { return menus.enabled(menus.named(edit, "Undo")); })) << "the state is live";
  ASSERT_TRUE(ax().performAction(menus.named(edit, "Select All"), "AXPress"));
  ASSERT_TRUE(ax().performAction(menus.named(menus.submenu(menus.named(edit, "Convert")), "To Uppercase"),
                                 "AXPress"));
  EXPECT_TRUE(eventually([&] { return ax::str(ax(), document, "AXValue") == "CHOSEN FROM A MENU"; }));

  EXPECT_FALSE(ax().performAction(menus.named(edit, "Redo"), "AXPress")) << "a greyed item cannot be chosen";
}

}  // namespace
}  // namespace kelp::test
