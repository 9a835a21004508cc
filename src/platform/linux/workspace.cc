// Running applications as the window manager and the accessibility bus
// know them, activation and launch through desktop entries.
#include <gio/gdesktopappinfo.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/linux/atspi/tree.h"
#include "platform/linux/desktop.h"

namespace kelp::platform::linux_desktop {
namespace {

constexpr std::string_view DESKTOP_SUFFIX = ".desktop";

std::string withoutDesktopSuffix(std::string id) {
  if (id.size() > DESKTOP_SUFFIX.size() && id.ends_with(DESKTOP_SUFFIX)) id.resize(id.size() - DESKTOP_SUFFIX.size());
  return id;
}

// Desktop entries by their StartupWMClass, read once per question and only
// when a window's own names found no entry.
class StartupClassIndex {
 public:
  std::optional<std::string> find(const WindowOwner& owner) {
    if (!loaded_) load();
    for (const std::optional<std::string>& name : {owner.wmClass, owner.wmInstance}) {
      if (!name) continue;
      auto it = entries_.find(*name);
      if (it != entries_.end()) return it->second;
    }
    return std::nullopt;
  }

 private:
  void load() {
    loaded_ = true;
    ObjectListOwner all(g_app_info_get_all());
    for (GList* item = all.get(); item; item = item->next) {
      if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
      auto* info = G_DESKTOP_APP_INFO(item->data);
      const char* startupClass = g_desktop_app_info_get_startup_wm_class(info);
      const char* id = g_app_info_get_id(G_APP_INFO(info));
      if (startupClass && *startupClass && id) entries_.try_emplace(startupClass, withoutDesktopSuffix(id));
    }
  }
  bool loaded_ = false;
  std::map<std::string, std::string, std::less<>> entries_;
};

// The entries found for window owners, kept until the installed entries
// change: reading them again costs every request that names an application
// a file or two per window, where they change once in a long while.
class KnownDesktopEntries {
 public:
  KnownDesktopEntries() : monitor_(GRef<GAppInfoMonitor>::adopt(g_app_info_monitor_get())) {
    if (monitor_) g_signal_connect(monitor_.get(), "changed", G_CALLBACK(&KnownDesktopEntries::forgetAll), this);
  }
  KnownDesktopEntries(const KnownDesktopEntries&) = delete;
  KnownDesktopEntries& operator=(const KnownDesktopEntries&) = delete;

  const std::optional<std::string>* find(const std::string& key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? nullptr : &found->second;
  }
  // Without a monitor nothing would tell of a change, so nothing is kept.
  void remember(std::string key, std::optional<std::string> entry) {
    if (monitor_) entries_.insert_or_assign(std::move(key), std::move(entry));
  }

 private:
  static void forgetAll(GAppInfoMonitor*, gpointer self) { static_cast<KnownDesktopEntries*>(self)->entries_.clear(); }

  GRef<GAppInfoMonitor> monitor_;
  std::map<std::string, std::optional<std::string>, std::less<>> entries_;
};

KnownDesktopEntries& knownDesktopEntries() {
  static KnownDesktopEntries known;
  return known;
}

std::optional<std::string> lookUpDesktopEntryId(const WindowOwner& owner, const std::vector<std::string>& candidates,
                                                StartupClassIndex& startupClasses) {
  for (const std::string& candidate : candidates) {
    auto info = GRef<GDesktopAppInfo>::adopt(g_desktop_app_info_new(candidate.c_str()));
    if (!info) continue;
    const char* id = g_app_info_get_id(G_APP_INFO(info.get()));
    return withoutDesktopSuffix(id ? id : candidate);
  }
  return startupClasses.find(owner);
}

// The desktop entry id (without ".desktop") that describes an owner's
// application, if one is installed.
std::optional<std::string> desktopEntryId(const WindowOwner& owner, StartupClassIndex& startupClasses) {
  const std::vector<std::string> candidates = desktopEntryCandidates(owner);
  // What the lookup reads of the owner: its candidates and its classes.
  std::string key = owner.wmClass.value_or("") + '\n' + owner.wmInstance.value_or("");
  for (const std::string& candidate : candidates) key += '\n' + candidate;
  KnownDesktopEntries& known = knownDesktopEntries();
  if (const std::optional<std::string>* found = known.find(key)) return *found;
  std::optional<std::string> entry = lookUpDesktopEntryId(owner, candidates, startupClasses);
  known.remember(std::move(key), entry);
  return entry;
}

}  // namespace

std::vector<ClientWindow> clientWindows(WindowServer& x) {
  std::vector<ClientWindow> windows;
  const std::optional<std::vector<WindowId>> clients = x.clientList();
  if (!clients) return windows;
  for (WindowId id : *clients) windows.push_back(x.clientWindow(id));
  return windows;
}

std::vector<AccessibleApp> accessibleApps(SessionBus& sessionBus) {
  std::vector<AccessibleApp> apps;
  if (!atspiReady(sessionBus)) return apps;
  for (RegisteredApp& registered : registeredApplications()) {
    if (registered.pid) apps.push_back({*registered.pid, std::move(registered.name)});
  }
  return apps;
}

// ---- workspace ---------------------------------------------------------------

std::optional<Pid> LinuxWorkspace::activePid() {
  const std::optional<WindowId> active = connections_.windows().activeWindow();
  if (!active) return std::nullopt;
  return connections_.windows().windowPid(*active);
}

std::vector<RunningApp> LinuxWorkspace::runningApplications() {
  const std::vector<WindowOwner> owners = windowOwners(clientWindows(connections_.windows()));
  StartupClassIndex startupClasses;
  std::vector<std::optional<std::string>> bundleIds;
  for (const WindowOwner& owner : owners) {
    bundleIds.push_back(bundleIdFor(owner, desktopEntryId(owner, startupClasses)));
  }
  return mergeRunningApps(owners, bundleIds, accessibleApps(connections_.sessionBus), activePid());
}

std::optional<RunningApp> LinuxWorkspace::frontmostApplication() {
  for (RunningApp& app : runningApplications()) {
    if (app.active) return std::move(app);
  }
  return std::nullopt;
}

std::optional<RunningApp> LinuxWorkspace::applicationWithPid(Pid pid) {
  for (RunningApp& app : runningApplications()) {
    if (app.pid == pid) return std::move(app);
  }
  return std::nullopt;
}

bool LinuxWorkspace::isActive(Pid pid) {
  const std::optional<Pid> active = activePid();
  return active && *active == pid;
}

bool LinuxWorkspace::activate(Pid pid) {
  if (pid <= 0) return false;
  const std::optional<WindowId> window = connections_.windows().topWindowOf(pid);
  return window && connections_.windows().activateWindow(*window);
}

std::optional<std::string> LinuxWorkspace::applicationPathForBundleId(const std::string& bundleId) {
  return desktopEntryPath(bundleId);
}

ApplicationFolders LinuxWorkspace::applicationFolders() {
  return {desktopEntryFolders(), std::string(DESKTOP_SUFFIX)};
}

void LinuxWorkspace::openApplication(const std::string& path, std::function<void(bool)> done) {
  // What "prompt" does, so that the application finds the bus however it
  // looks for it.
  publishAccessibility(connections_);
  launcher_.open(path, accessibilityEnvironment(connections_.sessionBus.accessibilityBusAddress()), std::move(done));
}

std::string LinuxWorkspace::homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
    return found->pw_dir;
  }
  return {};
}

bool LinuxWorkspace::fileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// ---- window list -------------------------------------------------------------

std::optional<std::vector<WindowInfo>> LinuxWindowList::onScreenWindows() {
  WindowServer& x = connections_.windows();
  if (!x.available()) return std::nullopt;
  std::vector<WindowInfo> list;
  std::optional<std::vector<WindowId>> stacking = x.stackingList();
  if (!stacking) return list;

  // Owner names follow the running-applications rule, which looks at the
  // windows in client-list order.
  const std::vector<ClientWindow> clients = clientWindows(x);
  std::map<WindowId, const ClientWindow*> clientById;
  for (const ClientWindow& client : clients) clientById.emplace(client.id, &client);
  std::map<Pid, std::optional<std::string>> wmClassByPid;
  for (const WindowOwner& owner : windowOwners(clients)) wmClassByPid.emplace(owner.pid, owner.wmClass);
  std::map<Pid, std::string> accessibleNames;
  for (AccessibleApp& app : accessibleApps(connections_.sessionBus)) {
    accessibleNames.try_emplace(app.pid, std::move(app.name));
  }

  // The stacking list runs bottom to top; the seam wants front to back.
  for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
    const WindowId id = *it;
    if (!x.isViewable(id)) continue;
    ClientWindow read;
    const ClientWindow* facts = nullptr;
    if (auto found = clientById.find(id); found != clientById.end()) {
      facts = found->second;
    } else {
      read = x.clientWindow(id);
      facts = &read;
    }
    if (facts->kind == WindowKind::desktop) continue;

    WindowInfo info;
    std::optional<std::string> wmClass = facts->wmClass;
    std::optional<std::string> accessibleName;
    if (facts->pid) {
      info.ownerPid = *facts->pid;
      if (auto owner = wmClassByPid.find(*facts->pid); owner != wmClassByPid.end() && owner->second) {
        wmClass = owner->second;
      }
      if (auto name = accessibleNames.find(*facts->pid); name != accessibleNames.end()) accessibleName = name->second;
    }
    info.ownerName = applicationName(accessibleName, wmClass);
    WindowTitle title = x.windowTitle(id);
    info.hasName = title.present;
    info.name = std::move(title.text);
    info.layer = windowLayer(facts->kind);
    list.push_back(std::move(info));
  }
  return list;
}

}  // namespace kelp::platform::linux_desktop
