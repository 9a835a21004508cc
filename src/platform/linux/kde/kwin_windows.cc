// KWin's windows through a KWin script: loading, running and unloading it
// over D-Bus, and the report it calls back with.
#include "platform/linux/kde/kwin_windows.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "platform/linux/session_bus.h"
#include "platform/linux/wayland/layout.h"

namespace kelp::platform::linux_desktop::kde {
namespace {

constexpr const char* KWIN_NAME = "org.kde.KWin";
constexpr const char* SCRIPTING_PATH = "/Scripting";
constexpr const char* SCRIPTING_INTERFACE = "org.kde.kwin.Scripting";
constexpr const char* SCRIPT_INTERFACE = "org.kde.kwin.Script";

// How long KWin may take to answer one call, and to run a script and call
// back: it reads the script's file on a thread of its own after run()
// answered, then runs it on its main thread.
constexpr int CALL_TIMEOUT_MS = 1000;
constexpr int REPORT_WAIT_MS = 2000;
// Windows read this recently answer again without asking.
constexpr std::int64_t WINDOWS_FRESH_MICROS = 50'000;

constexpr const char* REPORT_XML =
    "<node><interface name='org.kelp.cua.KWinReport'>"
    "<method name='Report'><arg type='s' name='token' direction='in'/>"
    "<arg type='s' name='report' direction='in'/></method>"
    "</interface></node>";

using NodeInfoOwner = std::unique_ptr<GDBusNodeInfo, Releaser<g_dbus_node_info_unref>>;

std::int64_t nowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

GDBusInterfaceInfo* reportInterface() {
  static const NodeInfoOwner node(g_dbus_node_info_new_for_xml(REPORT_XML, nullptr));
  return node ? node->interfaces[0] : nullptr;
}

GVariantOwner call(GDBusConnection* bus, const char* path, const char* interface, const char* method,
                   GVariant* parameters, const GVariantType* replyType) {
  return GVariantOwner(g_dbus_connection_call_sync(bus, KWIN_NAME, path, interface, method, parameters, replyType,
                                                   G_DBUS_CALL_FLAGS_NO_AUTO_START, CALL_TIMEOUT_MS, nullptr,
                                                   nullptr));
}

// The script as a file KWin can read: in the private runtime folder where
// there is one. None when it cannot be written.
std::optional<std::string> writeScript(const std::string& text) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path = std::string(runtime && *runtime ? runtime : g_get_tmp_dir()) + "/kelp-cua-kwin-XXXXXX.js";
  const int fd = mkstemps(path.data(), 3);
  if (fd < 0) return std::nullopt;
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  close(fd);
  if (written < text.size()) {
    unlink(path.c_str());
    return std::nullopt;
  }
  return path;
}

}  // namespace

KWinWindows::KWinWindows() : context_(g_main_context_new()) {}

KWinWindows::~KWinWindows() { disconnect(); }

bool KWinWindows::connect() {
  if (bus_ && !g_dbus_connection_is_closed(bus_.get())) return true;
  disconnect();
  bus_ = connectToSessionBus(CALL_TIMEOUT_MS);
  GDBusInterfaceInfo* interface = reportInterface();
  if (!bus_ || !interface) return false;
  static const GDBusInterfaceVTable VTABLE = {onCall, nullptr, nullptr, {}};
  // Calls to the object are dispatched in the context that is the
  // thread's default while it is registered: ours, iterated while waiting.
  g_main_context_push_thread_default(context_.get());
  registration_ = g_dbus_connection_register_object(bus_.get(), REPORT_PATH, interface, &VTABLE, this, nullptr, nullptr);
  g_main_context_pop_thread_default(context_.get());
  if (registration_ == 0) {
    bus_ = {};
    return false;
  }
  return true;
}

void KWinWindows::disconnect() {
  if (bus_ && registration_ != 0) g_dbus_connection_unregister_object(bus_.get(), registration_);
  registration_ = 0;
  bus_ = {};
  windows_.reset();
  // Calls already queued for the object go with the context's sources.
  while (g_main_context_iteration(context_.get(), FALSE)) {
  }
}

void KWinWindows::onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
  auto* windows = static_cast<KWinWindows*>(self);
  if (g_strcmp0(method, REPORT_METHOD) == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) {
    const gchar* token = nullptr;
    const gchar* report = nullptr;
    g_variant_get(parameters, "(&s&s)", &token, &report);
    // A report that came too late for its request is dropped.
    if (!windows->awaitedToken_.empty() && windows->awaitedToken_ == token) windows->report_ = report;
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

std::optional<KWinReport> KWinWindows::run(const ScriptRequest& request) {
  if (!connect()) return std::nullopt;
  const std::string token = std::to_string(::getpid()) + "-" + std::to_string(++requests_);
  const std::string plugin = "kelp-cua-" + token;
  const std::optional<std::string> file =
      writeScript(scriptText(request, g_dbus_connection_get_unique_name(bus_.get()), token));
  if (!file) return std::nullopt;
  awaitedToken_ = token;
  report_.reset();
  const std::int64_t deadline = nowMicros() + REPORT_WAIT_MS * 1000;

  const GVariantOwner loaded = call(bus_.get(), SCRIPTING_PATH, SCRIPTING_INTERFACE, "loadScript",
                                    g_variant_new("(ss)", file->c_str(), plugin.c_str()), G_VARIANT_TYPE("(i)"));
  gint32 id = -1;
  if (loaded) g_variant_get(loaded.get(), "(i)", &id);
  if (id >= 0) {
    // KWin 5 puts each script at /<id>, KWin 6 at /Scripting/Script<id>.
    bool started = false;
    for (const std::string& path : {"/" + std::to_string(id), "/Scripting/Script" + std::to_string(id)}) {
      if (call(bus_.get(), path.c_str(), SCRIPT_INTERFACE, "run", nullptr, nullptr)) {
        started = true;
        break;
      }
    }
    if (started) {
      while (!report_) {
        const std::int64_t left = deadline - nowMicros();
        if (left <= 0) break;
        GSourceOwner timer(g_timeout_source_new(static_cast<guint>(left / 1000 + 1)));
        g_source_set_callback(timer.get(), [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(timer.get(), context_.get());
        g_main_context_iteration(context_.get(), TRUE);
        g_source_destroy(timer.get());
      }
    }
  }
  // A script that did not report in time is unloaded all the same; KWin
  // stops it with that.
  if (loaded) {
    call(bus_.get(), SCRIPTING_PATH, SCRIPTING_INTERFACE, "unloadScript", g_variant_new("(s)", plugin.c_str()),
         G_VARIANT_TYPE("(b)"));
  }
  unlink(file->c_str());
  awaitedToken_.clear();
  std::optional<std::string> text = std::exchange(report_, std::nullopt);
  if (!text) return std::nullopt;
  return parseReport(*text);
}

const std::vector<KWinWindow>* KWinWindows::windows() {
  const std::int64_t now = nowMicros();
  if (windows_ && now - windowsReadMicros_ < WINDOWS_FRESH_MICROS) return &*windows_;
  std::optional<KWinReport> report = run({});
  if (!report) {
    windows_.reset();
    return nullptr;
  }
  windows_ = std::move(report->windows);
  screens_ = std::move(report->screens);
  windowsReadMicros_ = nowMicros();
  return &*windows_;
}

const KWinWindow* KWinWindows::window(WindowId id) {
  const std::vector<KWinWindow>* all = windows();
  if (!all) return nullptr;
  const auto found = std::find_if(all->begin(), all->end(), [id](const KWinWindow& w) { return w.id == id; });
  return found != all->end() ? &*found : nullptr;
}

bool KWinWindows::available() { return windows() != nullptr; }

std::optional<std::vector<WindowId>> KWinWindows::clientList() {
  const std::vector<KWinWindow>* all = windows();
  if (!all) return std::nullopt;
  std::vector<WindowId> ids;
  for (const KWinWindow& w : *all) ids.push_back(w.id);
  return ids;
}

std::optional<std::vector<WindowId>> KWinWindows::stackingList() {
  const std::vector<KWinWindow>* all = windows();
  if (!all) return std::nullopt;
  std::vector<const KWinWindow*> sorted;
  for (const KWinWindow& w : *all) sorted.push_back(&w);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const KWinWindow* a, const KWinWindow* b) { return a->stacking < b->stacking; });
  std::vector<WindowId> ids;
  for (const KWinWindow* w : sorted) ids.push_back(w->id);
  return ids;
}

std::optional<WindowId> KWinWindows::activeWindow() {
  const std::vector<KWinWindow>* all = windows();
  if (!all) return std::nullopt;
  for (const KWinWindow& w : *all) {
    if (w.active) return w.id;
  }
  return std::nullopt;
}

ClientWindow KWinWindows::clientWindow(WindowId id) {
  const KWinWindow* w = window(id);
  if (!w) return clientWindowOfAppId(id, std::nullopt, "");
  ClientWindow client = clientWindowOfAppId(id, w->pid, w->resourceClass);
  // Xwayland windows carry their X class and instance, and no GTK id.
  if (w->xwayland) {
    if (!w->resourceName.empty()) client.wmInstance = w->resourceName;
    client.gtkApplicationId.reset();
  }
  client.kind = w->kind;
  return client;
}

std::optional<Pid> KWinWindows::windowPid(WindowId id) {
  const KWinWindow* w = window(id);
  return w ? w->pid : std::nullopt;
}

WindowTitle KWinWindows::windowTitle(WindowId id) {
  const KWinWindow* w = window(id);
  if (!w) return {};
  return {true, w->caption};
}

bool KWinWindows::isViewable(WindowId id) {
  const KWinWindow* w = window(id);
  return w && w->shown;
}

std::optional<RootRect> KWinWindows::clientRect(WindowId id) {
  const KWinWindow* w = window(id);
  return w ? std::optional(w->buffer) : std::nullopt;
}

std::optional<RootRect> KWinWindows::frameRect(WindowId id) {
  const KWinWindow* w = window(id);
  return w ? std::optional(w->frame) : std::nullopt;
}

std::optional<WindowId> KWinWindows::topWindowOf(Pid pid) {
  const std::optional<std::vector<WindowId>> stacking = stackingList();
  if (!stacking) return std::nullopt;
  std::optional<WindowId> top;
  for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
    const KWinWindow* w = window(*it);
    if (!w || w->pid != pid) continue;
    if (w->kind == WindowKind::normal) return w->id;
    if (!top) top = w->id;
  }
  return top;
}

bool KWinWindows::activateWindow(WindowId id) {
  const KWinWindow* w = window(id);
  if (!w) return false;
  const std::optional<KWinReport> report = run({ScriptRequest::Action::activate, w->internalId, std::nullopt});
  windows_.reset();
  return report && report->done;
}

bool KWinWindows::placeWindow(WindowId id, const WindowPlacement& placement) {
  const KWinWindow* w = window(id);
  if (!w) return false;
  if (!placement.x && !placement.y && !placement.width && !placement.height) return true;
  const std::optional<KWinReport> report =
      run({ScriptRequest::Action::place, w->internalId, frameForPlacement(*w, placement)});
  windows_.reset();
  return report && report->done;
}

std::optional<std::vector<MonitorRect>> KWinWindows::monitors() {
  if (!windows()) return std::nullopt;
  // A connection to the compositor would do as well, but KWin takes long
  // to let a large program connect (0.7 s for a 60 MB executable).
  std::vector<wayland::OutputPlace> places;
  for (const RootRect& screen : screens_) places.push_back({"", screen.x, screen.y, screen.width, screen.height});
  return wayland::monitorsFromOutputs(places);
}

bool KWinWindows::placesWithoutTelling(Pid pid) {
  const std::vector<KWinWindow>* all = windows();
  if (!all) return true;
  bool any = false;
  for (const KWinWindow& w : *all) {
    if (w.pid != pid) continue;
    if (!w.xwayland) return true;
    any = true;
  }
  return !any;
}

}  // namespace kelp::platform::linux_desktop::kde
