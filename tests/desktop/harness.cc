#include "desktop/harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <dirent.h>
#include <gio/gio.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "desktop/desktop_bus.h"
#include "desktop/shells.h"

namespace kelp::test {
namespace {

using desktop_bus::call;
using desktop_bus::connectBus;
using desktop_bus::Connection;
using desktop_bus::VariantPtr;

using Clock = std::chrono::steady_clock;

constexpr Milliseconds POLL_INTERVAL{20};
constexpr const char* MARKER_NAME = "KELP_DESKTOP_SESSION";
// Sway refuses to run as root; a root test process runs it as this user.
constexpr const char* SWAY_USER = "kelpdesk";
constexpr Milliseconds SWAY_IPC_TIMEOUT{5000};

// ---- small owners of foreign handles ---------------------------------------

struct DisplayClose {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
struct XFreeDeleter {
  void operator()(unsigned char* data) const { XFree(data); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;
using XDataPtr = std::unique_ptr<unsigned char, XFreeDeleter>;

// X errors about windows that went away between two requests are expected
// while polling; the default handler would end the test process.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

void installXErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] { XSetErrorHandler(ignoreXError); });
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string tail(const std::string& text, std::size_t lines) {
  std::size_t position = text.size();
  for (std::size_t count = 0; position > 0 && count <= lines;) {
    --position;
    if (text[position] == '\n') ++count;
  }
  return position == 0 ? text : text.substr(position + 1);
}

std::optional<std::string> findAccessibilityBusLauncher() {
  for (const char* path : {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher",
                           "/usr/lib/at-spi2/at-spi-bus-launcher", "/usr/libexec/at-spi2/at-spi-bus-launcher",
                           "/usr/lib/x86_64-linux-gnu/at-spi2-core/at-spi-bus-launcher"}) {
    if (::access(path, X_OK) == 0) return std::string(path);
  }
  return std::nullopt;
}

// The parent of `pid` as /proc tells it.
std::optional<pid_t> parentOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return std::nullopt;
  auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  char state = 0;
  pid_t parent = 0;
  if (!(fields >> state >> parent)) return std::nullopt;
  if (state == 'Z' || state == 'X') return std::nullopt;
  return parent;
}

struct UserAccount {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

std::optional<UserAccount> lookUpUser(const char* name) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return UserAccount{found->pw_uid, found->pw_gid, found->pw_dir};
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Sway speaks i3's IPC: "i3-ipc", the payload's length and the message's
// type as native 32-bit integers, then the payload; replies are framed alike.
enum class SwayMessage : std::uint32_t { runCommand = 0, getTree = 4, getVersion = 7 };
constexpr char SWAY_IPC_MAGIC[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t SWAY_IPC_HEADER = sizeof SWAY_IPC_MAGIC + 2 * sizeof(std::uint32_t);

// One request on a connection of its own: a few hundred microseconds, and
// no state to keep between the polls of a wait.
std::optional<Json> askSway(const std::string& socketPath, SwayMessage type, const std::string& payload,
                            std::string& error) {
  sockaddr_un address{};
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
    error = "no usable IPC socket path";
    return std::nullopt;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return std::nullopt;
  }
  // A sway that stopped answering must fail the wait, not hang the test.
  timeval limit{SWAY_IPC_TIMEOUT.count() / 1000, (SWAY_IPC_TIMEOUT.count() % 1000) * 1000};
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = "connect to " + socketPath + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string message(SWAY_IPC_MAGIC, sizeof SWAY_IPC_MAGIC);
  const auto appendWord = [&](std::uint32_t word) {
    message.append(reinterpret_cast<const char*>(&word), sizeof word);
  };
  appendWord(static_cast<std::uint32_t>(payload.size()));
  appendWord(static_cast<std::uint32_t>(type));
  message += payload;
  for (std::size_t sent = 0; sent < message.size();) {
    const ssize_t count = ::send(socket.get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) {
      error = std::string("sending to sway: ") + (count < 0 ? std::strerror(errno) : "connection closed");
      return std::nullopt;
    }
    sent += static_cast<std::size_t>(count);
  }
  const auto receive = [&](std::size_t size, std::string& into) {
    into.resize(size);
    for (std::size_t received = 0; received < size;) {
      const ssize_t count = ::recv(socket.get(), into.data() + received, size - received, 0);
      if (count <= 0) {
        error =
            std::string("reading sway's reply: ") + (count < 0 ? std::strerror(errno) : "connection closed");
        return false;
      }
      received += static_cast<std::size_t>(count);
    }
    return true;
  };
  std::string header;
  if (!receive(SWAY_IPC_HEADER, header)) return std::nullopt;
  if (header.compare(0, sizeof SWAY_IPC_MAGIC, SWAY_IPC_MAGIC, sizeof SWAY_IPC_MAGIC) != 0) {
    error = "sway's reply does not start with i3-ipc";
    return std::nullopt;
  }
  std::uint32_t length = 0;
  std::memcpy(&length, header.data() + sizeof SWAY_IPC_MAGIC, sizeof length);
  std::string body;
  if (!receive(length, body)) return std::nullopt;
  Json reply = Json::parse(body, nullptr, false);
  if (reply.is_discarded()) {
    error = "sway's reply is not JSON: " + body.substr(0, 200);
    return std::nullopt;
  }
  return reply;
}

DesktopSession::WindowGeometry rectangleOf(const Json& rect) {
  if (!rect.is_object()) return {};
  return {rect.value("x", 0), rect.value("y", 0), rect.value("width", 0), rect.value("height", 0)};
}

// The views of sway's tree, depth first: only a view carries a "pid".
void collectSwayViews(const Json& node, std::vector<DesktopSession::SwayWindow>& views) {
  if (!node.is_object()) return;
  if (node.contains("pid") && node["pid"].is_number_integer()) {
    DesktopSession::SwayWindow view;
    view.conId = node.value("id", 0LL);
    view.pid = node["pid"].get<pid_t>();
    if (node.contains("app_id") && node["app_id"].is_string()) view.appId = node["app_id"].get<std::string>();
    if (node.contains("name") && node["name"].is_string()) view.name = node["name"].get<std::string>();
    view.focused = node.value("focused", false);
    view.rect = rectangleOf(node.value("rect", Json()));
    const DesktopSession::WindowGeometry inside = rectangleOf(node.value("window_rect", Json()));
    view.content = {view.rect.x + inside.x, view.rect.y + inside.y, inside.width, inside.height};
    views.push_back(std::move(view));
  }
  for (const char* children : {"nodes", "floating_nodes"}) {
    if (!node.contains(children) || !node[children].is_array()) continue;
    for (const Json& child : node[children]) collectSwayViews(child, views);
  }
}

// A binary PPM (P6, at most 255 a channel) as grim writes it.
std::optional<DesktopSession::ScreenPixels> decodePpm(const std::string& data) {
  std::size_t position = 0;
  const auto skipSpaceAndComments = [&] {
    while (position < data.size()) {
      if (data[position] == '#') {
        while (position < data.size() && data[position] != '\n') ++position;
      } else if (std::isspace(static_cast<unsigned char>(data[position]))) {
        ++position;
      } else {
        break;
      }
    }
  };
  const auto number = [&]() -> std::optional<int> {
    skipSpaceAndComments();
    long value = 0;
    const std::size_t start = position;
    while (position < data.size() && std::isdigit(static_cast<unsigned char>(data[position])) &&
           position - start < 8) {
      value = value * 10 + (data[position++] - '0');
    }
    if (position == start) return std::nullopt;
    return static_cast<int>(value);
  };
  if (data.compare(0, 2, "P6") != 0) return std::nullopt;
  position = 2;
  const auto width = number();
  const auto height = number();
  const auto maximum = number();
  if (!width || !height || maximum != 255 || position >= data.size()) return std::nullopt;
  ++position;  // the one whitespace character before the samples
  const std::size_t size = static_cast<std::size_t>(*width) * static_cast<std::size_t>(*height) * 3;
  if (data.size() - position < size) return std::nullopt;
  DesktopSession::ScreenPixels pixels{*width, *height, {}};
  pixels.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(position),
                    data.begin() + static_cast<std::ptrdiff_t>(position + size));
  return pixels;
}

}  // namespace

// ---- free functions ----------------------------------------------------------

std::vector<pid_t> processesMarkedWith(const std::string& marker) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  const pid_t self = ::getpid();
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid == self || !parentOf(pid)) continue;
    std::string environ = readFile(std::string("/proc/") + entry->d_name + "/environ");
    std::size_t start = 0;
    while (start < environ.size()) {
      std::size_t end = environ.find('\0', start);
      if (end == std::string::npos) end = environ.size();
      if (environ.compare(start, end - start, marker) == 0) {
        found.push_back(pid);
        break;
      }
      start = end + 1;
    }
  }
  ::closedir(proc);
  return found;
}

bool isSameOrDescendant(pid_t pid, pid_t ancestor) {
  for (int depth = 0; depth < 64 && pid > 1; ++depth) {
    if (pid == ancestor) return true;
    auto parent = parentOf(pid);
    if (!parent) return false;
    pid = *parent;
  }
  return false;
}

// ---- the session -------------------------------------------------------------

struct DesktopSession::Impl final : SessionParts {
  DesktopOptions options;
  std::unique_ptr<TempDir> root;
  std::string runtimeDir;
  std::string homeDir;
  std::string marker;
  std::string display;
  std::string sessionBus;
  std::string accessibilityBus;
  std::vector<std::string> logs;  // in start order, shown when something fails

  // sway's own XDG_RUNTIME_DIR, owned by the user sway runs as: its sockets
  // and its config. Programs of the desktop get `runtimeDir` instead.
  std::unique_ptr<TempDir> swayDir;
  std::string waylandSocket;
  std::string swaySocket;
  // The colour sway clears an output to where no window is, read once
  // before any window is there.
  std::array<unsigned char, 3> emptyOutputColour{};

  // Declared in start order, so that they are stopped in reverse.
  std::unique_ptr<Process> compositor;
  std::unique_ptr<Process> xserver;
  std::unique_ptr<Process> sessionBusDaemon;
  std::unique_ptr<Process> accessibilityLauncher;
  std::unique_ptr<Process> windowManager;
  // GNOME Shell or KWin with what it needs around it.
  std::unique_ptr<ShellDesktop> shell;
  std::deque<DesktopApp> apps;

  DisplayPtr x;
  Connection session;
  Connection accessibility;

  ~Impl() { stop(); }

  void stop() {
    // Our own connections first, so that no daemon waits on them.
    accessibility = Connection();
    session = Connection();
    x.reset();
    while (!apps.empty()) apps.pop_back();
    shell.reset();
    windowManager.reset();
    accessibilityLauncher.reset();
    sessionBusDaemon.reset();
    xserver.reset();
    compositor.reset();
    // Daemons start helpers of their own (the accessibility bus and its
    // registry); whatever carries this desktop's marker goes too.
    if (!marker.empty()) {
      for (int signal : {SIGTERM, SIGKILL}) {
        auto left = processesMarkedWith(marker);
        if (left.empty()) break;
        for (pid_t pid : left) ::kill(pid, signal);
        const auto deadline = Clock::now() + Milliseconds(2000);
        while (!processesMarkedWith(marker).empty() && Clock::now() < deadline)
          std::this_thread::sleep_for(POLL_INTERVAL);
      }
    }
    reapOrphans();
    swayDir.reset();
    root.reset();
  }

  bool onSway() const { return options.server == DisplayServer::sway; }
  bool onShell() const { return options.server == DisplayServer::gnome || options.server == DisplayServer::kde; }

  static std::string named(DisplayServer server) {
    switch (server) {
      case DisplayServer::x11: return "an X11 desktop";
      case DisplayServer::sway: return "a sway desktop (use swaymsg, swayWindows)";
      case DisplayServer::gnome: return "a GNOME desktop (use compositorWindows)";
      case DisplayServer::kde: return "a KDE desktop (use compositorWindows)";
    }
    return "";
  }

  void require(DisplayServer server, const std::string& call) const {
    if (options.server == server) return;
    throw DesktopError(call + " works only in " + named(server) + ", and this is " + named(options.server));
  }

  void requireShell(const std::string& call) const {
    if (onShell()) return;
    throw DesktopError(call + " works only in a GNOME or KDE desktop, and this is " + named(options.server));
  }

  // ---- what a GNOME or KDE desktop borrows -------------------------------------

  const DesktopOptions& desktopOptions() const override { return options; }
  const std::string& folder() const override { return root->path(); }
  const std::string& runtimeFolder() const override { return runtimeDir; }
  const std::string& homeFolder() const override { return homeDir; }
  const std::string& sessionBusAddress() const override { return sessionBus; }
  Environment programEnvironment() const override { return baseEnvironment(); }
  std::unique_ptr<Process> startProgram(std::vector<std::string> argv, const std::string& logName,
                                        Environment environment) override {
    return launch(std::move(argv), logName, std::move(environment));
  }
  void waitUntil(const std::string& what, const std::function<bool()>& ready, const std::vector<Process*>& vital,
                 const std::string* lastError) override {
    waitForAny(what, ready, vital, lastError);
  }

  std::string logPath(const std::string& name) {
    std::string path = root->path() + "/" + name + ".log";
    logs.push_back(path);
    return path;
  }

  std::string logReport() const {
    std::string report;
    for (const std::string& path : logs) {
      std::string text = tail(readFile(path), 15);
      if (text.empty()) continue;
      report += "\n--- " + path.substr(path.rfind('/') + 1) + " (last lines) ---\n" + text;
    }
    return report;
  }

  [[noreturn]] void fail(const std::string& what) const override {
    throw DesktopError("private desktop: " + what + logReport());
  }

  Environment baseEnvironment() const {
    Environment environment = Environment::inherit();
    for (const char* name :
         {"WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "XAUTHORITY", "SESSION_MANAGER", "DESKTOP_STARTUP_ID",
          "NO_AT_BRIDGE", "GTK_MODULES", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP",
          "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK", "I3SOCK", "QT_QPA_PLATFORM"}) {
      environment.unset(name);
    }
    environment.set(MARKER_NAME, root->path());
    environment.set("XDG_RUNTIME_DIR", runtimeDir);
    environment.set("HOME", homeDir);
    environment.set("XDG_CONFIG_HOME", homeDir + "/.config");
    environment.set("XDG_CACHE_HOME", homeDir + "/.cache");
    environment.set("XDG_DATA_HOME", homeDir + "/.local/share");
    // Settings live in memory: no dconf service, nothing written anywhere.
    environment.set("GSETTINGS_BACKEND", "memory");
    environment.set("GTK_USE_PORTAL", "0");
    if (onShell()) {
      ShellDesktop::describe(options.server, root->path(), environment);
    } else if (onSway()) {
      environment.set("GDK_BACKEND", "wayland");
      environment.set("QT_QPA_PLATFORM", "wayland");
      if (!waylandSocket.empty()) environment.set("WAYLAND_DISPLAY", waylandSocket);
      if (!swaySocket.empty()) environment.set("SWAYSOCK", swaySocket);
    } else {
      environment.set("GDK_BACKEND", "x11");
    }
    if (!display.empty()) environment.set("DISPLAY", display);
    if (!sessionBus.empty()) environment.set("DBUS_SESSION_BUS_ADDRESS", sessionBus);
    return environment;
  }

  std::unique_ptr<Process> launch(std::vector<std::string> argv, const std::string& logName,
                                  Environment environment, std::optional<std::string> workingDirectory = {}) {
    ProcessOptions options;
    options.argv = std::move(argv);
    options.environment = std::move(environment);
    options.workingDirectory = workingDirectory.value_or(homeDir);
    options.in = Stream::discarded();
    options.out = Stream::toFile(logPath(logName));
    options.err = Stream::toFile(logPath(logName + "-err"));
    try {
      return std::make_unique<Process>(std::move(options));
    } catch (const std::exception& error) {
      fail(error.what());
    }
  }

  // Polls `ready` until it holds; fails early when one of `vital` ends.
  template <typename Ready>
  void waitFor(const std::string& what, Ready ready, std::initializer_list<Process*> vital,
               const std::string* lastError = nullptr) {
    waitForAny(what, ready, std::vector<Process*>(vital), lastError);
  }

  template <typename Ready>
  void waitForAny(const std::string& what, Ready ready, const std::vector<Process*>& vital,
                  const std::string* lastError = nullptr) {
    const auto deadline = Clock::now() + options.readinessTimeout;
    for (;;) {
      if (ready()) return;
      for (Process* process : vital) {
        if (process != nullptr && !process->running()) {
          fail(process->program() + " ended (" + process->exitStatus()->describe() + ") while waiting for " +
               what);
        }
      }
      if (Clock::now() >= deadline) {
        fail("timed out after " + std::to_string(options.readinessTimeout.count()) + " ms waiting for " +
             what +
             (lastError != nullptr && !lastError->empty() ? " (last error: " + *lastError + ")"
                                                          : std::string()));
      }
      std::this_thread::sleep_for(POLL_INTERVAL);
    }
  }

  void checkPrograms(const std::optional<std::string>& launcher) const {
    const std::string path = Environment::inherit().get("PATH").value_or("/usr/bin:/bin");
    std::vector<std::string> missing;
    std::vector<const char*> programs = {"dbus-daemon"};
    if (onSway()) {
      programs.insert(programs.end(), {"sway", "grim"});
      if (::geteuid() == 0) programs.push_back("setpriv");
    } else if (!onShell()) {
      programs.insert(programs.end(), {"Xvfb", "openbox"});
    }
    for (const char* program : programs) {
      if (!findProgram(program, path)) missing.push_back(program);
    }
    if (onShell()) {
      for (const std::string& program : ShellDesktop::missingPrograms(options.server)) missing.push_back(program);
    }
    if (!launcher) missing.push_back("at-spi-bus-launcher (package at-spi2-core)");
    if (onSway() && ::geteuid() == 0 && !lookUpUser(SWAY_USER)) {
      missing.push_back(std::string("the user ") + SWAY_USER + " that runs sway for root");
    }
    if (!missing.empty()) {
      std::string list;
      for (const std::string& name : missing) list += (list.empty() ? "" : ", ") + name;
      throw DesktopError("private desktop: missing " + list +
                         ". The desktop tests need them; scripts/setup.sh installs them.");
    }
  }

  // ---- parts of the desktop ----------------------------------------------------

  void startXServer() {
    ProcessOptions options;
    // With -displayfd the server itself picks a free display and says which
    // one once it accepts connections: no race with other X servers.
    options.argv = {
        "Xvfb",      "-displayfd",
        "1",         "-screen",
        "0",         std::to_string(this->options.width) + "x" + std::to_string(this->options.height) + "x24",
        "-nolisten", "tcp",
        "-noreset"};
    options.environment = baseEnvironment();
    options.workingDirectory = homeDir;
    options.in = Stream::discarded();
    options.out = Stream::piped();
    options.err = Stream::toFile(logPath("xvfb"));
    try {
      xserver = std::make_unique<Process>(std::move(options));
    } catch (const std::exception& error) {
      fail(error.what());
    }
    auto number = xserver->readLine(this->options.readinessTimeout);
    if (!number || number->empty() || number->find_first_not_of("0123456789") != std::string::npos) {
      fail("Xvfb did not report its display number" +
           (xserver->running() ? std::string() : " (" + xserver->exitStatus()->describe() + ")"));
    }
    display = ":" + *number;
    installXErrorHandler();
    waitFor("the X server on " + display,
            [&] {
              x.reset(XOpenDisplay(display.c_str()));
              return x != nullptr;
            },
            {xserver.get()});
    if (this->options.monitorColumns > 1) splitIntoMonitors(this->options.monitorColumns);
  }

  // RandR 1.5 monitors made by hand, as `xrandr --setmonitor` makes them.
  // The first takes over the screen's one output, so that the monitor the
  // server derives from that output goes away.
  void splitIntoMonitors(int columns) {
    Window root = DefaultRootWindow(x.get());
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(x.get(), root);
    if (resources == nullptr || resources->noutput < 1) fail("Xvfb offers no RandR output to split");
    const RROutput output = resources->outputs[0];
    XRRFreeScreenResources(resources);
    const int width = options.width / columns;
    for (int i = 0; i < columns; ++i) {
      XRRMonitorInfo* monitor = XRRAllocateMonitor(x.get(), i == 0 ? 1 : 0);
      monitor->name = atom(("KELP-" + std::to_string(i + 1)).c_str());
      monitor->primary = i == 0;
      monitor->x = i * width;
      monitor->y = 0;
      monitor->width = width;
      monitor->height = options.height;
      monitor->mwidth = width * 254 / 960;  // 96 dots per inch
      monitor->mheight = options.height * 254 / 960;
      if (i == 0) monitor->outputs[0] = output;
      XRRSetMonitor(x.get(), root, monitor);
      XFree(monitor);
    }
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(x.get(), root, True, &count);
    if (monitors) XRRFreeMonitors(monitors);
    if (count != columns)
      fail("Xvfb shows " + std::to_string(count) + " monitors after splitting its screen");
  }

  void startSway() {
    const bool asRoot = ::geteuid() == 0;
    std::optional<UserAccount> account;
    if (asRoot) {
      account = lookUpUser(SWAY_USER);
      if (!account)
        fail(std::string("no user ") + SWAY_USER + " to run sway as (scripts/setup.sh creates it)");
    }
    swayDir = std::make_unique<TempDir>("kelp-sway");
    const std::string config = swayDir->path() + "/config";
    std::ofstream(config) << "output HEADLESS-1 resolution " << options.width << "x" << options.height
                          << " position 0 0\n"
                             // Floating windows can be moved and resized by request, as
                             // on a desktop with overlapping windows.
                             "for_window [app_id=\".*\"] floating enable\n"
                             "xwayland disable\n";
    ::chmod(config.c_str(), 0644);
    // Sway checks that its runtime directory is its user's and private.
    if (asRoot && ::chown(swayDir->path().c_str(), account->uid, account->gid) != 0) {
      fail("cannot hand " + swayDir->path() + " to " + SWAY_USER + ": " + std::strerror(errno));
    }

    // Nothing of the test process's environment: sway gets only what it needs.
    Environment environment = Environment::empty();
    const Environment inherited = Environment::inherit();
    environment.set("PATH", inherited.get("PATH").value_or("/usr/local/bin:/usr/bin:/bin"));
    for (const char* name : {"LANG", "LC_ALL", "TZ"}) {
      if (auto value = inherited.get(name)) environment.set(name, *value);
    }
    environment.set(MARKER_NAME, root->path());
    environment.set("HOME", asRoot ? account->home : homeDir);
    environment.set("XDG_RUNTIME_DIR", swayDir->path());
    environment.set("WLR_BACKENDS", "headless");
    environment.set("WLR_LIBINPUT_NO_DEVICES", "1");
    environment.set("WLR_RENDERER", "pixman");

    std::vector<std::string> argv = {"sway", "-c", config};
    if (asRoot) {
      // The change of user clears the parent-death signal that Process
      // sets; setpriv sets it again, so that a test process that dies
      // without its destructors takes sway along.
      const std::string user = SWAY_USER;
      argv.insert(argv.begin(),
                  {"setpriv", "--reuid=" + user, "--regid=" + user, "--init-groups", "--pdeathsig=KILL"});
    }
    compositor = launch(argv, "sway", std::move(environment), swayDir->path());
    waitFor("sway's Wayland and IPC sockets in " + swayDir->path(), [&] { return findSwaySockets(); },
            {compositor.get()});
    std::string error;
    waitFor(
        "sway to answer on " + swaySocket + " (get_version)",
        [&] { return askSway(swaySocket, SwayMessage::getVersion, "", error).has_value(); },
        {compositor.get()}, &error);
    const ScreenPixels corner = capture(WindowGeometry{0, 0, 1, 1});
    if (corner.rgb.size() != 3) fail("grim gave no pixel of the empty output");
    std::copy(corner.rgb.begin(), corner.rgb.end(), emptyOutputColour.begin());
  }

  // What grim copies of the output (wlr-screencopy): all of it, or a
  // rectangle in layout coordinates.
  ScreenPixels capture(const std::optional<WindowGeometry>& region) {
    ProcessOptions grim;
    grim.argv = {"grim", "-t", "ppm"};
    if (region) {
      grim.argv.push_back("-g");
      grim.argv.push_back(std::to_string(region->x) + "," + std::to_string(region->y) + " " +
                          std::to_string(region->width) + "x" + std::to_string(region->height));
    }
    grim.argv.push_back("-");
    grim.environment = baseEnvironment();
    RunResult result;
    try {
      result = runProgram(std::move(grim), "", Milliseconds(20000));
    } catch (const std::exception& error) {
      fail(std::string("cannot run grim (package grim): ") + error.what());
    }
    if (!result.status.success()) fail("grim failed (" + result.status.describe() + "): " + result.err);
    auto pixels = decodePpm(result.out);
    if (!pixels) fail("grim wrote no PPM picture (" + std::to_string(result.out.size()) + " bytes)");
    return *pixels;
  }

  // Sway's tree shows the layout it is heading for: a new view is in it as
  // soon as the client maps it, but drawn only once the client has answered
  // the configure that follows. Until then the screen still shows what was
  // there before. A view
  // counts as drawn once any pixel of it differs from the empty output.
  // Over another window that shows already this holds at once: the wait
  // cannot tell the two apart, but it never fails a window that is drawn.
  bool drawn(const SwayWindow& view) {
    const int left = std::max(view.content.x, 0);
    const int top = std::max(view.content.y, 0);
    const int right = std::min(view.content.x + view.content.width, options.width);
    const int bottom = std::min(view.content.y + view.content.height, options.height);
    // Nothing of it lies on the output: there is nothing to wait for.
    if (right <= left || bottom <= top) return true;
    const ScreenPixels pixels = capture(WindowGeometry{left, top, right - left, bottom - top});
    for (std::size_t i = 0; i + 2 < pixels.rgb.size(); i += 3) {
      if (!std::equal(emptyOutputColour.begin(), emptyOutputColour.end(),
                      pixels.rgb.begin() + static_cast<std::ptrdiff_t>(i))) {
        return true;
      }
    }
    return false;
  }

  bool findSwaySockets() {
    DIR* directory = ::opendir(swayDir->path().c_str());
    if (directory == nullptr) return false;
    std::string wayland;
    std::string ipc;
    while (dirent* entry = ::readdir(directory)) {
      const std::string name = entry->d_name;
      const std::string path = swayDir->path() + "/" + name;
      struct stat info {};
      if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
      if (name.starts_with("wayland-")) wayland = path;
      if (name.starts_with("sway-ipc.") && name.ends_with(".sock")) ipc = path;
    }
    ::closedir(directory);
    if (wayland.empty() || ipc.empty()) return false;
    waylandSocket = wayland;
    swaySocket = ipc;
    return true;
  }

  Json askSwayOrFail(SwayMessage type, const std::string& payload, const std::string& what) {
    std::string error;
    auto reply = askSway(swaySocket, type, payload, error);
    if (!reply) fail("sway did not answer " + what + ": " + error);
    return *reply;
  }

  // The views of sway's tree; none when sway does not answer, as while
  // waiting for a window.
  std::vector<SwayWindow> swayViews() {
    std::string error;
    std::vector<SwayWindow> views;
    if (auto tree = askSway(swaySocket, SwayMessage::getTree, "", error)) collectSwayViews(*tree, views);
    return views;
  }

  void startSessionBus() {
    const std::string config = root->path() + "/session.conf";
    // A session bus that activates nothing: every service the desktop needs
    // is started here, so nothing of the machine's own comes along.
    std::ofstream(config) << busConfig("session", root->path() + "/bus");
    ProcessOptions options;
    options.argv = {"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"};
    options.environment = baseEnvironment();
    options.workingDirectory = homeDir;
    options.in = Stream::discarded();
    options.out = Stream::piped();
    options.err = Stream::toFile(logPath("dbus"));
    try {
      sessionBusDaemon = std::make_unique<Process>(std::move(options));
    } catch (const std::exception& error) {
      fail(error.what());
    }
    auto address = sessionBusDaemon->readLine(this->options.readinessTimeout);
    if (!address || address->empty()) fail("dbus-daemon did not report its address");
    sessionBus = *address;
    std::string error;
    waitFor(
        "the session bus at " + sessionBus,
        [&] {
          session = connectBus(sessionBus, error);
          return bool(session);
        },
        {sessionBusDaemon.get()}, &error);
  }

  void publishBusOnRootWindow() {
    Display* display = x.get();
    const Atom property = XInternAtom(display, "AT_SPI_BUS", False);
    XChangeProperty(display, rootWindow(), property, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(accessibilityBus.data()),
                    static_cast<int>(accessibilityBus.size()));
    XSync(display, False);
  }

  std::optional<std::string> askAccessibilityBusAddress(std::string* error) {
    VariantPtr reply =
        call(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr, "(s)", error);
    if (!reply) return std::nullopt;
    const gchar* address = nullptr;
    g_variant_get(reply.get(), "(&s)", &address);
    if (address == nullptr || *address == '\0') return std::nullopt;
    return std::string(address);
  }

  void startAccessibilityBus(const std::string& launcherPath) {
    accessibilityLauncher =
        launch({launcherPath, "--launch-immediately"}, "at-spi-bus-launcher", baseEnvironment());
    std::string error;
    waitFor(
        "the accessibility bus (org.a11y.Bus GetAddress)",
        [&] {
          auto address = askAccessibilityBusAddress(&error);
          if (!address) return false;
          accessibilityBus = *address;
          return true;
        },
        {accessibilityLauncher.get(), sessionBusDaemon.get()}, &error);
    waitFor(
        "a connection to the accessibility bus at " + accessibilityBus,
        [&] {
          accessibility = connectBus(accessibilityBus, error);
          return bool(accessibility);
        },
        {accessibilityLauncher.get()}, &error);
  }

  void setEnabled(bool enabled) {
    std::string error;
    VariantPtr reply = call(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(enabled)), "()", &error);
    if (!reply) fail("cannot set org.a11y.Status IsEnabled: " + error);
  }

  std::optional<bool> enabled() {
    VariantPtr reply = call(session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                            "Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), "(v)");
    if (!reply) return std::nullopt;
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    VariantPtr value(boxed);
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN)) return std::nullopt;
    return g_variant_get_boolean(value.get()) != FALSE;
  }

  // ---- X11 --------------------------------------------------------------------

  Atom atom(const char* name) { return XInternAtom(x.get(), name, False); }

  std::vector<unsigned long> windowsProperty(Window window, const char* name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(x.get(), window, atom(name), 0, 4096, False, type, &actualType, &format, &count,
                           &after, &raw) != Success) {
      return values;
    }
    XDataPtr data(raw);
    if (data && format == 32 && actualType == type) {
      const unsigned long* items = reinterpret_cast<const unsigned long*>(data.get());
      values.assign(items, items + count);
    }
    return values;
  }

  std::optional<std::string> textProperty(Window window, const char* name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(x.get(), window, atom(name), 0, 4096, False, type, &actualType, &format, &count,
                           &after, &raw) != Success) {
      return std::nullopt;
    }
    XDataPtr data(raw);
    if (!data || format != 8 || actualType != type) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(data.get()), count);
  }

  Window rootWindow() { return DefaultRootWindow(x.get()); }

  bool windowManagerReady() {
    auto check = windowsProperty(rootWindow(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    if (check.size() != 1) return false;
    // The check window names itself, which a stale property from a window
    // manager that has gone would not do.
    auto self = windowsProperty(check[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    return self.size() == 1 && self[0] == check[0];
  }

  std::string titleOf(Window window) {
    if (auto title = textProperty(window, "_NET_WM_NAME", atom("UTF8_STRING"))) return *title;
    return textProperty(window, "WM_NAME", XA_STRING).value_or("");
  }

  std::optional<pid_t> pidOf(Window window) {
    auto pid = windowsProperty(window, "_NET_WM_PID", XA_CARDINAL);
    if (pid.size() != 1) return std::nullopt;
    return static_cast<pid_t>(pid[0]);
  }

  bool viewable(Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(x.get(), window, &attributes) != 0 && attributes.map_state == IsViewable;
  }

  std::optional<Window> active() {
    auto value = windowsProperty(rootWindow(), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    if (value.size() != 1 || value[0] == None) return std::nullopt;
    return value[0];
  }

  // ---- an application's window ----------------------------------------------

  static std::string titledText(const AppOptions& options) {
    return options.title ? " titled \"" + *options.title + "\"" : "";
  }

  void awaitXWindow(DesktopApp& app, const std::string& name, const AppOptions& options) {
    Process* process = app.process.get();
    const pid_t pid = process->pid();
    waitFor(name + " to map a top-level window" + titledText(options),
            [&] {
              for (unsigned long window : windowsProperty(rootWindow(), "_NET_CLIENT_LIST", XA_WINDOW)) {
                auto owner = pidOf(window);
                if (!owner || !isSameOrDescendant(*owner, pid)) continue;
                std::string title = titleOf(window);
                if (options.title && title != *options.title) continue;
                if (!viewable(window)) continue;
                app.window = window;
                app.title = title;
                return true;
              }
              return false;
            },
            {process, xserver.get(), windowManager.get()});
    if (options.waitUntilActive) {
      waitFor(name + " to be the active window", [&] { return active() == app.window; },
              {process, windowManager.get()});
    }
  }

  void awaitSwayWindow(DesktopApp& app, const std::string& name, const AppOptions& options) {
    Process* process = app.process.get();
    const pid_t pid = process->pid();
    waitFor(name + " to show a window" + titledText(options) + " in sway's tree",
            [&] {
              for (const SwayWindow& view : swayViews()) {
                if (!isSameOrDescendant(view.pid, pid)) continue;
                if (options.title && view.name != *options.title) continue;
                app.window = static_cast<unsigned long>(view.conId);
                app.title = view.name;
                return true;
              }
              return false;
            },
            {process, compositor.get()});
    waitFor(name + "'s window to be drawn",
            [&] {
              for (const SwayWindow& view : swayViews()) {
                if (static_cast<unsigned long>(view.conId) == app.window) return drawn(view);
              }
              return false;
            },
            {process, compositor.get()});
    if (options.waitUntilActive) {
      waitFor(name + " to be the focused window",
              [&] {
                for (const SwayWindow& view : swayViews()) {
                  if (static_cast<unsigned long>(view.conId) == app.window) return view.focused;
                }
                return false;
              },
              {process, compositor.get()});
    }
  }

  // ---- accessibility registry ----------------------------------------------

  // Whether a window of the application of `pid` holds the ACTIVE state.
  bool windowActive(pid_t pid) {
    VariantPtr children =
        call(accessibility, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
             "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))", nullptr, G_DBUS_CALL_FLAGS_NONE);
    if (!children) return false;
    VariantPtr list(g_variant_get_child_value(children.get(), 0));
    for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
      const gchar* name = nullptr;
      const gchar* path = nullptr;
      g_variant_get_child(list.get(), i, "(&s&o)", &name, &path);
      VariantPtr owner =
          call(accessibility, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
               "GetConnectionUnixProcessID", g_variant_new("(s)", name), "(u)");
      guint32 ownerPid = 0;
      if (owner) g_variant_get(owner.get(), "(u)", &ownerPid);
      if (!owner || !isSameOrDescendant(static_cast<pid_t>(ownerPid), pid)) continue;
      VariantPtr windows = call(accessibility, name, path, "org.a11y.atspi.Accessible", "GetChildren", nullptr,
                                "(a(so))");
      if (!windows) return false;
      VariantPtr each(g_variant_get_child_value(windows.get(), 0));
      for (gsize j = 0; j < g_variant_n_children(each.get()); ++j) {
        const gchar* windowName = nullptr;
        const gchar* windowPath = nullptr;
        g_variant_get_child(each.get(), j, "(&s&o)", &windowName, &windowPath);
        VariantPtr state =
            call(accessibility, windowName, windowPath, "org.a11y.atspi.Accessible", "GetState", nullptr, "(au)");
        if (!state) continue;
        VariantPtr words(g_variant_get_child_value(state.get(), 0));
        // ATSPI_STATE_ACTIVE is 1: the second bit of the first word.
        if (g_variant_n_children(words.get()) > 0) {
          VariantPtr first(g_variant_get_child_value(words.get(), 0));
          if (g_variant_get_uint32(first.get()) & (1u << 1)) return true;
        }
      }
      return false;
    }
    return false;
  }

  // Whether the application of `pid` is registered on the accessibility
  // bus with at least one window.
  bool registeredWithWindow(pid_t pid) {
    VariantPtr children =
        call(accessibility, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
             "org.a11y.atspi.Accessible", "GetChildren", nullptr, "(a(so))", nullptr, G_DBUS_CALL_FLAGS_NONE);
    if (!children) return false;
    VariantPtr list(g_variant_get_child_value(children.get(), 0));
    const gsize count = g_variant_n_children(list.get());
    for (gsize i = 0; i < count; ++i) {
      const gchar* name = nullptr;
      const gchar* path = nullptr;
      g_variant_get_child(list.get(), i, "(&s&o)", &name, &path);
      VariantPtr owner =
          call(accessibility, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
               "GetConnectionUnixProcessID", g_variant_new("(s)", name), "(u)");
      if (!owner) continue;
      guint32 ownerPid = 0;
      g_variant_get(owner.get(), "(u)", &ownerPid);
      // Launcher scripts (LibreOffice's) hand over to a child process.
      if (!isSameOrDescendant(static_cast<pid_t>(ownerPid), pid)) continue;
      VariantPtr property = call(accessibility, name, path, "org.freedesktop.DBus.Properties", "Get",
                                 g_variant_new("(ss)", "org.a11y.atspi.Accessible", "ChildCount"), "(v)");
      if (!property) return false;
      GVariant* boxed = nullptr;
      g_variant_get(property.get(), "(v)", &boxed);
      VariantPtr value(boxed);
      return g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32) && g_variant_get_int32(value.get()) > 0;
    }
    return false;
  }
};

DesktopSession::DesktopSession(DesktopOptions options) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.options = options;
  // The accessibility bus and its registry outlive their parents at
  // teardown; as their reaper this process can wait for them.
  adoptOrphans();
  const auto launcher = findAccessibilityBusLauncher();
  d.checkPrograms(launcher);
  d.root = std::make_unique<TempDir>("kelp-desktop");
  d.marker = std::string(MARKER_NAME) + "=" + d.root->path();
  d.runtimeDir = d.root->subdirectory("runtime");
  d.homeDir = d.root->subdirectory("home");

  if (d.onShell()) {
    // The shell joins a session whose buses are already there, as at a
    // person's login.
    d.shell = std::make_unique<ShellDesktop>(options.server, d);
    d.shell->writeSettings();
    d.startSessionBus();
    d.startAccessibilityBus(*launcher);
    if (options.accessibility) d.setEnabled(true);
    d.shell->start();
    d.waylandSocket = d.shell->socketPath();
    return;
  }
  if (d.onSway()) {
    d.startSway();
  } else {
    d.startXServer();
  }
  d.startSessionBus();
  d.startAccessibilityBus(*launcher);
  if (!d.onSway() && options.busOnRootWindow) d.publishBusOnRootWindow();
  if (options.accessibility) d.setEnabled(true);
  // Sway is its own window manager.
  if (d.onSway()) return;
  d.windowManager = d.launch({"openbox", "--sm-disable"}, "openbox", d.baseEnvironment());
  d.waitFor("the window manager (_NET_SUPPORTING_WM_CHECK)", [&] { return d.windowManagerReady(); },
            {d.windowManager.get(), d.xserver.get()});
}

DesktopSession::~DesktopSession() = default;

DesktopApp& DesktopSession::startApplication(AppOptions options) {
  Impl& d = *impl_;
  if (options.argv.empty()) d.fail("no application given");
  const std::string name = options.argv.front().substr(options.argv.front().rfind('/') + 1);
  DesktopApp app;
  // KWin tells no window's process: the application's window is one that
  // was not there before.
  std::vector<std::string> before;
  if (d.onShell()) {
    for (const CompositorWindow& window : d.shell->windows()) before.push_back(window.id);
  }
  app.process = d.launch(options.argv, name + "-" + std::to_string(d.apps.size()), d.baseEnvironment());
  Process* process = app.process.get();
  const pid_t pid = process->pid();

  if (d.onShell()) {
    d.shell->awaitWindow(app, name, options, before, [&] { return d.windowActive(pid); });
  } else if (d.onSway()) {
    d.awaitSwayWindow(app, name, options);
  } else {
    d.awaitXWindow(app, name, options);
  }
  if (options.waitForAccessibility && d.enabled().value_or(false)) {
    d.waitFor(name + " to show a window on the accessibility bus",
              [&] { return d.registeredWithWindow(pid); }, {process, d.accessibilityLauncher.get()});
  }
  d.apps.push_back(std::move(app));
  return d.apps.back();
}

void DesktopSession::killXServer() {
  impl_->require(DisplayServer::x11, "killXServer");
  impl_->x.reset();
  impl_->xserver->signalGroup(SIGKILL);
  impl_->xserver->waitForExit(Milliseconds(5000));
}

void DesktopSession::killSessionBus() {
  impl_->accessibility = Connection();
  impl_->session = Connection();
  impl_->sessionBusDaemon->signalGroup(SIGKILL);
  impl_->sessionBusDaemon->waitForExit(Milliseconds(5000));
}

DisplayServer DesktopSession::server() const { return impl_->options.server; }
const std::string& DesktopSession::display() const { return impl_->display; }
const std::string& DesktopSession::waylandDisplay() const { return impl_->waylandSocket; }
const std::string& DesktopSession::swaySocket() const { return impl_->swaySocket; }
const std::string& DesktopSession::sessionBusAddress() const { return impl_->sessionBus; }
const std::string& DesktopSession::accessibilityBusAddress() const { return impl_->accessibilityBus; }
int DesktopSession::width() const { return impl_->options.width; }
int DesktopSession::height() const { return impl_->options.height; }
std::string DesktopSession::marker() const { return impl_->marker; }

Environment DesktopSession::environment() const { return impl_->baseEnvironment(); }

std::unique_ptr<HelperSession> DesktopSession::startHelper() const {
  return std::make_unique<HelperSession>(environment());
}

RunResult DesktopSession::runHelper(const std::vector<std::string>& args, const std::string& input) const {
  return kelp::test::runHelper(args, input, environment());
}

void DesktopSession::xdotool(const std::vector<std::string>& args) const {
  // xdotool speaks X11 only; on sway it would fail without a word, or reach
  // another display.
  impl_->require(DisplayServer::x11, "xdotool");
  ProcessOptions options;
  options.argv = {"xdotool"};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.environment = environment();
  const RunResult result = runProgram(std::move(options), "", Milliseconds(20000));
  if (!result.status.success()) {
    throw DesktopError("xdotool failed (" + result.status.describe() + "): " + result.err);
  }
}

void DesktopSession::setAccessibilityEnabled(bool enabled) {
  impl_->setEnabled(enabled);
  impl_->waitFor(std::string("IsEnabled to read ") + (enabled ? "true" : "false"),
                 [&] { return impl_->enabled() == enabled; }, {impl_->accessibilityLauncher.get()});
}

bool DesktopSession::accessibilityEnabled() { return impl_->enabled().value_or(false); }

std::vector<unsigned long> DesktopSession::clientWindows() {
  impl_->require(DisplayServer::x11, "clientWindows");
  return impl_->windowsProperty(impl_->rootWindow(), "_NET_CLIENT_LIST", XA_WINDOW);
}

std::optional<unsigned long> DesktopSession::activeWindow() {
  impl_->require(DisplayServer::x11, "activeWindow");
  return impl_->active();
}

std::string DesktopSession::windowTitle(unsigned long window) {
  impl_->require(DisplayServer::x11, "windowTitle");
  return impl_->titleOf(window);
}

std::optional<pid_t> DesktopSession::windowPid(unsigned long window) {
  impl_->require(DisplayServer::x11, "windowPid");
  return impl_->pidOf(window);
}

std::optional<DesktopSession::WindowGeometry> DesktopSession::windowGeometry(unsigned long window) {
  impl_->require(DisplayServer::x11, "windowGeometry");
  Display* display = impl_->x.get();
  Window root = 0;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (!XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth)) return std::nullopt;
  Window child = 0;
  if (!XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) return std::nullopt;
  WindowGeometry geometry{x, y, static_cast<int>(width), static_cast<int>(height)};
  const std::vector<unsigned long> extents =
      impl_->windowsProperty(window, "_NET_FRAME_EXTENTS", XA_CARDINAL);
  if (extents.size() == 4) {
    const int left = static_cast<int>(extents[0]);
    const int right = static_cast<int>(extents[1]);
    const int top = static_cast<int>(extents[2]);
    const int bottom = static_cast<int>(extents[3]);
    geometry = {x - left, y - top, geometry.width + left + right, geometry.height + top + bottom};
  }
  return geometry;
}

Json DesktopSession::swayTree() {
  impl_->require(DisplayServer::sway, "swayTree");
  return impl_->askSwayOrFail(SwayMessage::getTree, "", "get_tree");
}

std::vector<DesktopSession::SwayWindow> DesktopSession::swayWindows() {
  std::vector<SwayWindow> views;
  collectSwayViews(swayTree(), views);
  return views;
}

Json DesktopSession::swaymsg(const std::string& command) {
  impl_->require(DisplayServer::sway, "swaymsg");
  Json reply = impl_->askSwayOrFail(SwayMessage::runCommand, command, "\"" + command + "\"");
  // One result for each command of the line, separated by ',' or ';'.
  std::string failures;
  for (const Json& result : reply.is_array() ? reply : Json::array({reply})) {
    if (result.is_object() && result.value("success", false)) continue;
    failures += (failures.empty() ? "" : "; ") +
                (result.is_object() ? result.value("error", result.dump()) : result.dump());
  }
  if (!failures.empty()) throw DesktopError("sway refused \"" + command + "\": " + failures);
  return reply;
}

std::vector<DesktopSession::CompositorWindow> DesktopSession::compositorWindows() {
  impl_->requireShell("compositorWindows");
  return impl_->shell->windows();
}

std::optional<DesktopSession::CompositorWindow> DesktopSession::compositorWindowOf(const DesktopApp& app) {
  for (CompositorWindow& window : compositorWindows()) {
    if (window.id == app.windowId) return std::move(window);
  }
  return std::nullopt;
}

bool DesktopSession::appWindowActive(const DesktopApp& app) { return impl_->windowActive(app.pid()); }

bool displayServerInstalled(DisplayServer server) {
  const std::string path = Environment::inherit().get("PATH").value_or("/usr/bin:/bin");
  switch (server) {
    case DisplayServer::x11: return findProgram("Xvfb", path).has_value();
    case DisplayServer::sway: return findProgram("sway", path).has_value();
    case DisplayServer::gnome: return findProgram("gnome-shell", path).has_value();
    case DisplayServer::kde: return findProgram("kwin_wayland", path).has_value();
  }
  return false;
}

DesktopSession::ScreenPixels DesktopSession::screenPixels() {
  if (impl_->onShell()) return impl_->shell->screenPixels();
  if (impl_->onSway()) return impl_->capture(std::nullopt);
  Display* display = impl_->x.get();
  ScreenPixels pixels{impl_->options.width, impl_->options.height, {}};
  XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(pixels.width),
                            static_cast<unsigned>(pixels.height), AllPlanes, ZPixmap);
  if (image == nullptr) impl_->fail("cannot read the screen's pixels");
  const auto channel = [](unsigned long pixel, unsigned long mask) {
    return static_cast<unsigned char>((pixel & mask) >> std::countr_zero(mask));
  };
  pixels.rgb.reserve(static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height) * 3);
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      pixels.rgb.push_back(channel(pixel, image->red_mask));
      pixels.rgb.push_back(channel(pixel, image->green_mask));
      pixels.rgb.push_back(channel(pixel, image->blue_mask));
    }
  }
  XDestroyImage(image);
  return pixels;
}

}  // namespace kelp::test
