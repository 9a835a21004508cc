// Method calls on AT-SPI objects, sent many at a time.
//
// A read costs the application a few tens of microseconds, and the bus
// daemon as much again for routing it; waiting for each reply before sending
// the next call adds both up for every read. So calls go out in batches and
// their replies are collected afterwards, and they go straight to the
// application over the private socket its toolkit bridge offers for this
// (org.a11y.atspi.Application.GetApplicationBusAddress) wherever it offers
// one, as libatspi does. libdbus, not GDBus: GDBus spends several times the
// application's cost per call on our side.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/atspi_tree.h"
#include "platform/linux/handles.h"

namespace kelp::platform::linux_x11 {

inline constexpr const char* ACCESSIBLE_INTERFACE = "org.a11y.atspi.Accessible";
inline constexpr const char* COMPONENT_INTERFACE = "org.a11y.atspi.Component";
inline constexpr const char* TEXT_INTERFACE = "org.a11y.atspi.Text";
inline constexpr const char* VALUE_INTERFACE = "org.a11y.atspi.Value";
inline constexpr const char* EDITABLE_TEXT_INTERFACE = "org.a11y.atspi.EditableText";
inline constexpr const char* SELECTION_INTERFACE = "org.a11y.atspi.Selection";
inline constexpr const char* ACTION_INTERFACE = "org.a11y.atspi.Action";
inline constexpr const char* COLLECTION_INTERFACE = "org.a11y.atspi.Collection";
inline constexpr const char* CACHE_INTERFACE = "org.a11y.atspi.Cache";
inline constexpr const char* PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties";
inline constexpr const char* CACHE_PATH = "/org/a11y/atspi/cache";

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
  // GTK 4 (4.8 and earlier on X11) sets "showing" on its windows alone and
  // reports extents relative to the window's top left.
  bool windowRelative() const { return name == "GTK" && major >= 4; }
  // Qt 5's bridge crashes on Properties.GetAll.
  bool refusesGetAll() const { return name == "Qt"; }
  bool isChromium() const { return name == "Chromium"; }
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
  // application, the oldest closed first. (When this process ends the bridge
  // loses its last client, unless another assistive program is about, and
  // forwards no more keys.)
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

  // The toolkit of the application at `bus`, asked once; `silent` as for a
  // batch.
  Toolkit toolkitOf(const std::string& bus, std::set<std::string>& silent);
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

  std::map<std::string, PrivateConnectionOwner, std::less<>> peers_;
  std::map<std::string, std::string, std::less<>> addresses_;
  std::map<std::string, std::deque<PrivateConnectionOwner>, std::less<>> actionPeers_;
  // Applications without a private socket, asked once.
  std::set<std::string, std::less<>> busOnly_;
  std::set<std::string, std::less<>> noBulk_;
  std::map<std::string, Toolkit, std::less<>> toolkits_;
  std::set<std::string, std::less<>> woken_;
};

// Calls made together: each goes out as soon as the next is added (or the
// batch runs), so the application answers while later calls are still being
// made, and no reply is awaited before all are sent. A batch is used once.
// Waiting is bounded: an application that sends nothing for the AT-SPI
// timeout has let its calls time out, and one that did, or went away, is not
// called again by the batches sharing `silent`; so a hung or vanished
// application costs one timeout per burst of reads, not one per read.
class CallBatch {
 public:
  CallBatch(AtspiChannels& channels, std::set<std::string>& silent) : channels_(channels), silent_(silent) {}
  CallBatch(const CallBatch&) = delete;
  CallBatch& operator=(const CallBatch&) = delete;

  // Adds a call and returns its index. Its arguments are appended to
  // `request(index)` before the next add() or run().
  std::size_t add(const ObjectRef& target, const char* interface, const char* method);
  DBusMessage* request(std::size_t index) { return calls_[index].request.get(); }
  std::size_t size() const { return calls_.size(); }

  void run();
  // A call's reply after run(); null for calls that failed in any way.
  DBusMessage* reply(std::size_t index) const { return calls_[index].reply.get(); }

 private:
  struct Call {
    std::string bus;
    DBusMessageOwner request;
    DBusPendingCallOwner pending;  // on the shared bus
    DBusMessageOwner reply;
  };
  using Waiting = std::map<std::uint32_t, std::size_t>;  // serial -> call index

  void sendLast();
  // Waits for a call to this process's own bridge, dispatching the
  // connection meanwhile; bounded by the AT-SPI timeout.
  static void awaitDispatching(DBusConnection* connection, DBusPendingCall* pending);
  // Reads the replies to the calls sent on a private socket; false when the
  // application stopped answering before all came.
  bool collectOwn(DBusConnection* connection, Waiting& waiting);

  AtspiChannels& channels_;
  std::set<std::string>& silent_;
  std::vector<Call> calls_;
  bool lastSent_ = true;
  std::map<std::string, AtspiChannels::Route, std::less<>> routes_;
  // Private sockets carry nothing but our calls and their replies, so
  // replies there are matched by serial; libdbus's pending calls would cost
  // more than the application's answer (each allocates its timeout error).
  // The shared bus also carries libatspi's traffic, so calls there wait as
  // pending calls.
  std::map<DBusConnection*, Waiting> waiting_;
};

// Whether `ref` is a well-formed bus name and object path; references from
// other applications are checked before any use.
bool isValidRef(const ObjectRef& ref);

// The process behind the application at unique name `bus`, as the bus
// daemon knows it.
std::optional<Pid> processOfBus(AtspiChannels& channels, std::set<std::string>& silent,
                                const std::string& bus);

// Typed reading of a D-Bus message or of one of its containers. Every
// reader checks the type it reads, so a reply of an unexpected shape reads
// as absent instead of as garbage.
class MessageReader {
 public:
  // Positioned at the first argument of `message`; invalid for null.
  explicit MessageReader(DBusMessage* message);

  bool valid() const { return valid_; }
  int type() const;
  // Each reader moves past what it read when it succeeds.
  bool next();
  std::optional<std::string> string();  // s or o
  std::optional<std::uint32_t> uint32();
  std::optional<std::int32_t> int32();
  std::optional<double> number();  // d, or an integer type
  std::optional<bool> boolean();
  // Enters the array, struct, variant or dict entry at the position.
  std::optional<MessageReader> enter();
  // (so)
  std::optional<ObjectRef> objectRef();
  // a(so)
  std::optional<std::vector<ObjectRef>> objectRefs();

 private:
  MessageReader() = default;
  DBusMessageIter iter_{};
  bool valid_ = false;
};

// Append one argument each, after those already there.
void appendString(DBusMessage* message, const char* text);
void appendUint32(DBusMessage* message, std::uint32_t number);
void appendInt32(DBusMessage* message, std::int32_t number);
void appendBoolean(DBusMessage* message, bool flag);

}  // namespace kelp::platform::linux_x11
