// The KWin script's text and its report.
#include "platform/linux/kde/kwin_script.h"

#include <nlohmann/json.hpp>

#include <cctype>

namespace kelp::platform::linux_desktop::kde {
namespace {

using Json = nlohmann::json;

// The script proper. REQUEST is replaced by the request as a JSON literal.
// KWin 6 renamed clientList to windowList and activeClient to activeWindow,
// and gives screens and a window's desktops as objects: each is asked for
// in both forms (only 5.27's have been run).
constexpr const char* SCRIPT = R"JS((function () {
  var request = REQUEST;
  var windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
  var rect = function (r) { return r ? [Math.round(r.x), Math.round(r.y), Math.round(r.width), Math.round(r.height)] : null; };
  var onDesktop = function (w) {
    if (w.onAllDesktops) return true;
    if (typeof w.desktop === "number") return w.desktop === workspace.currentDesktop;
    if (w.desktops) return w.desktops.indexOf(workspace.currentDesktop) >= 0;
    return true;
  };
  var kind = function (w) {
    if (w.desktopWindow) return "desktop";
    if (w.dock) return "dock";
    if (w.normalWindow || w.dialog) return "normal";
    return "other";
  };
  var done = false;
  for (var i = 0; i < windows.length; ++i) {
    var w = windows[i];
    if (request.action === "list" || String(w.internalId) !== request.window) continue;
    if (request.action === "activate") {
      if (w.minimized) w.minimized = false;
      if ("activeWindow" in workspace) workspace.activeWindow = w; else workspace.activeClient = w;
      done = true;
    } else if (request.action === "place") {
      var f = request.frame;
      w.frameGeometry = { x: f[0], y: f[1], width: f[2], height: f[3] };
      done = true;
    }
  }
  var list = [];
  for (var j = 0; j < windows.length; ++j) {
    var v = windows[j];
    if (v.deleted) continue;
    list.push({
      id: String(v.internalId), pid: v.pid, caption: String(v.caption || ""),
      resourceClass: String(v.resourceClass || ""), resourceName: String(v.resourceName || ""),
      desktopFile: String(v.desktopFileName || ""), frame: rect(v.frameGeometry), buffer: rect(v.bufferGeometry),
      kind: kind(v), stacking: v.stackingOrder, active: !!v.active, minimized: !!v.minimized,
      shown: !v.minimized && !v.hidden && onDesktop(v), xwayland: typeof v.windowId === "number" && v.windowId > 0
    });
  }
  var screens = [];
  if (workspace.screens) {
    for (var k = 0; k < workspace.screens.length; ++k) screens.push(rect(workspace.screens[k].geometry));
  } else {
    for (var n = 0; n < workspace.numScreens; ++n) screens.push(rect(workspace.clientArea(KWin.ScreenArea, n, workspace.currentDesktop)));
  }
  callDBus(request.service, request.path, request.interface, request.method, request.token,
           JSON.stringify({ done: done, windows: list, screens: screens }));
})();
)JS";

const char* actionName(ScriptRequest::Action action) {
  switch (action) {
    case ScriptRequest::Action::list: return "list";
    case ScriptRequest::Action::activate: return "activate";
    case ScriptRequest::Action::place: return "place";
  }
  return "list";
}

std::optional<RootRect> rectOf(const Json& value) {
  if (!value.is_array() || value.size() != 4) return std::nullopt;
  for (const Json& part : value) {
    if (!part.is_number()) return std::nullopt;
  }
  return RootRect{value[0].get<int>(), value[1].get<int>(), value[2].get<int>(), value[3].get<int>()};
}

WindowKind kindOf(const std::string& name) {
  if (name == "desktop") return WindowKind::desktop;
  if (name == "dock") return WindowKind::dock;
  if (name == "other") return WindowKind::other;
  return WindowKind::normal;
}

template <typename T>
T field(const Json& object, const char* name, T otherwise) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return otherwise;
  if constexpr (std::is_same_v<T, std::string>) {
    return found->is_string() ? found->get<std::string>() : otherwise;
  } else if constexpr (std::is_same_v<T, bool>) {
    return found->is_boolean() ? found->get<bool>() : otherwise;
  } else {
    return found->is_number() ? found->get<T>() : otherwise;
  }
}

}  // namespace

std::string scriptText(const ScriptRequest& request, const std::string& service, const std::string& token) {
  Json literal = {{"action", actionName(request.action)},
                  {"window", request.window},
                  {"service", service},
                  {"path", REPORT_PATH},
                  {"interface", REPORT_INTERFACE},
                  {"method", REPORT_METHOD},
                  {"token", token}};
  if (request.frame) {
    literal["frame"] = {request.frame->x, request.frame->y, request.frame->width, request.frame->height};
  }
  std::string text = SCRIPT;
  // ASCII only: JavaScript strings may not hold every character JSON's may.
  text.replace(text.find("REQUEST"), 7, literal.dump(-1, ' ', true));
  return text;
}

std::optional<WindowId> windowIdOf(const std::string& internalId) {
  WindowId id = 0;
  int digits = 0;
  for (const char c : internalId) {
    if (digits == 16) break;
    if (c == '{' || c == '}' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    id = (id << 4) | static_cast<WindowId>(value);
    ++digits;
  }
  if (digits < 16 || id == 0) return std::nullopt;
  return id;
}

std::optional<KWinReport> parseReport(const std::string& text) {
  const Json parsed = Json::parse(text, nullptr, false);
  if (!parsed.is_object() || !parsed.contains("windows") || !parsed["windows"].is_array()) return std::nullopt;
  KWinReport report;
  report.done = field(parsed, "done", false);
  for (const Json& entry : parsed["windows"]) {
    if (!entry.is_object()) continue;
    KWinWindow window;
    window.internalId = field(entry, "id", std::string());
    const std::optional<WindowId> id = windowIdOf(window.internalId);
    const std::optional<RootRect> frame = entry.contains("frame") ? rectOf(entry["frame"]) : std::nullopt;
    if (!id || !frame) continue;
    window.id = *id;
    window.frame = *frame;
    window.buffer = entry.contains("buffer") ? rectOf(entry["buffer"]).value_or(*frame) : *frame;
    // KWin says 0 for a process it does not know.
    if (const auto pid = field<std::int64_t>(entry, "pid", 0); pid > 0) window.pid = static_cast<Pid>(pid);
    window.caption = field(entry, "caption", std::string());
    window.resourceClass = field(entry, "resourceClass", std::string());
    window.resourceName = field(entry, "resourceName", std::string());
    window.desktopFile = field(entry, "desktopFile", std::string());
    window.kind = kindOf(field(entry, "kind", std::string()));
    window.stacking = field(entry, "stacking", 0);
    window.active = field(entry, "active", false);
    window.minimized = field(entry, "minimized", false);
    window.shown = field(entry, "shown", false);
    window.xwayland = field(entry, "xwayland", false);
    report.windows.push_back(std::move(window));
  }
  if (const auto screens = parsed.find("screens"); screens != parsed.end() && screens->is_array()) {
    for (const Json& screen : *screens) {
      if (const std::optional<RootRect> rect = rectOf(screen); rect && rect->width > 0 && rect->height > 0) {
        report.screens.push_back(*rect);
      }
    }
  }
  return report;
}

RootRect frameForPlacement(const KWinWindow& window, const WindowPlacement& placement) {
  const RootRect& buffer = window.buffer;
  const RootRect& frame = window.frame;
  return RootRect{
      placement.x.value_or(buffer.x) + (frame.x - buffer.x),
      placement.y.value_or(buffer.y) + (frame.y - buffer.y),
      placement.width.value_or(buffer.width) + (frame.width - buffer.width),
      placement.height.value_or(buffer.height) + (frame.height - buffer.height),
  };
}

}  // namespace kelp::platform::linux_desktop::kde
