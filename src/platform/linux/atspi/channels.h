// The connections AT-SPI calls travel on (why private sockets: see
// calls.h), and what is learnt once of each application at the other
// end: its toolkit, whether it lists its objects in bulk, whether its
// content was woken.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/linux/handles.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// Action connections kept open per application (see actionRouteFor). An
// action's connection is closed while its dialog is still open only after
// this many more actions on the same application.
inline constexpr std::size_t MAX_ACTION_CHANNELS = 32;

// The toolkit an application says it is built with (the Application
// interface's ToolkitName and Version), for the toolkits whose answers need
// reading differently.
struct Toolkit {
  std::string name;  // "GTK", "Qt", "Chromium", "Gecko", ...; "" when not told
  int major = 0;     // of the version
  // The application's windows are placed by a Wayland compositor, which
  // tells no client where its windows are.
  bool placedByCompositor = false;
  // GTK 4 sets "showing" on its windows alone, tells "sensitive" without
  // "enabled", and names widgets by their class.
  bool isGtk4() const { return name == "GTK" && major >= 4; }
  // Extents are measured from the window's top left rather than the
  // screen's: GTK 4 (4.8 and earlier) everywhere, and every toolkit whose
  // windows a compositor places.
  bool windowRelative() const { return placedByCompositor || isGtk4(); }
  // Qt 5's bridge crashes on Properties.GetAll.
  bool refusesGetAll() const { return name == "Qt"; }
  // AccessibleId is an empty string for every object: GTK 4's bridge has no
  // identifiers to give (4.8 to its main line), and Gecko gives none, not
  // even for elements with an HTML id (seen up to Firefox 153). Each call
  // costs the application as much as any other read.
  bool givesNoIdentifiers() const {
    return (name == "GTK" && major == 4) || (name == "Gecko" && major <= 153);
  }
  bool isChromium() const { return name == "Chromium"; }
  // GTK 3 and LibreOffice carry out an action inside the bridge's handler
  // of the call (at-spi2-atk): a dialog the action opens runs its modal loop
  // there, holding the connection that carried the call; once that
  // connection receives anything, its closing included, while the bridge
  // forwards a key, the application freezes for good.
  bool actsInsideTheCall() const { return (name == "GTK" && major <= 3) || name == "gtk"; }
  // LibreOffice (whose bridge says "gtk", in small letters) has objects that
  // make their children only when asked, and its collections walk into
  // them whole.
  bool collectionsUnbounded() const { return name == "gtk"; }
};

// The major number of a version such as "4.8.3"; 0 for anything else.
int majorVersion(std::string_view version);

// The connections calls travel on: one private socket per application that
// offers one, libatspi's accessibility bus connection for the rest. They
// outlive requests; what they carry does not.
class AtspiChannels {
 public:
  AtspiChannels() = default;
  AtspiChannels(const AtspiChannels&) = delete;
  AtspiChannels& operator=(const AtspiChannels&) = delete;

  // Where calls to the application at unique name `bus` go.
  struct Route {
    DBusConnection* connection = nullptr;  // null when accessibility is not running
    bool answered = true;                  // false: the application let the question time out
    bool own = false;                      // a private socket: every message on it is ours
    // This process's own connection, where its own toolkit's bridge answers
    // (the self-test's window): a reply comes only while the connection is
    // dispatched, so waiting for one dispatches it.
    bool self = false;
  };
  Route routeFor(const std::string& bus);
  // Where an action on the application at `bus` goes: a private socket of
  // its own, used for nothing else, where the application offers sockets;
  // else where its other calls go.
  //
  // The toolkit bridge answers an action's call and then carries the action
  // out inside its handler of the call. An action that opens a modal dialog
  // (any GTK 3 menu item that does) runs the dialog's main loop there, and
  // until the dialog closes the connection that carried the call must
  // receive nothing, not even its closing: while it forwards a key event to
  // the registry the bridge dispatches all its connections in a main loop of
  // its own, and dispatching the one still inside its handler blocks the
  // application for good. So each action gets a fresh connection, and it
  // stays open while this process runs, up to MAX_ACTION_CHANNELS per
  // application, the oldest closed first. That is not enough: the bridge
  // forwards keys while any client reads it, such as the next helper
  // process, and this process's connections close when it ends. The core
  // therefore clicks rather than presses where the toolkit acts inside the
  // call (Toolkit::actsInsideTheCall), and an action goes through here only
  // where nothing can be clicked.
  Route actionRouteFor(const std::string& bus);
  // Forgets the application's private socket, with whatever is still queued
  // on it.
  void drop(const std::string& bus);
  // libatspi's connection to the accessibility bus, borrowed; null unless
  // libatspi runs. A toolkit bridge in this process shares it.
  static DBusConnection* accessibilityBus();
  // Whether `bus` is that connection's own name.
  static bool isSelf(const std::string& bus);
  // Throws away messages nobody asked for that arrived on private sockets.
  void discardUnsolicited();

  // Applications whose bulk listing (Cache.GetItems) failed or took too
  // long once are read object by object from then on: a listing that a big
  // application cannot produce within the timeout would fail every walk.
  bool refusesBulk(const std::string& bus) const { return noBulk_.contains(bus); }
  void markRefusesBulk(const std::string& bus) { noBulk_.insert(bus); }

  // The toolkit of the application at `bus`, asked once it answers.
  Toolkit toolkitOf(const std::string& bus);
  // Tells, for an application's bus, whether a compositor places its
  // windows without telling it where (Toolkit::placedByCompositor).
  void setPlacedByCompositor(std::function<bool(const std::string& bus)> placed) {
    placedByCompositor_ = std::move(placed);
  }
  // Properties of every object that an application's bridge said it does
  // not have (Qt 5 knows no AccessibleId): they are not asked of it again.
  bool lacksProperty(const std::string& bus, std::string_view property) const {
    auto found = lacking_.find(bus);
    return found != lacking_.end() && found->second.contains(property);
  }
  void markLacksProperty(const std::string& bus, std::string_view property) {
    lacking_[bus].emplace(property);
  }
  // Applications whose content was woken, once each.
  bool woken(const std::string& bus) const { return woken_.contains(bus); }
  void markWoken(const std::string& bus) { woken_.insert(bus); }

 private:
  // The address of the application's own socket; none where it offers
  // none, or did not answer (`answered` false).
  std::optional<std::string> socketAddress(const std::string& bus, bool& answered);
  // Closes the action connections of applications that went away, and
  // throws away what arrived on the others.
  void pruneActionChannels();

  std::function<bool(const std::string& bus)> placedByCompositor_;
  std::map<std::string, PrivateConnectionOwner, std::less<>> peers_;
  std::map<std::string, std::string, std::less<>> addresses_;
  std::map<std::string, std::deque<PrivateConnectionOwner>, std::less<>> actionPeers_;
  // Applications without a private socket, asked once.
  std::set<std::string, std::less<>> busOnly_;
  std::set<std::string, std::less<>> noBulk_;
  std::map<std::string, Toolkit, std::less<>> toolkits_;
  std::set<std::string, std::less<>> woken_;
  std::map<std::string, std::set<std::string, std::less<>>, std::less<>> lacking_;
};

}  // namespace kelp::platform::linux_desktop
