#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/rules.h"

namespace kelp::platform::linux_desktop {
namespace {

TEST(SessionOfTest, TellsTheCompositorFromTheEnvironmentThenTheBus) {
  struct Case {
    const char* waylandDisplay;
    const char* currentDesktop;
    std::vector<std::string> busNames;
    Session expected;
  };
  const std::vector<Case> cases = {
      {nullptr, "GNOME", {"org.gnome.Mutter.RemoteDesktop"}, Session::x11},
      {"", "KDE", {}, Session::x11},
      {"wayland-0", "GNOME", {}, Session::gnome},
      {"wayland-0", "ubuntu:GNOME", {}, Session::gnome},
      {"wayland-0", "KDE", {}, Session::kde},
      {"wayland-0", "sway", {"org.gnome.Mutter.RemoteDesktop"}, Session::wayland},
      // A name that merely contains another is not it.
      {"wayland-0", "GNOME-Flashback-ish:KDEx", {}, Session::wayland},
      {"wayland-0", nullptr, {"org.gnome.Mutter.RemoteDesktop"}, Session::gnome},
      {"wayland-0", "", {"org.kde.KWin"}, Session::kde},
      {"wayland-0", nullptr, {}, Session::wayland},
  };
  for (const Case& c : cases) {
    std::vector<std::string> asked;
    const auto owns = [&](const char* name) {
      asked.emplace_back(name);
      for (const std::string& owned : c.busNames)
        if (owned == name) return true;
      return false;
    };
    EXPECT_EQ(sessionOf(c.waylandDisplay, c.currentDesktop, owns), c.expected)
        << (c.waylandDisplay ? c.waylandDisplay : "(no display)") << " / "
        << (c.currentDesktop ? c.currentDesktop : "(no desktop)");
    if (c.currentDesktop && *c.currentDesktop) {
      EXPECT_TRUE(asked.empty()) << "the bus is asked only when the name tells nothing";
    }
  }
}

}  // namespace
}  // namespace kelp::platform::linux_desktop
