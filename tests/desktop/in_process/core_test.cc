// The core's accessibility model and locators in this process, over the real
// Linux backend, against the GTK widget factory in a private desktop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ax/attributes.h"
#include "ax/lookup.h"
#include "ax/node.h"
#include "desktop/fixture.h"
#include "desktop/harness.h"
#include "desktop/in_process/linux_fixture.h"
#include "locate/locator.h"
#include "platform/linux/atspi/calls.h"
#include "platform/platform.h"

namespace kelp::test {
namespace {

using ax::Node;
using platform::Element;

// Locator with designated fields; each field left out stays absent.
struct LocatorFields {
  std::optional<std::string> role{};
  std::optional<std::string> label{};
  std::optional<std::string> path{};
  std::optional<std::int64_t> nth{};
  std::optional<std::string> window{};
};

locate::Locator locator(const LocatorFields& fields) {
  locate::Locator built;
  built.role = fields.role;
  built.label = fields.label;
  built.path = fields.path;
  built.nth = fields.nth;
  built.window = fields.window;
  return built;
}

std::string describe(const Node& node) { return node.role + " \"" + node.label + "\" " + node.path; }

TEST_F(CoreOnLinuxDesktop, TheFactoryIsFoundAndWalkedTheSameWayTwice) {
  EXPECT_TRUE(ax().isTrusted());
  const ax::AppPair pair = factory();
  EXPECT_TRUE(isSameOrDescendant(pair.app.pid, app().pid())) << pair.app.pid << " vs " << app().pid();
  EXPECT_EQ(pair.app.name.value_or(""), "gtk3-widget-factory");
  std::optional<ax::AppPair> byPid = ax::appElement(os(), std::nullopt, pair.app.pid);
  ASSERT_TRUE(byPid.has_value());
  EXPECT_TRUE(byPid->element == pair.element) << "one application, one element";

  const std::vector<Node> nodes = walk(pair.element, 400);
  ASSERT_GT(nodes.size(), 20u);
  EXPECT_LT(nodes.size(), 400u) << "the factory fits in one walk";
  EXPECT_FALSE(nodesWith(nodes, "AXCheckBox", "checkbutton").empty());
  EXPECT_FALSE(nodesWith(nodes, "AXCheckBox", "togglebutton").empty());

  // A shorter walk begins with the same live elements: the identity of an
  // element does not depend on the read that produced it.
  const std::vector<Node> prefix = walk(pair.element, 7);
  ASSERT_EQ(prefix.size(), 7u);
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    EXPECT_TRUE(prefix[i].el == nodes[i].el) << describe(nodes[i]);
    EXPECT_EQ(prefix[i].path, nodes[i].path);
    EXPECT_EQ(prefix[i].label, nodes[i].label);
  }

  // What the walk read inside its snapshot is what single reads outside of
  // one give.
  for (const Node& node : nodes) {
    SCOPED_TRACE(describe(node));
    EXPECT_EQ(ax::str(ax(), node.el, "AXRole"), node.role);
    EXPECT_EQ(ax::label(ax(), node.el), node.label);
    EXPECT_EQ(ax::frameOf(ax(), node.el), node.frame);
    EXPECT_EQ(ax::boolAttr(ax(), node.el, "AXEnabled"), node.enabled);
    EXPECT_EQ(ax().pidOf(node.el), std::optional<platform::Pid>(pair.app.pid));
  }
}

// A walk that stops at its limit reads what a record shows (its identifier
// here) of little more than the records it makes.
TEST_F(CoreOnLinuxDesktop, AShortWalkReadsLittleBeyondItsRecords) {
  const ax::AppPair pair = factory();
  walk(pair.element, 400);
  const std::uint64_t identifiers = sent("org.freedesktop.DBus.Properties.Get AccessibleId");
  const std::vector<Node> nodes = walk(pair.element, 7);
  ASSERT_EQ(nodes.size(), 7u);
  // The read-ahead takes a few dozen records at a time, not the hundreds the
  // factory holds.
  EXPECT_LE(sent("org.freedesktop.DBus.Properties.Get AccessibleId") - identifiers, 7u + 32u);
}

TEST_F(CoreOnLinuxDesktop, LocatorsPickTheFactoryControls) {
  const ax::AppPair pair = factory();
  const std::vector<Node> nodes = walk(pair.element, 400);
  const auto toggles = nodesWith(nodes, "AXCheckBox", "togglebutton");
  const auto checks = nodesWith(nodes, "AXCheckBox", "checkbutton");
  const auto links = nodesWith(nodes, "AXButton", "link button");
  const auto entries = nodesWith(nodes, "AXTextField", "entry");
  ASSERT_GE(toggles.size(), 3u);
  ASSERT_GE(checks.size(), 1u);
  ASSERT_EQ(links.size(), 1u);
  ASSERT_GE(entries.size(), 1u);

  auto expectResolvesTo = [&](const locate::Locator& locator, const Node* expected) {
    std::optional<Node> found = locate::resolve(nodes, locator);
    if (!expected) {
      EXPECT_FALSE(found.has_value()) << describe(*found);
      return;
    }
    ASSERT_TRUE(found.has_value()) << "expected " << describe(*expected);
    EXPECT_EQ(found->path, expected->path);
    EXPECT_TRUE(found->el == expected->el) << describe(*found);
  };
  expectResolvesTo(locator({.role = "AXCheckBox", .label = "togglebutton"}), toggles[0]);
  expectResolvesTo(locator({.role = "AXCheckBox", .label = "togglebutton", .nth = 2}), toggles[2]);
  expectResolvesTo(locator({.role = "AXCheckBox", .label = "checkbutton"}), checks[0]);
  expectResolvesTo(locator({.label = "link button"}), links[0]);
  expectResolvesTo(locator({.role = "AXButton", .label = "link"}), nullptr);
  expectResolvesTo(locator({.role = "AXTextField", .label = "ent", .path = entries[0]->path}), entries[0]);
  expectResolvesTo(locate::readLocator(kelp::Json{{"role", "AXCheckBox"}, {"label", "togglebutton"}, {"nth", 1}}),
                   toggles[1]);

  // Narrowed to the factory's window by its title, or a part of it, the
  // same nodes come out with paths that start at the window.
  const std::string title = ax::windowTitleOf(ax(), toggles[0]->el);
  ASSERT_FALSE(title.empty());
  for (const std::string& window : {title, title.substr(0, title.size() / 2)}) {
    SCOPED_TRACE("window " + window);
    std::optional<std::vector<Node>> inWindow =
        locate::narrowToWindow(ax(), pair.element, locator({.window = window}));
    ASSERT_TRUE(inWindow.has_value());
    std::vector<const Node*> firstWindow;
    for (const Node& node : nodes) {
      if (node.path.rfind("/AXWindow[0]/", 0) == 0) firstWindow.push_back(&node);
    }
    ASSERT_EQ(inWindow->size(), firstWindow.size());
    for (std::size_t i = 0; i < firstWindow.size(); ++i) {
      EXPECT_EQ("/AXWindow[0]" + (*inWindow)[i].path, firstWindow[i]->path);
      EXPECT_TRUE((*inWindow)[i].el == firstWindow[i]->el) << describe(*firstWindow[i]);
    }
    // A path taken from the application's walk does not fit the window's.
    std::optional<Node> byPath = locate::resolve(
        *inWindow, locator({.role = "AXTextField", .label = "ent", .path = entries[0]->path}));
    EXPECT_FALSE(byPath.has_value());
  }
  EXPECT_FALSE(locate::narrowToWindow(ax(), pair.element, locator({.window = "no such window"})));
}

TEST_F(CoreOnLinuxDesktop, ThePointInsideAControlHitsThatControl) {
  const ax::AppPair pair = factory();
  const std::vector<Node> nodes = walk(pair.element, 400);
  std::vector<const Node*> targets;
  for (const auto& [role, label] : std::vector<std::pair<std::string, std::string>>{
           {"AXButton", "link button"},
           {"AXCheckBox", "togglebutton"},
           {"AXCheckBox", "checkbutton"},
           {"AXRadioButton", "radiobutton"},
           {"AXTextField", "entry"}}) {
    auto found = nodesWith(nodes, role, label);
    ASSERT_FALSE(found.empty()) << role << " " << label;
    targets.push_back(found.front());
  }

  const Element systemWide = ax().systemWide();
  for (const Node* target : targets) {
    SCOPED_TRACE(describe(*target));
    ASSERT_TRUE(target->frame.has_value());
    const platform::Point centre{target->frame->x + target->frame->w / 2, target->frame->y + target->frame->h / 2};
    for (std::optional<platform::Pid> fallback : {std::optional<platform::Pid>(), std::optional(pair.app.pid)}) {
      std::optional<Element> hit = ax::elementAt(os(), systemWide, centre, fallback);
      ASSERT_TRUE(hit.has_value()) << "nothing at " << centre.x << "," << centre.y;
      const Element named = ax::namedAncestor(ax(), *hit);
      EXPECT_TRUE(*hit == target->el || named == target->el)
          << "hit " << ax::str(ax(), *hit, "AXRole") << " \"" << ax::label(ax(), *hit) << "\", named "
          << ax::str(ax(), named, "AXRole") << " \"" << ax::label(ax(), named) << "\"";
      EXPECT_EQ(ax::ownerName(os(), *hit), "gtk3-widget-factory");
    }
  }

  // Where the factory's window is not, nothing of the factory is hit.
  const double right = desktop_->width() - 2.0;
  const double bottom = desktop_->height() - 2.0;
  for (platform::Point corner : {platform::Point{1, 1}, platform::Point{right, bottom}}) {
    std::optional<Element> hit = ax::elementAt(os(), systemWide, corner, std::nullopt);
    if (hit) {
      EXPECT_NE(ax().pidOf(*hit), std::optional<platform::Pid>(pair.app.pid)) << corner.x << "," << corner.y;
    }
  }
}

TEST_F(CoreOnLinuxDesktop, ControlsKnowTheirWindowAndNameThemselves) {
  const ax::AppPair pair = factory();
  const std::vector<Node> nodes = walk(pair.element, 400);
  ASSERT_FALSE(nodes.empty());
  // The window manager's title of the window the harness waited for.
  const std::string title = app().title;
  ASSERT_FALSE(title.empty());
  for (const Node& node : nodes) {
    if (node.path.rfind("/AXWindow[0]/", 0) != 0) continue;
    SCOPED_TRACE(describe(node));
    EXPECT_EQ(ax::windowTitleOf(ax(), node.el), title);
    // A labelled control is itself the best name of what is under the pointer.
    if (!node.label.empty()) {
      EXPECT_TRUE(ax::namedAncestor(ax(), node.el) == node.el);
    }
  }

  const std::vector<Element> windows = ax::elementsOf(ax::attr(ax(), pair.element, "AXWindows"));
  ASSERT_FALSE(windows.empty());
  EXPECT_EQ(ax::str(ax(), windows.front(), "AXRole"), "AXWindow");
  EXPECT_EQ(ax::windowTitleOf(ax(), windows.front()), title);
  EXPECT_TRUE(ax::namedAncestor(ax(), windows.front()) == windows.front());
  EXPECT_TRUE(ax::namedAncestor(ax(), pair.element) == pair.element);
}

}  // namespace
}  // namespace kelp::test
