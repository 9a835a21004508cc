#include "platform/linux/sway_windows.h"

#include <glob.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelp::platform::linux_x11 {
namespace {

using Json = nlohmann::json;

// Message types of the IPC protocol.
constexpr std::uint32_t RUN_COMMAND = 0;
constexpr std::uint32_t GET_OUTPUTS = 3;
constexpr std::uint32_t GET_TREE = 4;
constexpr std::uint32_t GET_VERSION = 7;

constexpr char MAGIC[] = "i3-ipc";
constexpr std::size_t MAGIC_SIZE = sizeof(MAGIC) - 1;
constexpr std::size_t HEADER_SIZE = MAGIC_SIZE + 8;
// A compositor that does not answer within this long is taken as gone for
// this request; the socket is opened anew at the next.
constexpr int REPLY_TIMEOUT_MS = 1000;
// Views read this recently answer again without asking.
constexpr std::int64_t VIEWS_FRESH_MICROS = 50'000;
constexpr std::size_t MAX_REPLY_BYTES = 64u << 20;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

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

std::optional<std::string> socketPath() {
  if (const char* path = std::getenv("SWAYSOCK"); path && *path) return std::string(path);
  // Started from outside sway's session (a service), the socket is still
  // where sway puts it: its runtime folder, named after the user.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return std::nullopt;
  const std::string pattern = std::string(runtime) + "/sway-ipc." + std::to_string(::getuid()) + ".*.sock";
  glob_t found{};
  std::optional<std::string> path;
  if (::glob(pattern.c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0) path = found.gl_pathv[0];
  ::globfree(&found);
  return path;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool readAll(int fd, char* data, std::size_t size) {
  const std::int64_t deadline = nowMicros() + REPLY_TIMEOUT_MS * 1000;
  while (size > 0) {
    const std::int64_t left = (deadline - nowMicros()) / 1000;
    if (left <= 0) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

// ---- decisions ---------------------------------------------------------------

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

// ---- the service -------------------------------------------------------------

SwayWindows::~SwayWindows() { disconnect(); }

bool SwayWindows::connect() {
  if (socket_ >= 0) return true;
  const std::optional<std::string> path = socketPath();
  sockaddr_un address{};
  if (!path || path->size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path->c_str(), path->size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return false;
  }
  socket_ = fd;
  return true;
}

void SwayWindows::disconnect() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  views_.reset();
}

std::optional<Json> SwayWindows::ask(std::uint32_t type, const std::string& payload) {
  if (!connect()) return std::nullopt;
  std::string message(MAGIC, MAGIC_SIZE);
  const auto length = static_cast<std::uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), 4);
  message.append(reinterpret_cast<const char*>(&type), 4);
  message += payload;
  char header[HEADER_SIZE];
  std::uint32_t replyLength = 0;
  std::uint32_t replyType = 0;
  if (!writeAll(socket_, message.data(), message.size()) || !readAll(socket_, header, HEADER_SIZE) ||
      std::memcmp(header, MAGIC, MAGIC_SIZE) != 0) {
    disconnect();
    return std::nullopt;
  }
  std::memcpy(&replyLength, header + MAGIC_SIZE, 4);
  std::memcpy(&replyType, header + MAGIC_SIZE + 4, 4);
  std::string body(replyLength, '\0');
  if (replyLength > MAX_REPLY_BYTES || replyType != type || !readAll(socket_, body.data(), body.size())) {
    disconnect();
    return std::nullopt;
  }
  Json parsed = Json::parse(body, nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

bool SwayWindows::available() { return ask(GET_VERSION).has_value(); }

const std::vector<SwayView>* SwayWindows::views() {
  const std::int64_t now = nowMicros();
  if (views_ && now - viewsReadMicros_ < VIEWS_FRESH_MICROS) return &*views_;
  const std::optional<Json> tree = ask(GET_TREE);
  if (!tree) return nullptr;
  views_ = swayViews(*tree);
  viewsReadMicros_ = now;
  return &*views_;
}

const SwayView* SwayWindows::view(WindowId window) {
  const std::vector<SwayView>* all = views();
  if (!all) return nullptr;
  const auto found = std::find_if(all->begin(), all->end(), [window](const SwayView& v) { return v.id == window; });
  return found != all->end() ? &*found : nullptr;
}

bool SwayWindows::command(const std::string& text) {
  const std::optional<Json> reply = ask(RUN_COMMAND, text);
  // Whatever the command did, the views read before it are out of date.
  views_.reset();
  return reply && swayCommandsSucceeded(*reply);
}

std::optional<std::vector<WindowId>> SwayWindows::clientList() {
  const std::vector<SwayView>* all = views();
  if (!all) return std::nullopt;
  std::vector<WindowId> ids;
  for (const SwayView& v : *all) ids.push_back(v.id);
  return ids;
}

std::optional<std::vector<WindowId>> SwayWindows::stackingList() { return clientList(); }

std::optional<WindowId> SwayWindows::activeWindow() {
  const std::vector<SwayView>* all = views();
  if (!all) return std::nullopt;
  for (const SwayView& v : *all) {
    if (v.focused) return v.id;
  }
  return std::nullopt;
}

ClientWindow SwayWindows::clientWindow(WindowId window) {
  ClientWindow client;
  client.id = window;
  const SwayView* v = view(window);
  if (!v) return client;
  client.pid = v->pid;
  if (!v->appId.empty()) {
    // A Wayland app id is what GTK sets from its application id, and what a
    // desktop entry is named after; Xwayland windows carry their X class.
    client.wmClass = v->appId;
    client.wmInstance = v->instance ? v->instance : std::optional(v->appId);
    if (!v->xwayland) client.gtkApplicationId = v->appId;
  }
  return client;
}

std::optional<Pid> SwayWindows::windowPid(WindowId window) {
  const SwayView* v = view(window);
  return v ? v->pid : std::nullopt;
}

WindowTitle SwayWindows::windowTitle(WindowId window) {
  const SwayView* v = view(window);
  if (!v || !v->name) return {};
  return {true, v->name};
}

bool SwayWindows::isViewable(WindowId window) {
  const SwayView* v = view(window);
  return v && v->visible;
}

std::optional<RootRect> SwayWindows::clientRect(WindowId window) {
  const SwayView* v = view(window);
  return v ? std::optional(v->content) : std::nullopt;
}

std::optional<RootRect> SwayWindows::frameRect(WindowId window) {
  const SwayView* v = view(window);
  return v ? std::optional(v->frame) : std::nullopt;
}

std::optional<WindowId> SwayWindows::topWindowOf(Pid pid) {
  const std::vector<SwayView>* all = views();
  if (!all) return std::nullopt;
  for (auto it = all->rbegin(); it != all->rend(); ++it) {
    if (it->pid == pid) return it->id;
  }
  return std::nullopt;
}

bool SwayWindows::activateWindow(WindowId window) {
  if (!view(window)) return false;
  return command("[con_id=" + std::to_string(window) + "] focus");
}

bool SwayWindows::placeWindow(WindowId window, const WindowPlacement& placement) {
  const SwayView* v = view(window);
  if (!v) return false;
  const std::optional<std::vector<std::string>> commands = swayPlacementCommands(*v, placement);
  if (!commands) return true;
  if (commands->empty()) return false;
  std::string joined;
  for (const std::string& one : *commands) joined += (joined.empty() ? "" : "; ") + one;
  return command(joined);
}

std::optional<std::vector<MonitorRect>> SwayWindows::monitors() {
  const std::optional<Json> outputs = ask(GET_OUTPUTS);
  if (!outputs) return std::nullopt;
  return swayOutputs(*outputs);
}

bool SwayWindows::placesWithoutTelling(Pid pid) {
  const std::vector<SwayView>* all = views();
  if (!all) return true;
  bool anyView = false;
  for (const SwayView& v : *all) {
    if (v.pid != pid) continue;
    if (!v.xwayland) return true;
    anyView = true;
  }
  return !anyView;
}

}  // namespace kelp::platform::linux_x11
