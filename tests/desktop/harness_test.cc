// The private desktop itself: it must be private, complete, and leave
// nothing behind, or every other desktop test is in doubt.
#include "desktop/harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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
