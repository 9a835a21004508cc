#include <gtest/gtest.h>

#include "platform/linux/gnome/shell_reply.h"

#include <string>
#include <vector>

namespace kelp::platform::linux_desktop::gnome {
namespace {

// What the extension answered for gtk3-widget-factory and a dialog of it on
// a headless GNOME Shell 43, with a menu open over them.
constexpr const char* WINDOWS = R"([
  {"id":3899944846,"title":"About","wmClass":"gtk3-widget-factory","wmInstance":"gtk3-widget-factory",
   "appId":null,"pid":10620,"frame":{"x":700,"y":300,"w":400,"h":300},"buffer":{"x":674,"y":277,"w":452,"h":352},
   "focused":true,"minimized":false,"shown":true,"stacking":1,"type":"modal_dialog","x11":false},
  {"id":3899944845,"title":"gtk3-widget-factory","wmClass":"gtk3-widget-factory","wmInstance":"gtk3-widget-factory",
   "appId":"org.gtk.WidgetFactory","pid":10620,"frame":{"x":252,"y":137,"w":1415,"h":732},
   "buffer":{"x":226,"y":114,"w":1467,"h":784},"focused":false,"minimized":false,"shown":true,"stacking":0,
   "type":"normal","x11":false},
  {"id":7,"title":null,"wmClass":null,"wmInstance":null,"appId":null,"pid":-1,
   "frame":{"x":300,"y":200,"w":100,"h":200},"buffer":{"x":300,"y":200,"w":100,"h":200},"focused":false,
   "minimized":false,"shown":true,"stacking":2,"type":"dropdown_menu","x11":false},
  {"id":8,"title":"no rectangle","pid":5,"frame":{"x":0,"y":0},"buffer":{"x":0,"y":0,"w":1,"h":1}},
  "not a window"
])";

TEST(ShellReplyTest, WindowsAreReadBottomToTopWithTheirRectanglesAndProcess) {
  const std::optional<std::vector<ShellWindow>> windows = parseShellWindows(WINDOWS);
  ASSERT_TRUE(windows);
  ASSERT_EQ(windows->size(), 3u);
  const ShellWindow& main = (*windows)[0];
  EXPECT_EQ(main.id, 3899944845u);
  EXPECT_EQ(main.title, "gtk3-widget-factory");
  EXPECT_EQ(main.appId, "org.gtk.WidgetFactory");
  EXPECT_EQ(main.pid, Pid{10620});
  EXPECT_EQ(main.frame, (RootRect{252, 137, 1415, 732}));
  EXPECT_EQ(main.buffer, (RootRect{226, 114, 1467, 784}));
  EXPECT_FALSE(main.focused);
  EXPECT_TRUE(main.shown);
  const ShellWindow& dialog = (*windows)[1];
  EXPECT_EQ(dialog.title, "About");
  EXPECT_TRUE(dialog.focused);
  EXPECT_EQ(dialog.type, "modal_dialog");
  EXPECT_FALSE(dialog.appId);
  // A process Mutter does not know has none.
  EXPECT_FALSE((*windows)[2].pid);
  EXPECT_FALSE((*windows)[2].title);
}

TEST(ShellReplyTest, WhatIsNoListIsNoAnswer) {
  for (const char* text : {"", "{}", "not json", R"({"id":1})", "42"}) {
    EXPECT_FALSE(parseShellWindows(text)) << text;
    EXPECT_FALSE(parseShellMonitors(text)) << text;
  }
  EXPECT_TRUE(parseShellWindows("[]")->empty());
}

TEST(ShellReplyTest, MonitorsKeepTheirPlacesAndTheShellsPrimary) {
  const auto monitors = parseShellMonitors(
      R"([{"x":0,"y":0,"w":1920,"h":1080,"scale":1,"primary":false},
          {"x":1920,"y":-200,"w":1280,"h":1024,"scale":2,"primary":true},
          {"x":0,"y":0,"w":0,"h":0,"primary":false}])");
  ASSERT_TRUE(monitors);
  ASSERT_EQ(monitors->size(), 2u);
  EXPECT_EQ((*monitors)[1].x, 1920);
  EXPECT_EQ((*monitors)[1].y, -200);
  EXPECT_FALSE((*monitors)[0].primary);
  EXPECT_TRUE((*monitors)[1].primary);
}

TEST(ShellReplyTest, PopupsAreNoManagedWindowsAndTypesGiveKinds) {
  struct Case {
    const char* type;
    bool managed;
    WindowKind kind;
  };
  const Case cases[] = {
      {"normal", true, WindowKind::normal},          {"dialog", true, WindowKind::normal},
      {"modal_dialog", true, WindowKind::normal},    {"utility", true, WindowKind::other},
      {"splashscreen", true, WindowKind::other},     {"dock", true, WindowKind::dock},
      {"desktop", true, WindowKind::desktop},        {"dropdown_menu", false, WindowKind::other},
      {"popup_menu", false, WindowKind::other},      {"tooltip", false, WindowKind::other},
      {"dnd", false, WindowKind::other},             {"override_other", false, WindowKind::other},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isManagedType(c.type), c.managed) << c.type;
    EXPECT_EQ(kindOfType(c.type), c.kind) << c.type;
  }
}

TEST(ShellReplyTest, AWindowIsNamedByItsGtkIdElseByItsClass) {
  const auto windows = parseShellWindows(WINDOWS);
  ASSERT_TRUE(windows);
  const ClientWindow main = clientWindowOf((*windows)[0]);
  EXPECT_EQ(main.gtkApplicationId, "org.gtk.WidgetFactory");
  EXPECT_EQ(main.wmClass, "org.gtk.WidgetFactory");
  EXPECT_EQ(main.kind, WindowKind::normal);
  const ClientWindow dialog = clientWindowOf((*windows)[1]);
  EXPECT_FALSE(dialog.gtkApplicationId);
  EXPECT_EQ(dialog.wmClass, "gtk3-widget-factory");
  EXPECT_EQ(dialog.pid, Pid{10620});
}

TEST(ShellReplyTest, TheTopWindowOfAProcessIsItsTopmostOrdinaryOne) {
  auto windows = *parseShellWindows(WINDOWS);
  EXPECT_EQ(topWindowOf(windows, 10620), WindowId{3899944846});
  EXPECT_EQ(topWindowOf(windows, 99), std::nullopt);
  // A utility window above counts only where no ordinary one is left.
  windows[1].type = "utility";
  EXPECT_EQ(topWindowOf(windows, 10620), WindowId{3899944845});
  windows[0].type = "toolbar";
  EXPECT_EQ(topWindowOf(windows, 10620), WindowId{3899944846});
}

TEST(ShellReplyTest, APlacementOfTheBufferAsksForTheFrameWithItsShadowTakenOff) {
  const ShellWindow window = (*parseShellWindows(WINDOWS))[0];
  // The shadow: 26 px left, 23 px above, 52 px wider and taller in all.
  EXPECT_EQ(frameForPlacement(window, {100, 80, 800, 600}), (RootRect{126, 103, 748, 548}));
  // What is left out stays as the frame has it.
  EXPECT_EQ(frameForPlacement(window, {100, std::nullopt, std::nullopt, std::nullopt}),
            (RootRect{126, 137, 1415, 732}));
  EXPECT_EQ(frameForPlacement(window, {std::nullopt, std::nullopt, 30, std::nullopt}), (RootRect{252, 137, 1, 732}));
  EXPECT_EQ(frameForPlacement(window, {}), std::nullopt);
}

TEST(ShellReplyTest, AMenuIsPlacedWhereThePopupOfItsSizeShows) {
  // Mousepad's File menu as Mutter placed it, and its items as GTK measured
  // them from its window: 6 px in, 31 px down, together 335 x 369.
  ShellWindow menu;
  menu.pid = 28409;
  menu.shown = true;
  menu.type = "dropdown_menu";
  menu.frame = {319, 99, 335, 369};
  menu.buffer = {313, 94, 347, 381};
  ShellWindow submenu = menu;
  submenu.frame = {654, 150, 200, 100};
  const std::vector<ShellWindow> popups = {menu, submenu};
  EXPECT_EQ(popupOriginOf(popups, 28409, {6, 31, 335, 369}), (Point{313, 68}));
  EXPECT_EQ(popupOriginOf(popups, 28409, {340, 80, 200, 100}), (Point{314, 70}));
  EXPECT_EQ(popupOriginOf(popups, 28409, {6, 31, 335, 368}), std::nullopt) << "no popup of that size";
  EXPECT_EQ(popupOriginOf(popups, 1, {6, 31, 335, 369}), std::nullopt) << "another process's";
  std::vector<ShellWindow> hidden = popups;
  hidden[0].shown = false;
  EXPECT_EQ(popupOriginOf(hidden, 28409, {6, 31, 335, 369}), std::nullopt);
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::gnome
