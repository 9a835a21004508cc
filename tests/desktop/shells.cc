#include "desktop/shells.h"

#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace kelp::test {
namespace {

using desktop_bus::call;
using desktop_bus::VariantPtr;
namespace fs = std::filesystem;

constexpr const char* WAYLAND_NAME = "wayland-0";
constexpr const char* EXTENSION_UUID = "kelp-cua@kelp.dev";
// A picture of the whole screen takes a software renderer a while.
constexpr int SCREENSHOT_TIMEOUT_MS = 15000;
// What GNOME Shell's Eval hands back for each window: JSON, as Eval
// stringifies the value of the expression.
constexpr const char* GNOME_WINDOWS_SCRIPT = R"js(global.get_window_actors().map(a => {
  const w = a.meta_window;
  const r = w.get_frame_rect();
  return {id: String(w.get_id()), pid: w.get_pid(), title: w.get_title() || '', x: r.x, y: r.y,
          w: r.width, h: r.height, focused: w.has_focus(), shown: a.visible && !w.minimized};
}))js";

struct PixbufUnref {
  void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    reset();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  ~OwnedFd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A PipeWire or WirePlumber configuration without its real-time module:
// outside a login session it would ask for a priority it cannot get, and
// nothing of a test needs one.
std::string withoutRealtimeModule(std::string config) {
  const std::size_t start = config.find("{ name = libpipewire-module-rt");
  if (start == std::string::npos) return config;
  int depth = 0;
  for (std::size_t i = start; i < config.size(); ++i) {
    if (config[i] == '{') ++depth;
    if (config[i] == '}' && --depth == 0) return config.erase(start, i + 1 - start);
  }
  return config;
}


std::string systemBusSocket(const std::string& folder) { return folder + "/system_bus"; }

std::string realPath(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  return error ? path : canonical.string();
}

// A desktop entry that grants `exec` what KWin keeps from other programs.
std::string grantingEntry(const std::string& name, const std::string& exec) {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
         "\nNoDisplay=true\n"
         "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n"
         "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
}

// The shipped entry with Exec set to the built helper, whose path KWin
// compares with the executable of a client that asks.
std::string entryFor(const std::string& shipped, const std::string& exec) {
  std::istringstream lines(shipped);
  std::string line;
  std::string entry;
  while (std::getline(lines, line)) {
    if (line.starts_with("Exec=") || line.starts_with("TryExec=")) line = line.substr(0, line.find('=') + 1) + exec;
    entry += line + "\n";
  }
  return entry;
}

double numberIn(GVariant* dictionary, const char* key) {
  VariantPtr value(g_variant_lookup_value(dictionary, key, nullptr));
  if (!value) return 0;
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_DOUBLE)) return g_variant_get_double(value.get());
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return g_variant_get_int32(value.get());
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(value.get());
  return 0;
}

std::string stringIn(GVariant* dictionary, const char* key) {
  const gchar* text = nullptr;
  return g_variant_lookup(dictionary, key, "&s", &text) && text ? text : "";
}

// Reads `fd` to its end, or until nothing came for `limit`.
std::string readAll(int fd, std::chrono::milliseconds limit) {
  std::string data;
  char buffer[65536];
  for (;;) {
    pollfd wanted{fd, POLLIN, 0};
    if (::poll(&wanted, 1, static_cast<int>(limit.count())) <= 0) return data;
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0) return data;
    data.append(buffer, static_cast<std::size_t>(count));
  }
}

}  // namespace

std::string busConfig(const char* type, const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>" + std::string(type) + "</type>\n"
         "  <keep_umask/>\n"
         "  <listen>unix:path=" + socket + "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

ShellDesktop::ShellDesktop(DisplayServer server, SessionParts& session) : server_(server), session_(session) {}

ShellDesktop::~ShellDesktop() {
  // Our own connection first, so that the shell does not wait on it.
  bus_ = desktop_bus::Connection();
  compositor_.reset();
  wireplumber_.reset();
  pipewire_.reset();
  systemBus_.reset();
}

std::vector<std::string> ShellDesktop::missingPrograms(DisplayServer server) {
  const std::string path = Environment::inherit().get("PATH").value_or("/usr/bin:/bin");
  std::vector<std::string> programs;
  if (server == DisplayServer::gnome) {
    programs = {"gnome-shell", "pipewire", "wireplumber"};
    if (fs::exists("/run/systemd/seats")) programs.insert(programs.end(), {"unshare", "mount"});
  } else {
    programs = {"kwin_wayland"};
  }
  std::vector<std::string> missing;
  for (const std::string& program : programs) {
    if (!findProgram(program, path)) missing.push_back(program);
  }
  return missing;
}

void ShellDesktop::describe(DisplayServer server, const std::string& folder, Environment& environment) {
  environment.set("WAYLAND_DISPLAY", WAYLAND_NAME);
  environment.set("GDK_BACKEND", "wayland");
  environment.set("QT_QPA_PLATFORM", "wayland");
  environment.set("XDG_SESSION_TYPE", "wayland");
  environment.set("XDG_CURRENT_DESKTOP", server == DisplayServer::gnome ? "GNOME" : "KDE");
  environment.set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + systemBusSocket(folder));
  // The shell and the applications share one key file: GTK on Wayland reads
  // enable-animations from it, so that nothing moves on its own.
  environment.set("GSETTINGS_BACKEND", "keyfile");
  environment.unset("DISPLAY");
}

std::string ShellDesktop::socketPath() const { return session_.runtimeFolder() + "/" + WAYLAND_NAME; }

Environment ShellDesktop::shellEnvironment() const {
  Environment environment = session_.programEnvironment();
  // The shell makes this socket; with the variable set it would take itself
  // for a nested compositor.
  environment.unset("WAYLAND_DISPLAY");
  return environment;
}

void ShellDesktop::start() {
  std::string error;
  bus_ = desktop_bus::connectBus(session_.sessionBusAddress(), error);
  if (!bus_) session_.fail("the shell's checks cannot reach the session bus: " + error);
  startSystemBus();
  if (gnome()) {
    startPipeWire();
    installExtension();
    startGnomeShell();
  } else {
    installDesktopEntries();
    startKWin();
  }
}

void ShellDesktop::startSystemBus() {
  // GNOME Shell and KWin ask the system bus about power, networks and
  // logins: an empty bus of the session's own answers that nobody is there.
  const std::string config = session_.folder() + "/system.conf";
  writeText(config, busConfig("system", systemBusSocket(session_.folder())));
  systemBus_ = session_.startProgram({"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile"},
                                     "system-bus", session_.programEnvironment());
  std::string error;
  desktop_bus::Connection probe;
  session_.waitUntil(
      "the system bus at " + systemBusSocket(session_.folder()),
      [&] {
        probe = desktop_bus::connectBus("unix:path=" + systemBusSocket(session_.folder()), error);
        return bool(probe);
      },
      {systemBus_.get()}, &error);
}

void ShellDesktop::writeSettings() {
  const std::string config = session_.homeFolder() + "/.config";
  // The accessibility bus's switch is this setting: written later, the key
  // file would turn accessibility off under a running session.
  std::string keyfile =
      "[org/gnome/desktop/interface]\n"
      "enable-animations=false\n"
      "toolkit-accessibility=" + std::string(session_.desktopOptions().accessibility ? "true" : "false") + "\n";
  if (gnome()) {
    keyfile +=
        "\n[org/gnome/shell]\n"
        "disable-user-extensions=false\n"
        "enabled-extensions=['" + std::string(EXTENSION_UUID) + "']\n"
        // No welcome tour over the first session.
        "welcome-dialog-last-shown-version='999'\n";
  } else {
    // KWin's own effects, at no length.
    writeText(config + "/kdeglobals", "[KDE]\nAnimationDurationFactor=0\n");
  }
  writeText(config + "/glib-2.0/settings/keyfile", keyfile);
}

void ShellDesktop::startPipeWire() {
  // The user's configuration folder takes precedence over the system's.
  const std::string config = session_.homeFolder() + "/.config";
  for (const auto& [from, to] : {std::pair{"/usr/share/pipewire/pipewire.conf", "/pipewire/pipewire.conf"},
                                 std::pair{"/usr/share/wireplumber/wireplumber.conf", "/wireplumber/wireplumber.conf"}}) {
    const std::string text = readText(from);
    if (text.empty()) session_.fail(std::string("cannot read ") + from);
    writeText(config + to, withoutRealtimeModule(text));
  }
  const std::string socket = session_.runtimeFolder() + "/pipewire-0";
  pipewire_ = session_.startProgram({"pipewire"}, "pipewire", session_.programEnvironment());
  session_.waitUntil("PipeWire's socket " + socket, [&] { return fs::exists(socket); }, {pipewire_.get()});
  // The screen cast's stream finds its way to a consumer through the
  // session manager.
  wireplumber_ = session_.startProgram({"wireplumber"}, "wireplumber", session_.programEnvironment());
}

void ShellDesktop::installExtension() {
  const std::string script = std::string(KELP_SOURCE_DIR) + "/scripts/install-gnome-extension.sh";
  if (!fs::exists(script)) return;
  ProcessOptions options;
  options.argv = {"sh", script, session_.homeFolder() + "/.local/share"};
  options.environment = session_.programEnvironment();
  const RunResult result = runProgram(std::move(options), "", Milliseconds(20000));
  if (!result.status.success()) {
    session_.fail("scripts/install-gnome-extension.sh failed (" + result.status.describe() + "): " + result.err);
  }
  extensionInstalled_ = true;
}

void ShellDesktop::startGnomeShell() {
  const DesktopOptions& options = session_.desktopOptions();
  std::vector<std::string> argv = {"gnome-shell", "--headless", "--virtual-monitor",
                                   std::to_string(options.width) + "x" + std::to_string(options.height),
                                   "--wayland", "--no-x11", "--wayland-display", WAYLAND_NAME,
                                   // Eval and Screenshot for the tests' own view.
                                   "--unsafe-mode"};
  // Where systemd's login records exist but no logind runs (a container of
  // a machine that once booted systemd), mutter takes them for a seat it
  // must ask logind about, and fails; hidden, it runs headless as it should.
  if (fs::exists("/run/systemd/seats")) {
    std::vector<std::string> hide = {"unshare", "--mount", "--propagation", "private"};
    if (::geteuid() != 0) hide.insert(hide.end(), {"--user", "--map-current-user"});
    hide.insert(hide.end(), {"sh", "-c", "mount -t tmpfs kelp-hidden /run/systemd && exec \"$0\" \"$@\""});
    argv.insert(argv.begin(), hide.begin(), hide.end());
  }
  compositor_ = session_.startProgram(argv, "gnome-shell", shellEnvironment());
  std::vector<Process*> vital = {compositor_.get(), pipewire_.get()};
  session_.waitUntil("GNOME Shell on the session bus (org.gnome.Shell)", [&] { return ownsName("org.gnome.Shell"); },
                     vital);
  session_.waitUntil("GNOME Shell's Wayland socket " + socketPath(), [&] { return fs::exists(socketPath()); }, vital);
  // It starts in the Overview, where no window can be clicked, and shows it
  // once more at the end of its start: only then can it be left for good.
  std::string error;
  session_.waitUntil(
      "GNOME Shell to finish starting and leave the Overview",
      [&] {
        const std::optional<Json> state = evaluate(
            "({starting: Main.layoutManager._startingUp, overview: Main.overview.visible,"
            " moving: Main.overview.animationInProgress})",
            &error);
        if (!state || !state->is_object() || state->value("starting", true) || state->value("moving", true)) {
          return false;
        }
        if (!state->value("overview", true)) return true;
        call(bus_, "org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Set",
             g_variant_new("(ssv)", "org.gnome.Shell", "OverviewActive", g_variant_new_boolean(FALSE)), "()", &error);
        return false;
      },
      vital, &error);
  if (!extensionInstalled_) return;
  // Extensions load once the shell has started; kelp-cua's must be there
  // before the first request, as in a person's session.
  std::string state = "not known yet";
  session_.waitUntil(
      std::string("the shell extension ") + EXTENSION_UUID + " to be enabled",
      [&] {
        VariantPtr reply = call(bus_, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                                "GetExtensionInfo", g_variant_new("(s)", EXTENSION_UUID), "(a{sv})", &error);
        if (!reply) return false;
        VariantPtr info(g_variant_get_child_value(reply.get(), 0));
        const double code = numberIn(info.get(), "state");
        // 1 enabled, 3 error, 4 out of date (GNOME Shell's ExtensionState).
        if (code == 3 || code == 4) session_.fail("the shell extension did not load: " + stringIn(info.get(), "error"));
        state = std::to_string(static_cast<int>(code));
        return code == 1;
      },
      vital, &state);
}

void ShellDesktop::installDesktopEntries() {
  const std::string applications = session_.homeFolder() + "/.local/share/applications";
  const std::string shipped = readText(std::string(KELP_SOURCE_DIR) + "/data/kde/kelp-cua.desktop");
  if (!shipped.empty()) writeText(applications + "/kelp-cua.desktop", entryFor(shipped, realPath(helperPath())));
  // The tests' own picture of the screen comes through ScreenShot2 too,
  // granted to this test program the same way.
  writeText(applications + "/kelp-desktop-tests.desktop",
            grantingEntry("kelp-cua desktop tests", realPath("/proc/self/exe")));
}

void ShellDesktop::startKWin() {
  // Debian's kwin_wayland carries a file capability (cap_sys_resource) that a
  // container may not grant, so that exec fails. A copy without it runs; its
  // name must stay kwin_wayland.
  const std::string path = Environment::inherit().get("PATH").value_or("/usr/bin:/bin");
  const std::optional<std::string> original = findProgram("kwin_wayland", path);
  if (!original) session_.fail("kwin_wayland is not installed (package kwin-wayland)");
  const std::string copy = session_.folder() + "/bin/kwin_wayland";
  std::error_code error;
  fs::create_directories(fs::path(copy).parent_path(), error);
  if (!fs::copy_file(*original, copy, fs::copy_options::overwrite_existing, error)) {
    session_.fail("cannot copy " + *original + ": " + error.message());
  }
  fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  if (::getxattr(copy.c_str(), "security.capability", nullptr, 0) >= 0) {
    ProcessOptions setcap;
    setcap.argv = {"setcap", "-r", copy};
    const RunResult result = runProgram(std::move(setcap), "", Milliseconds(10000));
    if (!result.status.success()) session_.fail("setcap -r (package libcap2-bin) failed: " + result.err);
  }
  const DesktopOptions& options = session_.desktopOptions();
  compositor_ = session_.startProgram({copy, "--virtual", "--width", std::to_string(options.width), "--height",
                                       std::to_string(options.height), "--socket", WAYLAND_NAME, "--no-lockscreen"},
                                      "kwin", shellEnvironment());
  session_.waitUntil("KWin on the session bus (org.kde.KWin)", [&] { return ownsName("org.kde.KWin"); },
                     {compositor_.get()});
  session_.waitUntil("KWin's Wayland socket " + socketPath(), [&] { return fs::exists(socketPath()); },
                     {compositor_.get()});
  std::string problem;
  session_.waitUntil(
      "KWin's windows runner",
      [&] {
        problem.clear();
        kwinWindows(&problem);
        return problem.empty();
      },
      {compositor_.get()}, &problem);
}

bool ShellDesktop::ownsName(const char* name) {
  VariantPtr reply = call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "NameHasOwner", g_variant_new("(s)", name), "(b)");
  gboolean owned = FALSE;
  if (reply) g_variant_get(reply.get(), "(b)", &owned);
  return owned;
}

std::vector<DesktopSession::CompositorWindow> ShellDesktop::windows() {
  std::string error;
  auto list = gnome() ? gnomeWindows(&error) : kwinWindows(&error);
  if (!error.empty()) session_.fail("the compositor did not list its windows: " + error);
  return list;
}

std::optional<Json> ShellDesktop::evaluate(const char* script, std::string* error) {
  std::string problem;
  VariantPtr reply = call(bus_, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval",
                          g_variant_new("(s)", script), "(bs)", &problem);
  gboolean success = FALSE;
  const gchar* text = nullptr;
  if (reply) g_variant_get(reply.get(), "(b&s)", &success, &text);
  Json value = success && text ? Json::parse(text, nullptr, false) : Json(Json::value_t::discarded);
  if (value.is_discarded()) {
    if (error) *error = reply ? std::string("Eval answered ") + (text ? text : "nothing") : problem;
    return std::nullopt;
  }
  return value;
}

std::vector<DesktopSession::CompositorWindow> ShellDesktop::gnomeWindows(std::string* error) {
  std::vector<DesktopSession::CompositorWindow> windows;
  const Json list = evaluate(GNOME_WINDOWS_SCRIPT, error).value_or(Json());
  if (!list.is_array()) return windows;
  for (const Json& entry : list) {
    if (!entry.is_object() || !entry.value("shown", false)) continue;
    DesktopSession::CompositorWindow window;
    window.id = entry.value("id", "");
    window.pid = entry.value("pid", 0);
    window.title = entry.value("title", "");
    window.frame = {entry.value("x", 0), entry.value("y", 0), entry.value("w", 0), entry.value("h", 0)};
    window.focused = entry.value("focused", false);
    windows.push_back(std::move(window));
  }
  return windows;
}

std::vector<DesktopSession::CompositorWindow> ShellDesktop::kwinWindows(std::string* error) {
  std::vector<DesktopSession::CompositorWindow> windows;
  std::string problem;
  // The windows runner answers a query with every window whose caption
  // holds it: an empty query lists them all, some twice. Its reply says the
  // match type is signed, which its introspection does not.
  VariantPtr matches = call(bus_, "org.kde.KWin", "/WindowsRunner", "org.kde.krunner1", "Match",
                            g_variant_new("(s)", ""), nullptr, &problem);
  if (!matches || !g_variant_is_of_type(matches.get(), G_VARIANT_TYPE("(a(sss*da{sv}))"))) {
    if (error) *error = matches ? std::string("the windows runner answered ") + g_variant_get_type_string(matches.get()) : problem;
    return windows;
  }
  std::set<std::string> seen;
  VariantPtr list(g_variant_get_child_value(matches.get(), 0));
  for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
    VariantPtr match(g_variant_get_child_value(list.get(), i));
    const gchar* id = nullptr;
    g_variant_get_child(match.get(), 0, "&s", &id);
    std::string uuid = id ? id : "";
    uuid = uuid.substr(uuid.find('_') + 1);
    if (uuid.empty() || !seen.insert(uuid).second) continue;
    VariantPtr info = call(bus_, "org.kde.KWin", "/KWin", "org.kde.KWin", "getWindowInfo",
                           g_variant_new("(s)", uuid.c_str()), "(a{sv})", &problem);
    if (!info) continue;
    VariantPtr map(g_variant_get_child_value(info.get(), 0));
    DesktopSession::CompositorWindow window;
    window.id = uuid;
    window.title = stringIn(map.get(), "caption");
    window.frame = {static_cast<int>(numberIn(map.get(), "x")), static_cast<int>(numberIn(map.get(), "y")),
                    static_cast<int>(numberIn(map.get(), "width")), static_cast<int>(numberIn(map.get(), "height"))};
    windows.push_back(std::move(window));
  }
  return windows;
}

void ShellDesktop::awaitWindow(DesktopApp& app, const std::string& name, const AppOptions& options,
                               const std::vector<std::string>& before, const std::function<bool()>& active) {
  Process* process = app.process.get();
  const auto belongs = [&](const DesktopSession::CompositorWindow& window) {
    if (options.title && window.title != *options.title) return false;
    if (gnome()) return window.pid > 0 && isSameOrDescendant(window.pid, process->pid());
    return std::find(before.begin(), before.end(), window.id) == before.end() && window.frame.width > 0;
  };
  const std::string titled = options.title ? " titled \"" + *options.title + "\"" : "";
  std::string error;
  session_.waitUntil(
      name + " to show a window" + titled + (gnome() ? " in GNOME Shell" : " in KWin"),
      [&] {
        const auto list = gnome() ? gnomeWindows(&error) : kwinWindows(&error);
        for (const auto& window : list) {
          if (!belongs(window)) continue;
          app.windowId = window.id;
          app.window = gnome() ? std::stoul(window.id) : 0;
          app.title = window.title;
          return true;
        }
        return false;
      },
      {process, compositor_.get()}, &error);
  if (!options.waitUntilActive) return;
  session_.waitUntil(
      name + " to be the focused window",
      [&] {
        if (!gnome()) return active();
        for (const auto& window : gnomeWindows(&error)) {
          if (window.id == app.windowId) return window.focused.value_or(false);
        }
        return false;
      },
      {process, compositor_.get()}, &error);
}

DesktopSession::ScreenPixels ShellDesktop::screenPixels() { return gnome() ? gnomeScreenshot() : kwinScreenshot(); }

DesktopSession::ScreenPixels ShellDesktop::gnomeScreenshot() {
  const std::string file = session_.folder() + "/screen.png";
  std::string error;
  VariantPtr reply = call(bus_, "org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot",
                          "Screenshot", g_variant_new("(bbs)", FALSE, FALSE, file.c_str()), "(bs)", &error,
                          G_DBUS_CALL_FLAGS_NO_AUTO_START, SCREENSHOT_TIMEOUT_MS);
  gboolean success = FALSE;
  if (reply) g_variant_get(reply.get(), "(bs)", &success, nullptr);
  if (!success) session_.fail("GNOME Shell took no screenshot: " + (reply ? std::string("it said no") : error));
  GError* raw = nullptr;
  std::unique_ptr<GdkPixbuf, PixbufUnref> picture(gdk_pixbuf_new_from_file(file.c_str(), &raw));
  desktop_bus::ErrorPtr owned(raw);
  fs::remove(file);
  if (!picture) session_.fail("cannot read GNOME Shell's screenshot: " + std::string(owned ? owned->message : ""));
  DesktopSession::ScreenPixels pixels{gdk_pixbuf_get_width(picture.get()), gdk_pixbuf_get_height(picture.get()), {}};
  const int channels = gdk_pixbuf_get_n_channels(picture.get());
  const int stride = gdk_pixbuf_get_rowstride(picture.get());
  const guchar* data = gdk_pixbuf_read_pixels(picture.get());
  pixels.rgb.reserve(static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height) * 3);
  for (int y = 0; y < pixels.height; ++y) {
    const guchar* row = data + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < pixels.width; ++x) pixels.rgb.insert(pixels.rgb.end(), row + x * channels, row + x * channels + 3);
  }
  return pixels;
}

DesktopSession::ScreenPixels ShellDesktop::kwinScreenshot() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) session_.fail("pipe2 failed");
  OwnedFd readEnd(ends[0]);
  OwnedFd writeEnd(ends[1]);
  std::unique_ptr<GUnixFDList, ObjectUnref> fds(g_unix_fd_list_new());
  if (g_unix_fd_list_append(fds.get(), writeEnd.get(), nullptr) < 0) session_.fail("cannot pass a pipe to KWin");
  // KWin writes the pixels once the picture is taken, possibly while it
  // replies: they are read as they come.
  std::string data;
  std::thread reader([&] { data = readAll(readEnd.get(), Milliseconds(SCREENSHOT_TIMEOUT_MS)); });
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
  g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
  GError* raw = nullptr;
  VariantPtr reply(g_dbus_connection_call_with_unix_fd_list_sync(
      bus_.get(), "org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
      "CaptureWorkspace", g_variant_new("(a{sv}h)", &options, 0), G_VARIANT_TYPE("(a{sv})"),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, SCREENSHOT_TIMEOUT_MS, fds.get(), nullptr, nullptr, &raw));
  desktop_bus::ErrorPtr owned(raw);
  // Only KWin's copy of the writing end is left open: the pipe ends with it.
  writeEnd.reset();
  fds.reset();
  reader.join();
  if (!reply) session_.fail("KWin took no screenshot: " + std::string(owned ? owned->message : "no reply"));
  VariantPtr results(g_variant_get_child_value(reply.get(), 0));
  const int width = static_cast<int>(numberIn(results.get(), "width"));
  const int height = static_cast<int>(numberIn(results.get(), "height"));
  const int stride = static_cast<int>(numberIn(results.get(), "stride"));
  const int format = static_cast<int>(numberIn(results.get(), "format"));
  // QImage's formats: 4-6 are 32-bit ARGB words (B, G, R, A in memory on
  // this little-endian machine), 16-18 bytes in R, G, B, A order.
  const bool bgra = format >= 4 && format <= 6;
  const bool rgba = format >= 16 && format <= 18;
  if (width <= 0 || height <= 0 || (!bgra && !rgba) ||
      data.size() < static_cast<std::size_t>(stride) * static_cast<std::size_t>(height)) {
    session_.fail("KWin's screenshot is " + std::to_string(width) + "x" + std::to_string(height) + " in format " +
                  std::to_string(format) + " with " + std::to_string(data.size()) + " bytes");
  }
  DesktopSession::ScreenPixels pixels{width, height, {}};
  pixels.rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = reinterpret_cast<const unsigned char*>(data.data()) + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const unsigned char* pixel = row + x * 4;
      if (bgra) {
        pixels.rgb.insert(pixels.rgb.end(), {pixel[2], pixel[1], pixel[0]});
      } else {
        pixels.rgb.insert(pixels.rgb.end(), {pixel[0], pixel[1], pixel[2]});
      }
    }
  }
  return pixels;
}

}  // namespace kelp::test
