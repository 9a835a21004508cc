#include "platform/linux/rules.h"

#include <gtest/gtest.h>

namespace kelp::platform::linux_desktop {
namespace {

TEST(SessionBusAddressTest, NeverHandsOnAnAddressThatWouldSpawnABus) {
  EXPECT_EQ(sessionBusAddress("unix:path=/run/user/1/bus", std::nullopt, false), "unix:path=/run/user/1/bus");
  EXPECT_EQ(sessionBusAddress("autolaunch:;unix:path=/tmp/b", std::nullopt, false), "unix:path=/tmp/b");
  EXPECT_EQ(sessionBusAddress("autolaunch:", "/run/user/1", true), std::nullopt)
      << "an explicit address wins, even when all of it is dropped";
  EXPECT_EQ(sessionBusAddress(std::nullopt, "/run/user/1", false), std::nullopt);
  EXPECT_EQ(sessionBusAddress("", "/run/user/1", true), "unix:path=/run/user/1/bus");
  EXPECT_EQ(sessionBusAddress(std::nullopt, "/tmp/my dir;x", true), "unix:path=/tmp/my%20dir%3bx/bus");
  EXPECT_EQ(sessionBusAddress(std::nullopt, std::nullopt, true), std::nullopt);
}

TEST(ScreensFromMonitorsTest, ConvertsToLowerLeftOriginOfThePrimaryMonitor) {
  // X: primary 1920x1080 at (1280, 0); a 1280x1024 monitor to its left, lower edge 200 px further down.
  std::vector<Screen> screens = screensFromMonitors({{1280, 0, 1920, 1080, true}, {0, 256, 1280, 1024, false}});
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].x, 0);
  EXPECT_EQ(screens[0].y, 0);
  EXPECT_EQ(screens[0].w, 1920);
  EXPECT_EQ(screens[0].h, 1080);
  EXPECT_TRUE(screens[0].main);
  EXPECT_EQ(screens[1].x, -1280);
  EXPECT_EQ(screens[1].y, -200) << "its bottom lies 200 px below the primary's";
  EXPECT_FALSE(screens[1].main);

  std::vector<Screen> above = screensFromMonitors({{0, 1080, 1920, 1080, false}, {0, 0, 1920, 1080, true}});
  EXPECT_EQ(above[0].y, -1080);
  EXPECT_EQ(above[1].y, 0);
  EXPECT_TRUE(above[1].main);
  EXPECT_FALSE(above[0].main);
}

TEST(ScreensFromMonitorsTest, WithoutAPrimaryTheFirstMonitorIsTheReference) {
  std::vector<Screen> screens = screensFromMonitors({{100, 50, 800, 600, false}, {900, 50, 800, 600, false}});
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_TRUE(screens[0].main);
  EXPECT_FALSE(screens[1].main);
  EXPECT_EQ(screens[1].x, 800);
  EXPECT_EQ(screens[1].y, 0);
  EXPECT_TRUE(screensFromMonitors({}).empty());
}

TEST(WindowKindTest, FirstKnownTypeDecidesAndUnknownMeansNormal) {
  EXPECT_EQ(windowKind({}), WindowKind::normal);
  EXPECT_EQ(windowKind({"_KDE_NET_WM_WINDOW_TYPE_OVERRIDE", "_NET_WM_WINDOW_TYPE_DIALOG"}), WindowKind::normal);
  EXPECT_EQ(windowKind({"_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_WINDOW_TYPE_NORMAL"}), WindowKind::dock);
  EXPECT_EQ(windowKind({"_NET_WM_WINDOW_TYPE_DESKTOP"}), WindowKind::desktop);
  EXPECT_EQ(windowKind({"_NET_WM_WINDOW_TYPE_TOOLTIP"}), WindowKind::other);
  EXPECT_EQ(windowLayer(WindowKind::normal), 0);
  EXPECT_GT(windowLayer(WindowKind::dock), 0);
  EXPECT_GT(windowLayer(WindowKind::other), 0);
}

TEST(RunningAppsTest, WindowOwnersMergeByProcessInFirstWindowOrder) {
  std::vector<ClientWindow> clients = {
      {1, 30, "factory", "Gtk3-widget-factory", "org.gtk.WidgetFactory", WindowKind::other},
      {2, std::nullopt, "ghost", "Ghost", std::nullopt, WindowKind::normal},
      {3, 20, "mousepad", "Mousepad", std::nullopt, WindowKind::normal},
      {4, 30, std::nullopt, std::nullopt, std::nullopt, WindowKind::normal},
      {5, 40, "panel", "Panel", std::nullopt, WindowKind::dock},
  };
  std::vector<WindowOwner> owners = windowOwners(clients);
  ASSERT_EQ(owners.size(), 3u);
  EXPECT_EQ(owners[0].pid, 30);
  EXPECT_TRUE(owners[0].ownsRegularWindow) << "its second window is normal";
  EXPECT_EQ(owners[0].wmClass, "Gtk3-widget-factory");
  EXPECT_EQ(owners[1].pid, 20);
  EXPECT_FALSE(owners[2].ownsRegularWindow);

  EXPECT_EQ(desktopEntryCandidates(owners[0]),
            (std::vector<std::string>{"org.gtk.WidgetFactory.desktop", "factory.desktop",
                                      "Gtk3-widget-factory.desktop", "gtk3-widget-factory.desktop"}));
  EXPECT_EQ(desktopEntryCandidates(owners[1]),
            (std::vector<std::string>{"mousepad.desktop", "Mousepad.desktop"}));

  std::vector<RunningApp> apps = mergeRunningApps(
      owners, {"gtk3-widget-factory", std::nullopt, std::nullopt},
      {{20, "Mousepad Editor"}, {30, ""}, {50, "portal"}, {50, "twice"}, {0, "nobody"}}, 20);
  ASSERT_EQ(apps.size(), 4u);
  EXPECT_EQ(apps[0].name, "Gtk3-widget-factory") << "an empty accessible name falls back to the class";
  EXPECT_EQ(apps[0].bundleId, "gtk3-widget-factory");
  EXPECT_EQ(apps[0].policy, ActivationPolicy::regular);
  EXPECT_EQ(apps[1].name, "Mousepad Editor");
  EXPECT_TRUE(apps[1].active);
  EXPECT_EQ(apps[2].policy, ActivationPolicy::accessory) << "a dock is no ordinary application";
  EXPECT_EQ(apps[3].pid, 50);
  EXPECT_EQ(apps[3].name, "portal");
  EXPECT_EQ(apps[3].policy, ActivationPolicy::accessory) << "no window at all";
  EXPECT_FALSE(apps[3].active);
}

TEST(RunningAppsTest, BundleIdPrefersTheDesktopEntry) {
  WindowOwner owner;
  owner.wmClass = "Mousepad";
  EXPECT_EQ(bundleIdFor(owner, "org.xfce.mousepad"), "org.xfce.mousepad");
  EXPECT_EQ(bundleIdFor(owner, std::nullopt), "Mousepad");
  EXPECT_EQ(bundleIdFor(WindowOwner{}, std::nullopt), std::nullopt);
}

TEST(RunningAppsTest, AnApplicationTooBusyToAnswerKeepsTheNameItsProgramGivesIt) {
  using namespace std::string_literals;
  EXPECT_EQ(programName("/usr/lib/libreoffice/program/soffice.bin\0--calc\0/tmp/sales.xlsx\0"s), "soffice");
  EXPECT_EQ(programName("mousepad\0"s), "mousepad");
  EXPECT_EQ(programName("/usr/bin/gtk3-widget-factory"), "gtk3-widget-factory");
  EXPECT_EQ(programName(""), "");
}

TEST(TextPropertyTest, Latin1BecomesUtf8) {
  EXPECT_EQ(latin1ToUtf8("Caf\xe9 \xff"), "Café ÿ");
  EXPECT_EQ(latin1ToUtf8("plain"), "plain");
}

TEST(LaunchRulesTest, LaunchedApplicationsStartWithAccessibilityOn) {
  const auto environment = accessibilityEnvironment(std::string("unix:path=/run/a11y"));
  auto value = [&](const std::string& name) -> std::string {
    for (const auto& [key, set] : environment) {
      if (key == name) return set;
    }
    return "<unset>";
  };
  EXPECT_EQ(value("AT_SPI_BUS_ADDRESS"), "unix:path=/run/a11y");
  EXPECT_EQ(value("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), "1");
  for (const auto& [key, set] : accessibilityEnvironment(std::nullopt)) EXPECT_NE(key, "AT_SPI_BUS_ADDRESS");

  using Command = std::vector<std::string>;
  EXPECT_EQ(withAccessibilitySwitches({"/usr/bin/chromium", "%U"}),
            (Command{"/usr/bin/chromium", "--force-renderer-accessibility", "%U"}));
  EXPECT_EQ(withAccessibilitySwitches({"electron", "--force-renderer-accessibility", "app"}),
            (Command{"electron", "--force-renderer-accessibility", "app"}))
      << "given once";
  EXPECT_EQ(withAccessibilitySwitches({"featherpad"}), (Command{"featherpad"}));
  EXPECT_EQ(withAccessibilitySwitches({}), (Command{}));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
