#include <gtest/gtest.h>

#include "platform/linux/wayland/toplevel_windows.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

ProcessFacts process(Pid pid, std::string exeName, std::string comm, std::uint64_t startTicks = 100,
                     bool sameDisplay = true) {
  return {pid, std::move(exeName), std::move(comm), startTicks, sameDisplay};
}

TEST(ProcessNamesForTest, TheAppIdAndItsLastPartLowercased) {
  const struct {
    const char* appId;
    std::vector<std::string> names;
  } cases[] = {
      {"mousepad", {"mousepad"}},
      {"org.xfce.mousepad", {"org.xfce.mousepad", "mousepad"}},
      {"org.gtk.WidgetFactory3", {"org.gtk.WidgetFactory3", "widgetfactory3"}},
      {"Alacritty", {"Alacritty", "alacritty"}},
      {"trailing.", {"trailing."}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(processNamesFor(c.appId), c.names) << c.appId;
}

TEST(ProcessForAppIdTest, MatchesByExecutableOrCommAndPrefersThisSessionThenTheNewest) {
  const struct {
    const char* what;
    const char* appId;
    std::vector<ProcessFacts> processes;
    std::optional<Pid> pid;
  } cases[] = {
      {"by executable", "gtk3-widget-factory",
       {process(10, "bash", "bash"), process(11, "gtk3-widget-factory", "gtk3-widget-fac")}, 11},
      {"by comm, cut as the kernel cuts it", "gtk3-widget-factory", {process(12, "", "gtk3-widget-fac")}, 12},
      {"a script under its interpreter", "mousepad", {process(13, "python3", "mousepad")}, 13},
      {"by the last part of a reverse domain", "org.xfce.mousepad", {process(14, "mousepad", "mousepad")}, 14},
      {"no name in common", "org.gnome.Calculator", {process(15, "gnome-calculator", "gnome-calculato")},
       std::nullopt},
      {"a prefix is no match", "mouse", {process(16, "mousepad", "mousepad")}, std::nullopt},
      {"an empty app id matches nothing", "", {process(17, "", "")}, std::nullopt},
      {"the newest of two", "mousepad",
       {process(20, "mousepad", "mousepad", 500), process(21, "mousepad", "mousepad", 300)}, 20},
      {"this session before a newer one elsewhere", "mousepad",
       {process(22, "mousepad", "mousepad", 900, false), process(23, "mousepad", "mousepad", 300, true)}, 23},
      {"started in the same tick: the higher pid", "mousepad",
       {process(25, "mousepad", "mousepad", 300), process(24, "mousepad", "mousepad", 300)}, 25},
      {"none", "mousepad", {}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(processForAppId(c.appId, c.processes), c.pid) << c.what;
}

TEST(StartTicksOfTest, ReadsField22AfterTheCommandNameWhateverItHolds) {
  const std::string rest = " 1 1 1 0 -1 4194560 100 0 0 0 5 2 0 0 20 0 3 0 ";
  const struct {
    const char* what;
    std::string stat;
    std::optional<std::uint64_t> ticks;
  } cases[] = {
      {"plain", "4242 (mousepad) S" + rest + "987654 123 456", 987654},
      {"spaces and parentheses in the name", "4243 (a) b (c)) R" + rest + "55 1 2", 55},
      {"a zombie", "4244 (gone) Z" + rest + "77 0 0", std::nullopt},
      {"cut short", "4245 (mousepad) S 1 1", std::nullopt},
      {"no name", "4246 mousepad S", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(startTicksOf(c.stat), c.ticks) << c.what;
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::wayland
