// Writes, actions, activation and launching through the real Linux backend,
// checked against what the applications and the window manager then show.
// Every test puts back what it changed: the suite shares one desktop.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ax/attributes.h"
#include "desktop/in_process/linux_fixture.h"
#include "platform/linux/x11/display.h"

namespace kelp::test {
namespace {

using platform::Element;
using platform::Point;
using platform::Size;
using platform::Value;

struct AtExit {
  std::function<void()> run;
  ~AtExit() { run(); }
};

std::optional<double> numberIn(const Value& value) {
  if (const auto* number = value.as<double>()) return *number;
  if (const auto* number = value.as<std::int64_t>()) return static_cast<double>(*number);
  return std::nullopt;
}

std::vector<std::optional<ax::Frame>> framesOf(const std::vector<ax::Node>& nodes) {
  std::vector<std::optional<ax::Frame>> frames;
  for (const ax::Node& node : nodes) frames.push_back(node.frame);
  return frames;
}

// The factory shows most controls twice, insensitive and sensitive; these
// tests act on the sensitive ones. No label: any.
// The first enabled control of that role and label; a check box in the
// mixed state ("2"), which a press leaves mixed, does not count.
Element enabled(const std::vector<ax::Node>& nodes, const std::string& role,
                const std::optional<std::string>& label = std::nullopt) {
  for (const ax::Node& node : nodes) {
    if (node.role == role && (!label || node.label == *label) && node.enabled && node.frame && node.value != "2") {
      return node.el;
    }
  }
  throw std::runtime_error("no enabled " + role + " \"" + label.value_or("") + "\" in the factory");
}

Element firstWindow(platform::Accessibility& ax, const Element& application) {
  const std::vector<Element> windows = ax::elementsOf(ax::attr(ax, application, "AXWindows"));
  if (windows.empty()) throw std::runtime_error("the application has no window");
  return windows.front();
}

// Waits for a launch's outcome as the core does: the callback may come from
// another thread, and later than the wait.
std::optional<bool> launch(platform::Workspace& workspace, const std::string& path) {
  struct Outcome {
    std::atomic<bool> called{false};
    std::atomic<bool> ok{false};
  };
  auto outcome = std::make_shared<Outcome>();
  workspace.openApplication(path, [outcome](bool ok) {
    outcome->ok = ok;
    outcome->called = true;
  });
  if (!eventually([&] { return outcome->called.load(); }, std::chrono::milliseconds(10000)))
    return std::nullopt;
  return outcome->ok.load();
}

TEST_F(CoreOnLinuxDesktop, PressingACheckButtonTogglesItEvenInsideASnapshot) {
  const Element check = enabled(walk(factory().element, 400), "AXCheckBox", "checkbutton");
  const std::optional<double> before = numberIn(ax().copyAttribute(check, "AXValue"));
  ASSERT_TRUE(before.has_value());
  ASSERT_TRUE(ax().performAction(check, "AXPress"));
  EXPECT_TRUE(eventually([&] { return numberIn(ax().copyAttribute(check, "AXValue")) != before; }));
  {
    // A snapshot opened before an action must not answer from before it.
    ax::Snapshot snapshot(ax(), ax::walkReadPlan());
    ASSERT_NE(numberIn(ax().copyAttribute(check, "AXValue")), before);
    ASSERT_TRUE(ax().performAction(check, "AXPress"));
    EXPECT_EQ(numberIn(ax().copyAttribute(check, "AXValue")), before);
  }

  EXPECT_FALSE(ax().performAction(check, "AXShowMenu")) << "it has no menu";
  EXPECT_FALSE(ax().performAction(check, "AXRaise")) << "it is no window";
  EXPECT_FALSE(ax().performAction(check, "AXCancel"));
  EXPECT_FALSE(ax().performAction(ax().systemWide(), "AXPress"));
  EXPECT_FALSE(ax().performAction(Element(), "AXPress"));
}

TEST_F(CoreOnLinuxDesktop, ControlsTakeTextNumbersFocusAndSelection) {
  const std::vector<ax::Node> nodes = walk(factory().element, 400);
  const Element entry = enabled(nodes, "AXTextField", "entry");
  const std::string text = "written by kelp — ünïcode";
  AtExit putBack{
      [&, before = ax::str(ax(), entry, "AXValue")] { ax().setAttribute(entry, "AXValue", before); }};
  ASSERT_TRUE(ax().setAttribute(entry, "AXValue", text));
  EXPECT_TRUE(eventually([&] { return ax::str(ax(), entry, "AXValue") == text; }));
  EXPECT_FALSE(ax().setAttribute(entry, "AXValue", std::int64_t{12})) << "text fields take text";
  ASSERT_TRUE(ax().setAttribute(entry, "AXFocused", true));
  EXPECT_TRUE(eventually([&] {
    const Value focused = ax().copyAttribute(factory().element, "AXFocusedUIElement");
    return focused.as<Element>() && *focused.as<Element>() == entry;
  }));
  EXPECT_FALSE(ax().setAttribute(entry, "AXFocused", false)) << "focus is given, not taken";
  EXPECT_FALSE(ax().setAttribute(entry, "AXNoSuchAttribute", text));

  for (const std::string role : {"AXSlider", "AXIncrementor"}) {
    SCOPED_TRACE(role);
    const Element control = enabled(nodes, role);
    const std::optional<double> before = numberIn(ax().copyAttribute(control, "AXValue"));
    ASSERT_TRUE(before.has_value());
    ASSERT_TRUE(ax().setAttribute(control, "AXValue", *before == 37 ? 38.0 : 37.0));
    EXPECT_TRUE(eventually([&] { return numberIn(ax().copyAttribute(control, "AXValue")) != before; }));
    // Numbers typed by people arrive as text.
    ASSERT_TRUE(ax().setAttribute(control, "AXValue", std::to_string(static_cast<int>(*before))));
    EXPECT_TRUE(eventually([&] { return numberIn(ax().copyAttribute(control, "AXValue")) == before; }));
    EXPECT_FALSE(ax().setAttribute(control, "AXValue", "many"));
  }

  const Element pageOne = enabled(nodes, "AXRadioButton", "page 1");
  const Element pageTwo = enabled(nodes, "AXRadioButton", "page 2");
  ASSERT_TRUE(ax::boolAttr(ax(), pageOne, "AXSelected", false));
  ASSERT_TRUE(ax().setAttribute(pageTwo, "AXSelected", true));
  EXPECT_TRUE(eventually([&] { return !ax::boolAttr(ax(), pageOne, "AXSelected", true); }));
  // A tab offers no action of its own; pressing it selects it.
  ASSERT_TRUE(ax().performAction(pageOne, "AXPress"));
  EXPECT_TRUE(eventually([&] { return framesOf(walk(factory().element, 400)) == framesOf(nodes); }));
}

TEST_F(CoreOnLinuxDesktop, WindowsMoveAndResizeWhereTheTreeThenReportsThem) {
  const Element window = firstWindow(ax(), factory().element);
  const std::optional<ax::Frame> before = ax::frameOf(ax(), window);
  ASSERT_TRUE(before.has_value());
  const std::vector<std::optional<ax::Frame>> layout = framesOf(walk(factory().element, 400));
  // The factory lays its controls out again after a resize, before later
  // tests read them.
  AtExit putBack{[&] {
    ax().setAttribute(window, "AXSize", Size{before->w, before->h});
    ax().setAttribute(window, "AXPosition", Point{before->x, before->y});
    EXPECT_TRUE(eventually([&] { return framesOf(walk(factory().element, 400)) == layout; }));
  }};
  // The factory is no smaller than it starts, and the screen has room.
  const ax::Frame wanted{before->x > 100 ? 20.0 : 130.0, before->y > 100 ? 15.0 : 120.0, before->w + 40,
                         before->h + 30};
  ASSERT_TRUE(ax().setAttribute(window, "AXPosition", Point{wanted.x, wanted.y}));
  ASSERT_TRUE(ax().setAttribute(window, "AXSize", Size{wanted.w, wanted.h}));
  EXPECT_TRUE(eventually([&] { return ax::frameOf(ax(), window) == wanted; }));
  // One screen at the root's corner: the accessibility space is the root's.
  // The factory draws its own title bar, so its client area is the window.
  platform::linux_desktop::XDisplay x;
  EXPECT_EQ(x.clientRect(app().window),
            (platform::linux_desktop::RootRect{static_cast<int>(wanted.x), static_cast<int>(wanted.y),
                                           static_cast<int>(wanted.w), static_cast<int>(wanted.h)}));

  EXPECT_FALSE(ax().setAttribute(window, "AXPosition", Size{1, 1})) << "a position is a point";
  EXPECT_FALSE(ax().setAttribute(window, "AXSize", Size{0, 10}));
  const Element check = enabled(walk(factory().element, 400), "AXCheckBox", "checkbutton");
  EXPECT_FALSE(ax().setAttribute(check, "AXPosition", Point{0, 0})) << "only windows move";

  // Openbox draws a frame around a dialog; the tree reports the frame, and
  // that is what lands where asked.
  DesktopApp& dialog = desktop().startApplication(program({"zenity", "--entry", "--text", "framed"}));
  StopWhenDone stop{dialog};
  const std::optional<ax::AppPair> zenity = ax::appElement(os(), std::nullopt, dialog.pid());
  ASSERT_TRUE(zenity.has_value());
  const Element framed = firstWindow(ax(), zenity->element);
  const std::optional<ax::Frame> original = ax::frameOf(ax(), framed);
  ASSERT_TRUE(original.has_value());
  ASSERT_NE(x.frameRect(dialog.window), x.clientRect(dialog.window));
  const ax::Frame placed{original->x > 300 ? 210.0 : 420.0, 160, original->w + 60, original->h + 20};
  ASSERT_TRUE(ax().setAttribute(framed, "AXPosition", Point{placed.x, placed.y}));
  ASSERT_TRUE(ax().setAttribute(framed, "AXSize", Size{placed.w, placed.h}));
  EXPECT_TRUE(eventually([&] { return ax::frameOf(ax(), framed) == placed; }));
  EXPECT_EQ(x.frameRect(dialog.window),
            (platform::linux_desktop::RootRect{static_cast<int>(placed.x), 160, static_cast<int>(placed.w),
                                           static_cast<int>(placed.h)}));
}

TEST_F(CoreOnLinuxDesktop, ActivationBringsABackgroundApplicationToTheFront) {
  platform::Workspace& workspace = os().workspace();
  const platform::Pid factoryPid = app().pid();
  DesktopApp& dialog = desktop().startApplication(program({"zenity", "--info", "--text", "in front"}));
  AtExit putBack{[&] {
    if (dialog.process->running()) dialog.process->terminate();
    workspace.activate(factoryPid);
    EXPECT_TRUE(eventually([&] { return workspace.isActive(factoryPid); }));
  }};
  ASSERT_TRUE(eventually([&] { return workspace.isActive(dialog.pid()); }));
  EXPECT_FALSE(workspace.isActive(factoryPid));

  ASSERT_TRUE(workspace.activate(factoryPid));
  EXPECT_TRUE(eventually([&] { return workspace.isActive(factoryPid); }));
  EXPECT_TRUE(
      eventually([&] { return ax::boolAttr(ax(), firstWindow(ax(), factory().element), "AXMain", false); }));
  EXPECT_FALSE(workspace.activate(999999)) << "no such process";

  // The accessibility vocabulary of bringing forward: the application, and
  // each of the ways to name a window.
  const std::optional<ax::AppPair> zenity = ax::appElement(os(), std::nullopt, dialog.pid());
  ASSERT_TRUE(zenity.has_value());
  const Element factoryWindow = firstWindow(ax(), factory().element);
  const std::vector<std::function<bool()>> toTheFactory = {
      [&] { return ax().performAction(factoryWindow, "AXRaise"); },
      [&] { return ax().setAttribute(factoryWindow, "AXMain", true); },
      [&] { return ax().setAttribute(factoryWindow, "AXFocused", true); },
  };
  for (const auto& bringForward : toTheFactory) {
    ASSERT_TRUE(ax().setAttribute(zenity->element, "AXFrontmost", true));
    EXPECT_TRUE(eventually([&] { return workspace.isActive(dialog.pid()); }));
    ASSERT_TRUE(bringForward());
    EXPECT_TRUE(eventually([&] { return workspace.isActive(factoryPid); }));
  }
  EXPECT_FALSE(ax().setAttribute(factoryWindow, "AXFrontmost", true)) << "a window is no application";
}

TEST_F(CoreOnLinuxDesktop, DesktopEntriesAreFoundByIdAndByName) {
  platform::Workspace& workspace = os().workspace();
  const std::string mousepad = "/usr/share/applications/org.xfce.mousepad.desktop";
  for (const std::string name :
       {"org.xfce.mousepad", "org.xfce.mousepad.desktop", "Mousepad", "mousepad", "MOUSEPAD"}) {
    EXPECT_EQ(workspace.applicationPathForBundleId(name), mousepad) << name;
  }
  EXPECT_EQ(workspace.applicationPathForBundleId("no such application"), std::nullopt);
  EXPECT_EQ(workspace.applicationPathForBundleId(""), std::nullopt);

  const platform::ApplicationFolders folders = workspace.applicationFolders();
  EXPECT_EQ(folders.suffix, ".desktop");
  ASSERT_GE(folders.folders.size(), 2u);
  EXPECT_EQ(folders.folders.back(),
            desktop().environment().get("XDG_DATA_HOME").value_or("?") + "/applications")
      << "the user's folder comes last";
  EXPECT_NE(std::find(folders.folders.begin(), folders.folders.end(), "/usr/share/applications"),
            folders.folders.end());
}

TEST_F(CoreOnLinuxDesktop, OpeningMousepadReportsItOnceItsWindowIsUp) {
  platform::Workspace& workspace = os().workspace();
  const std::optional<std::string> path = workspace.applicationPathForBundleId("org.xfce.mousepad");
  ASSERT_TRUE(path.has_value());
  ASSERT_EQ(launch(workspace, *path), true);

  std::optional<platform::RunningApp> launched;
  for (const platform::RunningApp& running : workspace.runningApplications()) {
    if (running.bundleId == "org.xfce.mousepad") launched = running;
  }
  ASSERT_TRUE(launched.has_value()) << "mousepad is not among the running applications";
  AtExit putBack{[&] {
    ::kill(launched->pid, SIGTERM);
    EXPECT_TRUE(eventually([&] { return !workspace.applicationWithPid(launched->pid); }));
    workspace.activate(app().pid());
    EXPECT_TRUE(eventually([&] { return workspace.isActive(app().pid()); }));
  }};
  EXPECT_TRUE(eventually([&] { return workspace.isActive(launched->pid); })) << "it opens in front";
}

TEST_F(CoreOnLinuxDesktop, LaunchesThatCannotStartOrFailReportFailure) {
  char folder[] = "/tmp/kelp-entries-XXXXXX";
  ASSERT_TRUE(::mkdtemp(folder));
  std::vector<std::string> files;
  AtExit removeFiles{[&] {
    for (const std::string& file : files) ::unlink(file.c_str());
    ::rmdir(folder);
  }};
  const auto write = [&](const std::string& name, const std::string& text) {
    files.push_back(std::string(folder) + "/" + name);
    std::ofstream(files.back()) << text;
    ::chmod(files.back().c_str(), 0755);
    return files.back();
  };
  const auto entry = [&](const std::string& name, const std::string& more) {
    return write(name + ".desktop", "[Desktop Entry]\nType=Application\nName=" + name + "\n" + more);
  };

  platform::Workspace& workspace = os().workspace();
  EXPECT_EQ(launch(workspace, "/nonexistent/entry.desktop"), false);
  EXPECT_EQ(launch(workspace, entry("missing", "Exec=kelp-no-such-program-anywhere\n")), false);
  EXPECT_EQ(launch(workspace, entry("failing", "Exec=false\n")), false);
  EXPECT_EQ(launch(workspace, entry("terminal", "Exec=true\nTerminal=true\n")), false);
  // A program that ends without error handed its work on, as single-instance
  // applications do. This one does so only when all three of its standard
  // streams are /dev/null, as our output carries the protocol.
  const std::string script = write(
      "streams.sh",
      "#!/bin/sh\nfor fd in 0 1 2; do [ \"$(readlink /proc/$$/fd/$fd)\" = /dev/null ] || exit 1; done\n");
  EXPECT_EQ(launch(workspace, entry("streams", "Exec=" + script + "\n")), true);
}

}  // namespace
}  // namespace kelp::test
