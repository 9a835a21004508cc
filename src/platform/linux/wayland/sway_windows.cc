// Talking to sway over its IPC socket: the tree, focus and placement.
#include "platform/linux/wayland/sway_windows.h"

#include <glob.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelp::platform::linux_desktop::wayland {
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

std::optional<std::string> swaySocketPath() {
  // A SWAYSOCK that names no socket means no sway: whoever set it meant that
  // one, not whichever other sway runs here.
  if (const char* path = std::getenv("SWAYSOCK"); path && *path) {
    struct stat info {};
    if (::stat(path, &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
    return std::string(path);
  }
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

// ---- the service -------------------------------------------------------------

SwayWindows::~SwayWindows() { disconnect(); }

bool SwayWindows::connect() {
  if (socket_ >= 0) return true;
  const std::optional<std::string> path = swaySocketPath();
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
  const SwayView* v = view(window);
  if (!v) return clientWindowOfAppId(window, std::nullopt, "");
  ClientWindow client = clientWindowOfAppId(window, v->pid, v->appId);
  // Xwayland windows carry their X class and instance, and no GTK id.
  if (v->instance && !v->appId.empty()) client.wmInstance = v->instance;
  if (v->xwayland) client.gtkApplicationId.reset();
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
  if (!v->floating && (placement.x || placement.y || placement.width || placement.height)) {
    // Sway places a tiled window itself; a person who wants it elsewhere
    // makes it float first, and so does this.
    if (!command("[con_id=" + std::to_string(window) + "] floating enable")) return false;
    v = view(window);
    if (!v || !v->floating) return false;
  }
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

}  // namespace kelp::platform::linux_desktop::wayland
