// Reading the extension's JSON and deciding on what it says.
#include "platform/linux/gnome/shell_reply.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

namespace kelp::platform::linux_desktop::gnome {
namespace {

using Json = nlohmann::json;

std::optional<Json> parseArray(const std::string& text) {
  Json parsed = Json::parse(text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_array()) return std::nullopt;
  return parsed;
}

std::optional<int> intField(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  const double value = it->get<double>();
  if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max())) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<std::string> textField(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool flag(const Json& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

std::optional<RootRect> rectField(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_object()) return std::nullopt;
  const auto x = intField(*it, "x");
  const auto y = intField(*it, "y");
  const auto w = intField(*it, "w");
  const auto h = intField(*it, "h");
  if (!x || !y || !w || !h || *w < 0 || *h < 0) return std::nullopt;
  return RootRect{*x, *y, *w, *h};
}

}  // namespace

std::optional<std::vector<ShellWindow>> parseShellWindows(const std::string& json) {
  const std::optional<Json> list = parseArray(json);
  if (!list) return std::nullopt;
  std::vector<ShellWindow> windows;
  for (const Json& item : *list) {
    if (!item.is_object()) continue;
    const auto id = item.find("id");
    const auto frame = rectField(item, "frame");
    const auto buffer = rectField(item, "buffer");
    if (id == item.end() || !id->is_number_unsigned() || !frame || !buffer) continue;
    ShellWindow window;
    window.id = id->get<WindowId>();
    window.title = textField(item, "title");
    window.wmClass = textField(item, "wmClass");
    window.wmInstance = textField(item, "wmInstance");
    window.appId = textField(item, "appId");
    // Mutter answers -1 (or 0) for a client whose process it does not know.
    if (const auto pid = intField(item, "pid"); pid && *pid > 0) window.pid = static_cast<Pid>(*pid);
    window.frame = *frame;
    window.buffer = *buffer;
    window.focused = flag(item, "focused");
    window.minimized = flag(item, "minimized");
    window.shown = flag(item, "shown");
    window.stacking = intField(item, "stacking").value_or(0);
    window.type = textField(item, "type").value_or("normal");
    window.x11 = flag(item, "x11");
    windows.push_back(std::move(window));
  }
  std::stable_sort(windows.begin(), windows.end(),
                   [](const ShellWindow& a, const ShellWindow& b) { return a.stacking < b.stacking; });
  return windows;
}

std::optional<std::vector<MonitorRect>> parseShellMonitors(const std::string& json) {
  const std::optional<Json> list = parseArray(json);
  if (!list) return std::nullopt;
  std::vector<MonitorRect> monitors;
  for (const Json& item : *list) {
    if (!item.is_object()) continue;
    const auto x = intField(item, "x");
    const auto y = intField(item, "y");
    const auto w = intField(item, "w");
    const auto h = intField(item, "h");
    if (!x || !y || !w || !h || *w <= 0 || *h <= 0) continue;
    monitors.push_back({*x, *y, *w, *h, flag(item, "primary")});
  }
  return monitors;
}

bool isManagedType(const std::string& type) {
  // What X would show as override-redirect, and Wayland popups.
  static constexpr std::array<std::string_view, 7> POPUPS = {"dropdown_menu", "popup_menu", "tooltip",       "notification",
                                                             "combo",         "dnd",        "override_other"};
  return std::find(POPUPS.begin(), POPUPS.end(), type) == POPUPS.end();
}

WindowKind kindOfType(const std::string& type) {
  if (type == "normal" || type == "dialog" || type == "modal_dialog") return WindowKind::normal;
  if (type == "dock") return WindowKind::dock;
  if (type == "desktop") return WindowKind::desktop;
  return WindowKind::other;
}

ClientWindow clientWindowOf(const ShellWindow& window) {
  ClientWindow client = clientWindowOfAppId(window.id, window.pid, window.appId.value_or(""));
  if (!window.appId) {
    client.wmClass = window.wmClass;
    client.wmInstance = window.wmInstance;
  }
  client.kind = kindOfType(window.type);
  return client;
}

std::optional<WindowId> topWindowOf(const std::vector<ShellWindow>& stacked, Pid pid) {
  std::optional<WindowId> other;
  for (auto it = stacked.rbegin(); it != stacked.rend(); ++it) {
    if (it->pid != pid || !isManagedType(it->type)) continue;
    const WindowKind kind = kindOfType(it->type);
    if (kind == WindowKind::normal) return it->id;
    if (!other && kind != WindowKind::desktop) other = it->id;
  }
  return other;
}

std::optional<Point> popupOriginOf(const std::vector<ShellWindow>& popups, Pid pid, const RootRect& content) {
  for (auto it = popups.rbegin(); it != popups.rend(); ++it) {
    if (it->pid != pid || !it->shown) continue;
    const RootRect& frame = it->frame;
    if (frame.width != content.width || frame.height != content.height) continue;
    return Point{static_cast<double>(frame.x - content.x), static_cast<double>(frame.y - content.y)};
  }
  return std::nullopt;
}

std::optional<RootRect> frameForPlacement(const ShellWindow& window, const WindowPlacement& placement) {
  if (!placement.x && !placement.y && !placement.width && !placement.height) return std::nullopt;
  const RootRect& frame = window.frame;
  const RootRect& buffer = window.buffer;
  RootRect target = frame;
  if (placement.x) target.x = *placement.x + (frame.x - buffer.x);
  if (placement.y) target.y = *placement.y + (frame.y - buffer.y);
  if (placement.width) target.width = std::max(1, *placement.width - (buffer.width - frame.width));
  if (placement.height) target.height = std::max(1, *placement.height - (buffer.height - frame.height));
  return target;
}

}  // namespace kelp::platform::linux_desktop::gnome
