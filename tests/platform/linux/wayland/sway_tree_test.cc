#include "platform/linux/wayland/sway_tree.h"

#include <gtest/gtest.h>

namespace kelp::platform::linux_desktop::wayland {
namespace {

using Json = nlohmann::json;

// A get_tree reply as sway 1.7 gives it, cut down to what is read: a hidden
// scratchpad window, a shown workspace with a tiled window and two floating
// ones (the second floating one on top), an Xwayland window with a border.
const Json TREE = Json::parse(R"({
  "id": 1, "type": "root", "nodes": [
    {"id": 2147483647, "type": "output", "name": "__i3", "nodes": [
      {"id": 2147483646, "type": "workspace", "name": "__i3_scratch", "nodes": [], "floating_nodes": [
        {"id": 20, "type": "floating_con", "pid": 900, "app_id": "scratch", "name": "Hidden", "visible": false,
         "rect": {"x": 0, "y": 0, "width": 10, "height": 10}, "window_rect": {"x": 0, "y": 0, "width": 10, "height": 10}}]}]},
    {"id": 3, "type": "output", "name": "HEADLESS-1", "nodes": [
      {"id": 4, "type": "workspace", "name": "1", "nodes": [
        {"id": 5, "type": "con", "pid": 100, "app_id": "mousepad", "name": "Untitled 1 - Mousepad", "visible": true,
         "focused": false, "rect": {"x": 0, "y": 0, "width": 960, "height": 1080},
         "window_rect": {"x": 2, "y": 2, "width": 956, "height": 1076}}],
       "floating_nodes": [
        {"id": 6, "type": "floating_con", "pid": 200, "app_id": "gtk3-widget-factory", "name": "Widget Factory",
         "visible": true, "focused": true, "shell": "xdg_shell",
         "rect": {"x": 300, "y": 200, "width": 1415, "height": 732},
         "window_rect": {"x": 0, "y": 0, "width": 1415, "height": 732}},
        {"id": 7, "type": "floating_con", "pid": 300, "name": "xterm", "visible": true, "shell": "xwayland",
         "window_properties": {"class": "XTerm", "instance": "xterm"},
         "rect": {"x": 100, "y": 50, "width": 504, "height": 331},
         "window_rect": {"x": 2, "y": 27, "width": 500, "height": 302}}]}]}]})");

TEST(SwayTree, ViewsRunFromHiddenToTiledToFloatingWithContentInLayoutCoordinates) {
  const std::vector<SwayView> views = swayViews(TREE);
  std::vector<WindowId> order;
  for (const SwayView& view : views) order.push_back(view.id);
  EXPECT_EQ(order, (std::vector<WindowId>{20, 5, 6, 7}));

  const SwayView& tiled = views[1];
  EXPECT_EQ(tiled.pid, 100);
  EXPECT_FALSE(tiled.floating);
  EXPECT_EQ(tiled.frame, (RootRect{0, 0, 960, 1080}));
  EXPECT_EQ(tiled.content, (RootRect{2, 2, 956, 1076}));

  const SwayView& factory = views[2];
  EXPECT_TRUE(factory.focused && factory.floating && factory.visible && !factory.xwayland);
  EXPECT_EQ(factory.appId, "gtk3-widget-factory");
  EXPECT_EQ(factory.name, "Widget Factory");

  const SwayView& xterm = views[3];
  EXPECT_TRUE(xterm.xwayland);
  EXPECT_EQ(xterm.appId, "XTerm") << "an Xwayland window is known by its X class";
  EXPECT_EQ(xterm.instance, "xterm");
  EXPECT_EQ(xterm.content, (RootRect{102, 77, 500, 302}));

  EXPECT_FALSE(views[0].visible);
  EXPECT_TRUE(swayViews(Json::parse(R"({"type":"root"})")).empty());
  EXPECT_TRUE(swayViews(Json::parse("[1, 2]")).empty()) << "an answer of another shape has no views";
}

TEST(SwayTree, TheOutputAtTheLayoutsOriginIsPrimaryAndInactiveOnesAreLeftOut) {
  const Json outputs = Json::parse(R"([
    {"name": "HEADLESS-2", "active": true, "rect": {"x": 1920, "y": 0, "width": 1280, "height": 1024}},
    {"name": "HEADLESS-3", "active": false, "rect": {"x": 0, "y": 0, "width": 0, "height": 0}},
    {"name": "HEADLESS-1", "active": true, "rect": {"x": 0, "y": 0, "width": 1920, "height": 1080}}])");
  const std::vector<MonitorRect> monitors = swayOutputs(outputs);
  ASSERT_EQ(monitors.size(), 2u);
  EXPECT_EQ(monitors[0].x, 1920);
  EXPECT_FALSE(monitors[0].primary);
  EXPECT_TRUE(monitors[1].primary);

  const std::vector<MonitorRect> away = swayOutputs(Json::parse(R"([
    {"active": true, "rect": {"x": 500, "y": 0, "width": 800, "height": 600}}])"));
  ASSERT_EQ(away.size(), 1u);
  EXPECT_TRUE(away[0].primary) << "without an output at the origin the first one is primary";
  EXPECT_TRUE(swayOutputs(Json::object()).empty());
}

TEST(SwayTree, PlacementsMoveTheContainerSoThatTheClientAreaLandsWhereAsked) {
  const std::vector<SwayView> views = swayViews(TREE);
  const SwayView& xterm = views[3];
  struct Case {
    WindowPlacement placement;
    std::optional<std::vector<std::string>> commands;
  };
  const Case cases[] = {
      {{}, std::nullopt},
      {{.x = 400, .y = 300},
       std::vector<std::string>{"[con_id=7] move absolute position 398 px 273 px"}},
      {{.y = 300}, std::vector<std::string>{"[con_id=7] move absolute position 100 px 273 px"}},
      {{.width = 640},
       std::vector<std::string>{"[con_id=7] resize set width 640 px height 302 px",
                                "[con_id=7] move absolute position 100 px 50 px"}},
      {{.x = 10, .y = 20, .width = 300, .height = 200},
       std::vector<std::string>{"[con_id=7] resize set width 300 px height 200 px",
                                "[con_id=7] move absolute position 8 px -7 px"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(swayPlacementCommands(xterm, c.placement), c.commands);
  }
  EXPECT_EQ(swayPlacementCommands(views[1], {.x = 5}), std::vector<std::string>{})
      << "sway alone places a tiled window";
}

TEST(SwayTree, ACommandReplySucceedsOnlyWhenEveryCommandDid) {
  EXPECT_TRUE(swayCommandsSucceeded(Json::parse(R"([{"success": true}, {"success": true}])")));
  EXPECT_FALSE(swayCommandsSucceeded(Json::parse(R"([{"success": true}, {"success": false, "error": "x"}])")));
  EXPECT_FALSE(swayCommandsSucceeded(Json::parse("[]")));
  EXPECT_FALSE(swayCommandsSucceeded(Json::parse(R"({"success": true})")));
}

}  // namespace
}  // namespace kelp::platform::linux_desktop::wayland
