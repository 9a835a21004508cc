// Reading sway's IPC replies, and the commands of a placement.
#include "platform/linux/wayland/sway_tree.h"

#include <algorithm>

namespace kelp::platform::linux_desktop::wayland {
namespace {

using Json = nlohmann::json;

std::optional<int> intOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_number_integer()) return std::nullopt;
  return found->get<int>();
}

RootRect rectOf(const Json& node, const char* key) {
  const auto found = node.find(key);
  if (found == node.end() || !found->is_object()) return {};
  return {intOf(*found, "x").value_or(0), intOf(*found, "y").value_or(0), intOf(*found, "width").value_or(0),
          intOf(*found, "height").value_or(0)};
}

std::optional<std::string> textOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

const Json& children(const Json& node, const char* key) {
  static const Json none = Json::array();
  const auto found = node.find(key);
  return found != node.end() && found->is_array() ? *found : none;
}

// A view is a container with a surface: it has a process or an app id.
bool isView(const Json& node) {
  const std::optional<std::string> type = textOf(node, "type");
  if (type != "con" && type != "floating_con") return false;
  return node.contains("app_id") || node.contains("pid") || node.contains("window_properties");
}

SwayView viewOf(const Json& node, bool floating) {
  SwayView view;
  if (const auto id = node.find("id"); id != node.end() && id->is_number_unsigned()) view.id = id->get<WindowId>();
  if (const std::optional<int> pid = intOf(node, "pid"); pid && *pid > 0) view.pid = *pid;
  view.name = textOf(node, "name");
  view.xwayland = textOf(node, "shell") == "xwayland";
  view.appId = textOf(node, "app_id").value_or("");
  if (const auto properties = node.find("window_properties"); properties != node.end() && properties->is_object()) {
    if (view.appId.empty()) view.appId = textOf(*properties, "class").value_or("");
    view.instance = textOf(*properties, "instance");
  }
  view.frame = rectOf(node, "rect");
  const RootRect inner = rectOf(node, "window_rect");
  view.content = {view.frame.x + inner.x, view.frame.y + inner.y, inner.width, inner.height};
  view.focused = node.value("focused", false);
  view.visible = node.value("visible", false);
  view.floating = floating;
  return view;
}

// Depth first, tiled children before floating ones, as sway draws them.
void collectViews(const Json& node, bool floating, std::vector<SwayView>& out) {
  if (isView(node)) {
    out.push_back(viewOf(node, floating));
    return;
  }
  for (const Json& child : children(node, "nodes")) collectViews(child, floating, out);
  for (const Json& child : children(node, "floating_nodes")) collectViews(child, true, out);
}

}  // namespace

std::vector<SwayView> swayViews(const Json& tree) {
  std::vector<SwayView> all;
  collectViews(tree, false, all);
  // Hidden windows lie below everything shown.
  std::stable_partition(all.begin(), all.end(), [](const SwayView& view) { return !view.visible; });
  // Floating windows of a shown workspace lie above its tiled ones.
  const auto shown = std::find_if(all.begin(), all.end(), [](const SwayView& view) { return view.visible; });
  std::stable_partition(shown, all.end(), [](const SwayView& view) { return !view.floating; });
  return all;
}

std::vector<MonitorRect> swayOutputs(const Json& outputs) {
  std::vector<MonitorRect> list;
  if (!outputs.is_array()) return list;
  for (const Json& output : outputs) {
    if (!output.is_object() || !output.value("active", false)) continue;
    const RootRect rect = rectOf(output, "rect");
    if (rect.width <= 0 || rect.height <= 0) continue;
    list.push_back({rect.x, rect.y, rect.width, rect.height, false});
  }
  if (list.empty()) return list;
  auto origin = std::find_if(list.begin(), list.end(), [](const MonitorRect& m) {
    return m.x <= 0 && m.y <= 0 && m.x + m.width > 0 && m.y + m.height > 0;
  });
  (origin != list.end() ? *origin : list.front()).primary = true;
  return list;
}

std::optional<std::vector<std::string>> swayPlacementCommands(const SwayView& view, const WindowPlacement& placement) {
  if (!placement.x && !placement.y && !placement.width && !placement.height) return std::nullopt;
  if (!view.floating) return std::vector<std::string>{};
  const std::string select = "[con_id=" + std::to_string(view.id) + "] ";
  std::vector<std::string> commands;
  if (placement.width || placement.height) {
    // Sway sizes a floating container's content; its border comes on top.
    const int width = placement.width.value_or(view.content.width);
    const int height = placement.height.value_or(view.content.height);
    commands.push_back(select + "resize set width " + std::to_string(width) + " px height " +
                       std::to_string(height) + " px");
  }
  // Sway resizes a floating window about its centre; moving it back after
  // keeps its top left where it was, as a resize on X11 does.
  {
    const int x = placement.x.value_or(view.content.x) - (view.content.x - view.frame.x);
    const int y = placement.y.value_or(view.content.y) - (view.content.y - view.frame.y);
    commands.push_back(select + "move absolute position " + std::to_string(x) + " px " + std::to_string(y) + " px");
  }
  return commands;
}

bool swayCommandsSucceeded(const Json& reply) {
  if (!reply.is_array() || reply.empty()) return false;
  return std::all_of(reply.begin(), reply.end(),
                     [](const Json& one) { return one.is_object() && one.value("success", false); });
}

}  // namespace kelp::platform::linux_desktop::wayland
