// The toplevel list's windows, their processes and activation.
#include "platform/linux/wayland/toplevel_windows.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace kelp::platform::linux_desktop::wayland {
namespace {

// The kernel keeps a process's comm in 16 bytes, the terminating NUL among them.
constexpr std::size_t COMM_LENGTH = 15;
// Toplevels asked about this recently answer again without a roundtrip.
constexpr std::int64_t FRESH_MICROS = 50'000;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool named(const ProcessFacts& process, const std::vector<std::string>& names) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return (!process.exeName.empty() && process.exeName == name) ||
           (!process.comm.empty() && process.comm == name.substr(0, COMM_LENGTH));
  });
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<std::string> waylandDisplayIn(const std::string& environ) {
  constexpr std::string_view KEY = "WAYLAND_DISPLAY=";
  for (std::size_t at = 0; at < environ.size();) {
    std::size_t end = environ.find('\0', at);
    if (end == std::string::npos) end = environ.size();
    const std::string_view entry(environ.data() + at, end - at);
    if (entry.starts_with(KEY)) return std::string(entry.substr(KEY.size()));
    at = end + 1;
  }
  return std::nullopt;
}

void setState(ToplevelWindows::Toplevel& toplevel, wl_array* states) {
  toplevel.activated = false;
  toplevel.minimized = false;
  const auto* state = static_cast<const std::uint32_t*>(states->data);
  for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
    if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) toplevel.activated = true;
    if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) toplevel.minimized = true;
  }
}

}  // namespace

// ---- which process shows a window ------------------------------------------

std::vector<std::string> processNamesFor(std::string_view appId) {
  std::vector<std::string> names;
  if (appId.empty()) return names;
  names.emplace_back(appId);
  const std::size_t dot = appId.rfind('.');
  std::string last(dot == std::string_view::npos ? appId : appId.substr(dot + 1));
  std::transform(last.begin(), last.end(), last.begin(), [](unsigned char c) { return std::tolower(c); });
  if (!last.empty() && last != names.front()) names.push_back(std::move(last));
  return names;
}

std::optional<Pid> processForAppId(std::string_view appId, const std::vector<ProcessFacts>& processes) {
  const std::vector<std::string> names = processNamesFor(appId);
  const ProcessFacts* best = nullptr;
  for (const ProcessFacts& process : processes) {
    if (!named(process, names)) continue;
    const auto rank = [](const ProcessFacts& p) { return std::tuple(p.sameDisplay, p.startTicks, p.pid); };
    if (!best || rank(process) > rank(*best)) best = &process;
  }
  return best ? std::optional(best->pid) : std::nullopt;
}

std::optional<std::uint64_t> startTicksOf(std::string_view stat) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::istringstream fields(std::string(stat.substr(close + 1)));
  std::string field;
  fields >> field;  // the state, field 3
  if (field == "Z") return std::nullopt;
  for (int skipped = 4; skipped < 22; ++skipped) fields >> field;
  std::uint64_t ticks = 0;
  if (!(fields >> ticks)) return std::nullopt;
  return ticks;
}

std::vector<ProcessFacts> processesNamed(const std::vector<std::string>& names) {
  std::vector<ProcessFacts> found;
  if (names.empty()) return found;
  const char* ownDisplay = std::getenv("WAYLAND_DISPLAY");
  DIR* proc = ::opendir("/proc");
  if (!proc) return found;
  const uid_t self = ::getuid();
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string folder = std::string("/proc/") + entry->d_name;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || info.st_uid != self) continue;
    ProcessFacts process;
    process.pid = static_cast<Pid>(pid);
    process.comm = readFile(folder + "/comm");
    if (!process.comm.empty() && process.comm.back() == '\n') process.comm.pop_back();
    std::array<char, 4096> exe{};
    const ssize_t length = ::readlink((folder + "/exe").c_str(), exe.data(), exe.size() - 1);
    if (length > 0) {
      std::string_view path(exe.data(), static_cast<std::size_t>(length));
      // An executable replaced while it runs reads "path (deleted)".
      if (path.ends_with(" (deleted)")) path.remove_suffix(10);
      process.exeName = std::string(path.substr(path.rfind('/') + 1));
    }
    if (!named(process, names)) continue;
    const std::optional<std::uint64_t> ticks = startTicksOf(readFile(folder + "/stat"));
    if (!ticks) continue;
    process.startTicks = *ticks;
    const std::optional<std::string> display = waylandDisplayIn(readFile(folder + "/environ"));
    process.sameDisplay = ownDisplay && display && *display == ownDisplay;
    found.push_back(std::move(process));
  }
  ::closedir(proc);
  return found;
}

// ---- the service -------------------------------------------------------------

const zwlr_foreign_toplevel_handle_v1_listener ToplevelWindows::HANDLE_LISTENER = {
    .title =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
          static_cast<Toplevel*>(data)->title = title ? title : "";
        },
    .app_id =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
          auto* toplevel = static_cast<Toplevel*>(data);
          const std::string now = appId ? appId : "";
          if (now != toplevel->appId) toplevel->pid.reset();
          toplevel->appId = now;
        },
    .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .state = [](void* data, zwlr_foreign_toplevel_handle_v1*,
                wl_array* states) { setState(*static_cast<Toplevel*>(data), states); },
    .done = [](void* data, zwlr_foreign_toplevel_handle_v1*) { static_cast<Toplevel*>(data)->described = true; },
    .closed =
        [](void* data, zwlr_foreign_toplevel_handle_v1*) {
          auto* toplevel = static_cast<Toplevel*>(data);
          toplevel->owner->closed(toplevel);
        },
    .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

ToplevelWindows::ToplevelWindows(WaylandConnection& wayland) : wayland_(wayland) {
  wayland_.onToplevel([this](zwlr_foreign_toplevel_handle_v1* handle) { announced(handle); });
  // The handles go with the connection; a new one announces its windows
  // anew, under new ids.
  dropListener_ = wayland_.onDrop([this] { forgetAll(); });
}

ToplevelWindows::ToplevelWindows()
    : own_(std::make_unique<WaylandConnection>()), wayland_(*own_) {
  wayland_.onToplevel([this](zwlr_foreign_toplevel_handle_v1* handle) { announced(handle); });
  dropListener_ = wayland_.onDrop([this] { forgetAll(); });
}

ToplevelWindows::~ToplevelWindows() {
  wayland_.cancelOnDrop(dropListener_);
  wayland_.onToplevel(nullptr);
  forgetAll();
}

void ToplevelWindows::announced(zwlr_foreign_toplevel_handle_v1* handle) {
  auto toplevel = std::make_unique<Toplevel>();
  toplevel->owner = this;
  toplevel->id = nextId_++;
  toplevel->handle = handle;
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &HANDLE_LISTENER, toplevel.get());
  toplevels_.push_back(std::move(toplevel));
}

void ToplevelWindows::closed(const Toplevel* toplevel) {
  std::erase_if(toplevels_, [&](const std::unique_ptr<Toplevel>& t) {
    if (t.get() != toplevel) return false;
    zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    return true;
  });
}

void ToplevelWindows::forgetAll() {
  for (const auto& toplevel : toplevels_) zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
  toplevels_.clear();
  askedMicros_ = 0;
}

std::vector<std::unique_ptr<ToplevelWindows::Toplevel>>* ToplevelWindows::toplevels() {
  if (!wayland_.display()) return nullptr;
  const std::int64_t now = nowMicros();
  if (now - askedMicros_ >= FRESH_MICROS) {
    if (!wayland_.roundtrip()) return nullptr;
    askedMicros_ = now;
  }
  return &toplevels_;
}

ToplevelWindows::Toplevel* ToplevelWindows::find(WindowId window) {
  auto* all = toplevels();
  if (!all) return nullptr;
  for (const auto& toplevel : *all) {
    if (toplevel->id == window && toplevel->described) return toplevel.get();
  }
  return nullptr;
}

bool ToplevelWindows::available() { return wayland_.display() && wayland_.globals().toplevels; }

std::optional<std::vector<WindowId>> ToplevelWindows::clientList() {
  auto* all = toplevels();
  if (!all || !wayland_.globals().toplevels) return std::nullopt;
  std::vector<WindowId> ids;
  for (const auto& toplevel : *all) {
    if (toplevel->described) ids.push_back(toplevel->id);
  }
  return ids;
}

std::optional<std::vector<WindowId>> ToplevelWindows::stackingList() {
  // The protocol tells nothing of the stacking order. The announcement
  // order stands in for it, with the active window on top, where a person
  // sees it and where "frontmost" looks.
  std::optional<std::vector<WindowId>> ids = clientList();
  const std::optional<WindowId> active = activeWindow();
  if (ids && active) {
    std::erase(*ids, *active);
    ids->push_back(*active);
  }
  return ids;
}

std::optional<WindowId> ToplevelWindows::activeWindow() {
  auto* all = toplevels();
  if (!all) return std::nullopt;
  for (const auto& toplevel : *all) {
    if (toplevel->described && toplevel->activated) return toplevel->id;
  }
  return std::nullopt;
}

ClientWindow ToplevelWindows::clientWindow(WindowId window) {
  const Toplevel* toplevel = find(window);
  if (!toplevel) return clientWindowOfAppId(window, std::nullopt, "");
  return clientWindowOfAppId(window, windowPid(window), toplevel->appId);
}

std::optional<Pid> ToplevelWindows::windowPid(WindowId window) {
  Toplevel* toplevel = find(window);
  if (!toplevel) return std::nullopt;
  if (!toplevel->pid) toplevel->pid = processForAppId(toplevel->appId, processesNamed(processNamesFor(toplevel->appId)));
  return toplevel->pid;
}

WindowTitle ToplevelWindows::windowTitle(WindowId window) {
  const Toplevel* toplevel = find(window);
  if (!toplevel || !toplevel->title) return {};
  return {true, toplevel->title};
}

bool ToplevelWindows::isViewable(WindowId window) {
  const Toplevel* toplevel = find(window);
  return toplevel && !toplevel->minimized;
}

std::optional<WindowId> ToplevelWindows::topWindowOf(Pid pid) {
  const std::optional<std::vector<WindowId>> ids = stackingList();
  if (!ids) return std::nullopt;
  for (auto it = ids->rbegin(); it != ids->rend(); ++it) {
    if (windowPid(*it) == pid) return *it;
  }
  return std::nullopt;
}

bool ToplevelWindows::activateWindow(WindowId window) {
  const Toplevel* toplevel = find(window);
  wl_seat* seat = wayland_.globals().seat;
  if (!toplevel || !seat) return false;
  zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, seat);
  askedMicros_ = 0;  // the active window changes
  return wayland_.flush();
}

}  // namespace kelp::platform::linux_desktop::wayland
