// Finding desktop entries, and starting an application and watching for its window.
#include "platform/linux/launch.h"

#include <gio/gdesktopappinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/linux/handles.h"
#include "platform/linux/rules.h"
#include "platform/linux/x11/display.h"

namespace kelp::platform::linux_desktop {
namespace {

constexpr std::string_view DESKTOP_SUFFIX = ".desktop";

// ---- finding entries -------------------------------------------------------------

// Names compared the way people mean them: same letters whatever the case
// and the Unicode composition. Empty for text that is not UTF-8.
std::string comparable(const char* text) {
  if (!text) return {};
  GCharOwner normalized(g_utf8_normalize(text, -1, G_NORMALIZE_ALL));
  if (!normalized) return {};
  GCharOwner folded(g_utf8_casefold(normalized.get(), -1));
  return folded ? std::string(folded.get()) : std::string();
}

std::string fileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Candidate {
  int rank;  // lower wins
  std::string id;
  std::string path;
};

// ---- watching a launch ------------------------------------------------------------

// How often and how long a launched process is looked at. The limit lies
// well beyond any wait for a launch: a process still running then without a
// window (a tray program) has started all the same.
constexpr auto WATCH_INTERVAL = std::chrono::milliseconds(40);
constexpr auto WATCH_LIMIT = std::chrono::seconds(30);
// How long the end of a Launcher waits for its watches to notice.
constexpr auto CLOSING_WAIT = std::chrono::seconds(1);
// Process trees of an application are shallow; /proc could show a cycle
// while pids are reused.
constexpr int ANCESTRY_LIMIT = 64;

std::optional<Pid> parentOf(Pid pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  // The command name in parentheses may hold anything, also ") ".
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream rest(line.substr(close + 1));
  char state = 0;
  long parent = 0;
  if (!(rest >> state >> parent) || parent <= 0) return std::nullopt;
  return static_cast<Pid>(parent);
}

bool descendsFrom(Pid pid, Pid ancestor) {
  for (int step = 0; step < ANCESTRY_LIMIT && pid > 1; ++step) {
    if (pid == ancestor) return true;
    const std::optional<Pid> parent = parentOf(pid);
    if (!parent) return false;
    pid = *parent;
  }
  return false;
}

// A managed window of the process or of one it started (a launcher script's
// program).
std::optional<WindowId> windowOfProcessTree(WindowServer& x, Pid root) {
  const std::optional<std::vector<WindowId>> clients = x.clientList();
  if (!clients) return std::nullopt;
  for (WindowId id : *clients) {
    const std::optional<Pid> pid = x.windowPid(id);
    if (pid && descendsFrom(*pid, root)) return id;
  }
  return std::nullopt;
}

void forgetEnd(GPid, gint, gpointer) {}

// The application outlives the watch; GLib reaps it from the main loop
// whenever it ends, so it never lingers as a zombie.
void reapWhenEnded(Pid pid) { g_child_watch_add(static_cast<GPid>(pid), forgetEnd, nullptr); }

// Runs between fork and exec: only async-signal-safe calls.
void leaveOurSession(gpointer) { ::setsid(); }

void callQuietly(const std::function<void(bool)>& done, bool ok) {
  if (!done) return;
  try {
    done(ok);
  } catch (...) {
    // A watching thread has nobody to hand an exception to.
  }
}

}  // namespace

// ---- entries -----------------------------------------------------------------------

std::optional<std::string> desktopEntryPath(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::string id = name;
  if (!id.ends_with(DESKTOP_SUFFIX)) id += DESKTOP_SUFFIX;
  if (auto byId = GRef<GDesktopAppInfo>::adopt(g_desktop_app_info_new(id.c_str()))) {
    if (const char* path = g_desktop_app_info_get_filename(byId.get())) return std::string(path);
  }

  const std::string wanted = comparable(name.c_str());
  if (wanted.empty()) return std::nullopt;
  std::optional<Candidate> best;
  ObjectListOwner all(g_app_info_get_all());
  for (GList* item = all.get(); item; item = item->next) {
    if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
    auto* info = G_DESKTOP_APP_INFO(item->data);
    GAppInfo* app = G_APP_INFO(info);
    const char* path = g_desktop_app_info_get_filename(info);
    if (!path) continue;
    GCharOwner plainName(g_desktop_app_info_get_string(info, G_KEY_FILE_DESKTOP_KEY_NAME));
    const char* executable = g_app_info_get_executable(app);
    int rank = -1;
    if (comparable(g_app_info_get_name(app)) == wanted || comparable(plainName.get()) == wanted) {
      rank = 0;
    } else if (executable && comparable(fileName(executable).c_str()) == wanted) {
      rank = 1;
    }
    if (rank < 0) continue;
    if (!g_app_info_should_show(app)) rank += 2;
    const char* entryId = g_app_info_get_id(app);
    Candidate candidate{rank, entryId ? entryId : "", path};
    if (!best || candidate.rank < best->rank || (candidate.rank == best->rank && candidate.id < best->id)) {
      best = std::move(candidate);
    }
  }
  if (!best) return std::nullopt;
  return best->path;
}

std::vector<std::string> desktopEntryFolders() {
  // GLib's default data folders end in '/' ("/usr/share/"); a path built
  // from them should look like the one desktopEntryPath reports.
  const auto applications = [](std::string dir) {
    while (!dir.empty() && dir.ends_with('/')) dir.pop_back();
    return dir + "/applications";
  };
  std::vector<std::string> folders;
  for (const gchar* const* dir = g_get_system_data_dirs(); dir && *dir; ++dir)
    folders.push_back(applications(*dir));
  folders.push_back(applications(g_get_user_data_dir()));
  return folders;
}

std::optional<std::vector<std::string>> commandLineOf(std::string_view exec, const std::string& name,
                                                      const std::string& icon, const std::string& entryPath) {
  const auto quoted = [](const std::string& text) {
    GCharOwner quote(g_shell_quote(text.c_str()));
    return std::string(quote.get());
  };
  std::string expanded;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] != '%' || i + 1 == exec.size()) {
      expanded += exec[i];
      continue;
    }
    switch (exec[++i]) {
      case '%':
        expanded += '%';
        break;
      case 'i':
        if (!icon.empty()) expanded += "--icon " + quoted(icon);
        break;
      case 'c':
        expanded += quoted(name);
        break;
      case 'k':
        expanded += quoted(entryPath);
        break;
      default:
        // Files and URLs (none are given) and the deprecated codes.
        break;
    }
  }
  gint argc = 0;
  gchar** argv = nullptr;
  if (!g_shell_parse_argv(expanded.c_str(), &argc, &argv, nullptr)) return std::nullopt;
  std::unique_ptr<gchar*, Releaser<g_strfreev>> owned(argv);
  std::vector<std::string> words(argv, argv + argc);
  if (words.empty() || words.front().empty()) return std::nullopt;
  return words;
}

// ---- launching ---------------------------------------------------------------------

struct LaunchWatches {
  std::mutex mutex;
  std::condition_variable ended;
  bool closing = false;  // the Launcher is gone
  int running = 0;
};

namespace {

// Runs on the watching thread. It owns all it uses (an X connection of its
// own, the process id, the callback) and shares only `watches` with the
// Launcher, so it may run on after the Launcher is gone.
void watchLaunch(Pid pid, std::unique_ptr<WindowServer> x, std::function<void(bool)> done,
                 std::shared_ptr<LaunchWatches> watches) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point limit = Clock::now() + WATCH_LIMIT;
  bool reaped = false;
  bool started = false;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) {
      // Single-instance applications hand the request to the instance
      // already running and exit without error: the application did open.
      reaped = true;
      started = ended == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
      break;
    }
    if (x) {
      if (std::optional<WindowId> window = windowOfProcessTree(*x, pid)) {
        // Opened to be used: in front, as a launch from a menu would be.
        x->activateWindow(*window);
        started = true;
        break;
      }
    }
    {
      std::unique_lock lock(watches->mutex);
      if (watches->closing) break;
      if (Clock::now() >= limit) {
        started = true;
        break;
      }
      watches->ended.wait_for(lock, WATCH_INTERVAL, [&] { return watches->closing; });
    }
  }
  x.reset();
  if (!reaped) reapWhenEnded(pid);
  callQuietly(done, started);
  std::lock_guard lock(watches->mutex);
  --watches->running;
  watches->ended.notify_all();
}

}  // namespace

Launcher::Launcher(std::function<std::unique_ptr<WindowServer>()> newWindowServer)
    : newWindowServer_(std::move(newWindowServer)), watches_(std::make_shared<LaunchWatches>()) {}

Launcher::~Launcher() {
  std::unique_lock lock(watches_->mutex);
  watches_->closing = true;
  watches_->ended.notify_all();
  // Bounded: a watch stuck in a call to a hung X server is left behind,
  // which is safe since it shares nothing else with us.
  watches_->ended.wait_for(lock, CLOSING_WAIT, [&] { return watches_->running == 0; });
}

void Launcher::open(const std::string& path, const std::vector<std::pair<std::string, std::string>>& environment,
                    std::function<void(bool)> done) {
  auto info = GRef<GDesktopAppInfo>::adopt(g_desktop_app_info_new_from_filename(path.c_str()));
  if (!info) return callQuietly(done, false);
  // A terminal program needs a terminal emulator to show in, which this
  // helper does not pick for anyone.
  if (g_desktop_app_info_get_boolean(info.get(), G_KEY_FILE_DESKTOP_KEY_TERMINAL))
    return callQuietly(done, false);
  GCharOwner exec(g_desktop_app_info_get_string(info.get(), G_KEY_FILE_DESKTOP_KEY_EXEC));
  GCharOwner icon(g_desktop_app_info_get_string(info.get(), G_KEY_FILE_DESKTOP_KEY_ICON));
  GCharOwner folder(g_desktop_app_info_get_string(info.get(), G_KEY_FILE_DESKTOP_KEY_PATH));
  const char* name = g_app_info_get_name(G_APP_INFO(info.get()));
  if (!exec) return callQuietly(done, false);
  std::optional<std::vector<std::string>> command =
      commandLineOf(exec.get(), name ? name : "", icon ? icon.get() : "", path);
  if (!command) return callQuietly(done, false);
  command = withAccessibilitySwitches(std::move(*command));

  // The watching thread gets a window server connection of its own (Xlib
  // objects stay with one thread each here), opened now so that opening it
  // never races with anything of the main thread's.
  std::unique_ptr<WindowServer> x = newWindowServer_ ? newWindowServer_() : nullptr;
  if (x && !x->available()) x.reset();

  std::vector<gchar*> argv;
  for (const std::string& word : *command) argv.push_back(const_cast<gchar*>(word.c_str()));
  argv.push_back(nullptr);
  // Standard output carries our protocol and standard input our requests:
  // the child gets /dev/null for all three (GLib's default for input). It
  // stays our child until watched, in a session of its own so that signals
  // meant for us do not reach it.
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                              G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
  const char* workingFolder = folder && *folder.get() ? folder.get() : nullptr;
  GPid pid = 0;
  GErrorSlot error;
  gchar** envp = g_get_environ();
  for (const auto& [variable, value] : environment) envp = g_environ_setenv(envp, variable.c_str(), value.c_str(), TRUE);
  const bool spawned =
      g_spawn_async(workingFolder, argv.data(), envp, flags, leaveOurSession, nullptr, &pid, error.out());
  g_strfreev(envp);
  if (!spawned ||
      pid <= 0) {
    return callQuietly(done, false);
  }

  {
    std::lock_guard lock(watches_->mutex);
    ++watches_->running;
  }
  try {
    std::thread(watchLaunch, static_cast<Pid>(pid), std::move(x), done, watches_).detach();
  } catch (const std::system_error&) {
    // Without a thread to watch it the process still started.
    {
      std::lock_guard lock(watches_->mutex);
      --watches_->running;
    }
    reapWhenEnded(static_cast<Pid>(pid));
    callQuietly(done, true);
  }
}

}  // namespace kelp::platform::linux_desktop
