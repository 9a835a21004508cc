// The private desktop itself: it must be private, complete, and leave
// nothing behind, or every other desktop test is in doubt.
#include "desktop/harness.h"
#include "desktop/fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>

namespace kelp::test {
namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

TEST(PrivateDesktop, TwoDesktopsAreSeparateAndLeaveNothingBehind) {
  std::string markers[2];
  std::string sockets[2];
  pid_t appPid = 0;
  {
    DesktopSession first;
    DesktopOptions small;
    small.width = 800;
    small.height = 600;
    DesktopSession second(small);
    EXPECT_NE(first.display(), second.display());
    EXPECT_NE(first.sessionBusAddress(), second.sessionBusAddress());
    EXPECT_NE(first.accessibilityBusAddress(), second.accessibilityBusAddress());

    DesktopApp& app = first.startApplication();
    appPid = app.pid();
    EXPECT_EQ(first.activeWindow(), app.window);
    EXPECT_FALSE(app.title.empty());
    EXPECT_EQ(first.windowTitle(app.window), app.title);
    ASSERT_TRUE(first.windowPid(app.window).has_value());
    EXPECT_TRUE(isSameOrDescendant(*first.windowPid(app.window), app.pid()));
    EXPECT_TRUE(first.accessibilityEnabled());
    // The other desktop shows none of it.
    EXPECT_TRUE(second.clientWindows().empty());
    std::vector<unsigned long> clients = first.clientWindows();
    EXPECT_EQ(std::count(clients.begin(), clients.end(), app.window), 1);

    markers[0] = first.marker();
    markers[1] = second.marker();
    for (int i = 0; i < 2; ++i) {
      const std::string& display = i == 0 ? first.display() : second.display();
      sockets[i] = "/tmp/.X11-unix/X" + display.substr(1);
      EXPECT_TRUE(exists(sockets[i])) << sockets[i];
    }
    // X server, session bus, accessibility bus launcher and its bus, window manager, application.
    std::vector<pid_t> running = processesMarkedWith(markers[0]);
    EXPECT_GE(running.size(), 6u);
    EXPECT_NE(std::find(running.begin(), running.end(), appPid), running.end());
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(processesMarkedWith(markers[i]), std::vector<pid_t>{}) << "left behind by desktop " << i;
    EXPECT_FALSE(exists(sockets[i])) << "the X server did not clean up " << sockets[i];
  }
}

DesktopOptions swayDesktop() {
  DesktopOptions options;
  options.server = DisplayServer::sway;
  options.width = 1280;
  options.height = 720;
  return options;
}

TEST(PrivateDesktop, SwayDesktopShowsAWaylandApplicationAndLeavesNothingBehind) {
  std::string marker;
  std::string waylandSocket;
  pid_t appPid = 0;
  {
    DesktopSession desktop(swayDesktop());
    marker = desktop.marker();
    waylandSocket = desktop.waylandDisplay();
    EXPECT_EQ(desktop.display(), "");
    const Environment environment = desktop.environment();
    EXPECT_EQ(environment.get("DISPLAY"), std::nullopt);
    EXPECT_EQ(environment.get("WAYLAND_DISPLAY"), waylandSocket);
    EXPECT_EQ(environment.get("SWAYSOCK"), desktop.swaySocket());
    EXPECT_EQ(environment.get("GDK_BACKEND"), "wayland");
    EXPECT_TRUE(exists(waylandSocket)) << waylandSocket;

    DesktopApp& app = desktop.startApplication();
    appPid = app.pid();
    auto window = swayWindowOf(desktop, app);
    ASSERT_TRUE(window.has_value()) << desktop.swayTree().dump();
    EXPECT_TRUE(isSameOrDescendant(window->pid, app.pid()));
    EXPECT_EQ(window->appId, "gtk3-widget-factory");
    EXPECT_EQ(window->name, app.title);
    EXPECT_TRUE(window->focused);
    EXPECT_GT(window->content.width, 0);
    EXPECT_GT(window->content.height, 0);
    EXPECT_TRUE(desktop.accessibilityEnabled());

    const DesktopSession::ScreenPixels pixels = desktop.screenPixels();
    EXPECT_EQ(pixels.width, 1280);
    EXPECT_EQ(pixels.height, 720);
    ASSERT_EQ(pixels.rgb.size(), 1280u * 720u * 3u);
    // The factory's window fills the output: the picture is not one colour.
    EXPECT_NE(std::count(pixels.rgb.begin(), pixels.rgb.end(), pixels.rgb[0]),
              static_cast<std::ptrdiff_t>(pixels.rgb.size()));

    EXPECT_THROW(desktop.xdotool({"getactivewindow"}), DesktopError);
    // sway, the session bus, the accessibility bus launcher and its bus, the application.
    std::vector<pid_t> running = processesMarkedWith(marker);
    EXPECT_GE(running.size(), 5u);
    EXPECT_NE(std::find(running.begin(), running.end(), appPid), running.end());
  }
  EXPECT_EQ(processesMarkedWith(marker), std::vector<pid_t>{}) << "left behind by the sway desktop";
  EXPECT_FALSE(exists(waylandSocket)) << waylandSocket;
}

TEST(PrivateDesktop, SwayCommandsMoveWindowsAndARefusedCommandIsAnError) {
  DesktopSession desktop(swayDesktop());
  DesktopApp& app = desktop.startApplication();
  desktop.swaymsg("[con_id=" + std::to_string(app.window) + "] move position 40 30");
  auto window = swayWindowOf(desktop, app);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->rect.x, 40);
  EXPECT_EQ(window->rect.y, 30);
  EXPECT_GE(window->content.x, window->rect.x);
  EXPECT_GE(window->content.y, window->rect.y);
  try {
    desktop.swaymsg("kelp-no-such-command");
    FAIL() << "sway accepted a command that does not exist";
  } catch (const DesktopError& error) {
    EXPECT_NE(std::string(error.what()).find("kelp-no-such-command"), std::string::npos) << error.what();
  }
}

TEST(PrivateDesktop, AMissingApplicationIsAClearError) {
  DesktopSession desktop;
  try {
    AppOptions options;
    options.argv = {"kelp-no-such-application"};
    desktop.startApplication(options);
    FAIL() << "started an application that does not exist";
  } catch (const DesktopError& error) {
    EXPECT_NE(std::string(error.what()).find("kelp-no-such-application"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace kelp::test
