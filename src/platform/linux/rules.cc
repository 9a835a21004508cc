// The Linux backend's decisions that need no desktop to make.
#include "platform/linux/rules.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop {

Session sessionOf(const char* waylandDisplay, const char* currentDesktop,
                  const std::function<bool(const char*)>& ownsBusName) {
  if (!waylandDisplay || !*waylandDisplay) return Session::x11;
  const std::string desktops = currentDesktop ? currentDesktop : "";
  std::size_t start = 0;
  while (start <= desktops.size()) {
    std::size_t end = desktops.find(':', start);
    if (end == std::string::npos) end = desktops.size();
    const std::string name = desktops.substr(start, end - start);
    if (name == "GNOME") return Session::gnome;
    if (name == "KDE") return Session::kde;
    start = end + 1;
  }
  // A compositor started without a session around it says nothing of
  // itself in the environment; its names on the bus still tell.
  if (!desktops.empty()) return Session::wayland;
  if (ownsBusName && ownsBusName("org.gnome.Mutter.RemoteDesktop")) return Session::gnome;
  if (ownsBusName && ownsBusName("org.kde.KWin")) return Session::kde;
  return Session::wayland;
}

const char* compositorName(Session session) {
  switch (session) {
    case Session::x11: return "";
    case Session::wayland: return "wlroots";
    case Session::gnome: return "gnome";
    case Session::kde: return "kde";
  }
  return "";
}


std::optional<std::string> sessionBusAddress(const std::optional<std::string>& sessionAddress,
                                             const std::optional<std::string>& runtimeDir,
                                             bool runtimeSocketExists) {
  if (sessionAddress && !sessionAddress->empty()) {
    // An address is a list of alternatives tried in order; GDBus would act on
    // an autolaunch: entry by spawning a bus, so only the others are kept.
    std::string kept;
    std::string_view rest = *sessionAddress;
    while (!rest.empty()) {
      std::size_t end = rest.find(';');
      std::string_view entry = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (entry.empty() || entry.starts_with("autolaunch:")) continue;
      if (!kept.empty()) kept += ';';
      kept += entry;
    }
    if (kept.empty()) return std::nullopt;
    return kept;
  }
  if (runtimeDir && !runtimeDir->empty() && runtimeSocketExists) {
    // The path goes into a D-Bus address, where only a few bytes may stand
    // unescaped.
    std::string escaped;
    const std::string path = *runtimeDir + "/bus";
    for (unsigned char c : path) {
      const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                         c == '-' || c == '_' || c == '/' || c == '\\' || c == '.' || c == '*';
      if (plain) {
        escaped += static_cast<char>(c);
      } else {
        static constexpr char HEX[] = "0123456789abcdef";
        escaped += '%';
        escaped += HEX[c >> 4];
        escaped += HEX[c & 0xf];
      }
    }
    return "unix:path=" + escaped;
  }
  return std::nullopt;
}

std::vector<Screen> screensFromMonitors(const std::vector<MonitorRect>& monitors) {
  std::vector<Screen> screens;
  if (monitors.empty()) return screens;
  auto primary = std::find_if(monitors.begin(), monitors.end(), [](const MonitorRect& m) { return m.primary; });
  const bool hasPrimary = primary != monitors.end();
  const MonitorRect& reference = hasPrimary ? *primary : monitors.front();
  const double baseline = static_cast<double>(reference.y) + reference.height;
  for (const MonitorRect& m : monitors) {
    Screen screen;
    screen.x = static_cast<double>(m.x) - reference.x;
    screen.y = baseline - (static_cast<double>(m.y) + m.height);
    screen.w = m.width;
    screen.h = m.height;
    // Without a primary monitor (Xvfb sets none) the reference monitor plays
    // its part, as GTK makes the first monitor primary then; only one
    // monitor is main even if RandR ever marked two.
    screen.main = &m == &reference;
    screens.push_back(screen);
  }
  return screens;
}

Point accessibilityOrigin(const std::vector<MonitorRect>& monitors) {
  if (monitors.empty()) return {};
  auto primary =
      std::find_if(monitors.begin(), monitors.end(), [](const MonitorRect& m) { return m.primary; });
  const MonitorRect& reference = primary != monitors.end() ? *primary : monitors.front();
  return {static_cast<double>(reference.x), static_cast<double>(reference.y)};
}

WindowKind windowKind(const std::vector<std::string>& typeNames) {
  static const std::map<std::string, WindowKind, std::less<>> KINDS = {
      {"_NET_WM_WINDOW_TYPE_NORMAL", WindowKind::normal},
      {"_NET_WM_WINDOW_TYPE_DIALOG", WindowKind::normal},
      {"_NET_WM_WINDOW_TYPE_DOCK", WindowKind::dock},
      {"_NET_WM_WINDOW_TYPE_DESKTOP", WindowKind::desktop},
      {"_NET_WM_WINDOW_TYPE_TOOLBAR", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_MENU", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_UTILITY", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_SPLASH", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_POPUP_MENU", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_TOOLTIP", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_NOTIFICATION", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_COMBO", WindowKind::other},
      {"_NET_WM_WINDOW_TYPE_DND", WindowKind::other},
  };
  // EWMH: a window manager uses the first type it knows and treats a window
  // with none it knows as normal.
  for (const std::string& name : typeNames) {
    auto it = KINDS.find(name);
    if (it != KINDS.end()) return it->second;
  }
  return WindowKind::normal;
}

std::int64_t windowLayer(WindowKind kind) {
  // The numbers follow the window levels agents know from the Mac: normal
  // windows 0, floating windows 3, the dock 20.
  switch (kind) {
    case WindowKind::normal:
      return 0;
    case WindowKind::dock:
      return 20;
    case WindowKind::desktop:
    case WindowKind::other:
      return 3;
  }
  return 3;
}

std::vector<WindowOwner> windowOwners(const std::vector<ClientWindow>& clients) {
  std::vector<WindowOwner> owners;
  std::map<Pid, std::size_t> indexOf;
  for (const ClientWindow& window : clients) {
    if (!window.pid || *window.pid <= 0) continue;
    auto [it, added] = indexOf.try_emplace(*window.pid, owners.size());
    if (added) {
      WindowOwner owner;
      owner.pid = *window.pid;
      owners.push_back(std::move(owner));
    }
    WindowOwner& owner = owners[it->second];
    // A process names itself the same way on all its windows as a rule; the
    // first window that says anything is taken at its word.
    if (!owner.wmInstance && window.wmInstance) owner.wmInstance = window.wmInstance;
    if (!owner.wmClass && window.wmClass) owner.wmClass = window.wmClass;
    if (!owner.gtkApplicationId && window.gtkApplicationId) owner.gtkApplicationId = window.gtkApplicationId;
    if (window.kind == WindowKind::normal) owner.ownsRegularWindow = true;
  }
  return owners;
}

std::vector<std::string> desktopEntryCandidates(const WindowOwner& owner) {
  std::vector<std::string> candidates;
  auto add = [&](const std::optional<std::string>& id) {
    if (!id || id->empty()) return;
    std::string entry = *id + ".desktop";
    if (std::find(candidates.begin(), candidates.end(), entry) == candidates.end()) {
      candidates.push_back(std::move(entry));
    }
  };
  add(owner.gtkApplicationId);
  add(owner.wmInstance);
  add(owner.wmClass);
  if (owner.wmClass) {
    std::string lower = *owner.wmClass;
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    add(lower);
  }
  return candidates;
}

std::optional<std::string> bundleIdFor(const WindowOwner& owner, const std::optional<std::string>& desktopEntryId) {
  if (desktopEntryId && !desktopEntryId->empty()) return desktopEntryId;
  if (owner.wmClass && !owner.wmClass->empty()) return owner.wmClass;
  return std::nullopt;
}

std::string programName(std::string_view commandLine) {
  std::string_view program = commandLine.substr(0, commandLine.find('\0'));
  program = program.substr(program.rfind('/') + 1);
  if (program.ends_with(".bin")) program.remove_suffix(4);
  return std::string(program);
}

std::optional<std::string> applicationName(const std::optional<std::string>& accessibleName,
                                           const std::optional<std::string>& wmClass) {
  if (accessibleName && !accessibleName->empty()) return accessibleName;
  if (wmClass && !wmClass->empty()) return wmClass;
  return std::nullopt;
}

std::vector<RunningApp> mergeRunningApps(const std::vector<WindowOwner>& owners,
                                         const std::vector<std::optional<std::string>>& bundleIds,
                                         const std::vector<AccessibleApp>& accessibleApps,
                                         std::optional<Pid> activePid) {
  std::map<Pid, std::string> accessibleNames;
  for (const AccessibleApp& app : accessibleApps) {
    if (app.pid > 0) accessibleNames.try_emplace(app.pid, app.name);
  }
  auto accessibleName = [&](Pid pid) -> std::optional<std::string> {
    auto it = accessibleNames.find(pid);
    if (it == accessibleNames.end()) return std::nullopt;
    return it->second;
  };

  std::vector<RunningApp> apps;
  std::set<Pid> listed;
  for (std::size_t i = 0; i < owners.size(); ++i) {
    const WindowOwner& owner = owners[i];
    if (!listed.insert(owner.pid).second) continue;
    RunningApp app;
    app.pid = owner.pid;
    app.name = applicationName(accessibleName(owner.pid), owner.wmClass);
    app.bundleId = i < bundleIds.size() ? bundleIds[i] : bundleIdFor(owner, std::nullopt);
    app.policy = owner.ownsRegularWindow ? ActivationPolicy::regular : ActivationPolicy::accessory;
    app.active = activePid && *activePid == owner.pid;
    apps.push_back(std::move(app));
  }
  for (const AccessibleApp& accessible : accessibleApps) {
    if (accessible.pid <= 0 || !listed.insert(accessible.pid).second) continue;
    RunningApp app;
    app.pid = accessible.pid;
    app.name = applicationName(accessible.name, std::nullopt);
    app.policy = ActivationPolicy::accessory;
    app.active = activePid && *activePid == accessible.pid;
    apps.push_back(std::move(app));
  }
  return apps;
}

std::vector<std::pair<std::string, std::string>> accessibilityEnvironment(
    const std::optional<std::string>& accessibilityBusAddress) {
  std::vector<std::pair<std::string, std::string>> variables = {
      {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
      {"QT_ACCESSIBILITY", "1"},
      {"GNOME_ACCESSIBILITY", "1"},
      {"ACCESSIBILITY_ENABLED", "1"},
  };
  if (accessibilityBusAddress && !accessibilityBusAddress->empty()) {
    variables.emplace_back("AT_SPI_BUS_ADDRESS", *accessibilityBusAddress);
  }
  return variables;
}

std::vector<std::string> withAccessibilitySwitches(std::vector<std::string> command) {
  static constexpr std::string_view CHROMIUM_PROGRAMS[] = {"chromium", "chromium-browser", "google-chrome",
                                                           "google-chrome-stable", "chrome", "electron"};
  static constexpr std::string_view SWITCH = "--force-renderer-accessibility";
  if (command.empty()) return command;
  std::string_view program = command.front();
  if (const std::size_t slash = program.rfind('/'); slash != std::string_view::npos) program.remove_prefix(slash + 1);
  const bool chromium = std::find(std::begin(CHROMIUM_PROGRAMS), std::end(CHROMIUM_PROGRAMS), program) !=
                        std::end(CHROMIUM_PROGRAMS);
  if (chromium && std::find(command.begin(), command.end(), SWITCH) == command.end()) {
    command.insert(command.begin() + 1, std::string(SWITCH));
  }
  return command;
}

std::string latin1ToUtf8(std::string_view latin1) {
  gsize written = 0;
  // Every byte is a character in ISO 8859-1, so the conversion cannot fail
  // on the text; only a missing converter could make it.
  GCharOwner utf8(g_convert(latin1.data(), static_cast<gssize>(latin1.size()), "UTF-8", "ISO-8859-1", nullptr,
                            &written, nullptr));
  if (!utf8) return {};
  return std::string(utf8.get(), written);
}

}  // namespace kelp::platform::linux_desktop
