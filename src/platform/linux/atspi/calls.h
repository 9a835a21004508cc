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
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/atspi/channels.h"
#include "platform/linux/atspi/messages.h"
#include "platform/linux/atspi/tree.h"
#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop {

inline constexpr const char* ACCESSIBLE_INTERFACE = "org.a11y.atspi.Accessible";
inline constexpr const char* COMPONENT_INTERFACE = "org.a11y.atspi.Component";
inline constexpr const char* TEXT_INTERFACE = "org.a11y.atspi.Text";
inline constexpr const char* VALUE_INTERFACE = "org.a11y.atspi.Value";
inline constexpr const char* TABLE_INTERFACE = "org.a11y.atspi.Table";
inline constexpr const char* EDITABLE_TEXT_INTERFACE = "org.a11y.atspi.EditableText";
inline constexpr const char* SELECTION_INTERFACE = "org.a11y.atspi.Selection";
inline constexpr const char* ACTION_INTERFACE = "org.a11y.atspi.Action";
inline constexpr const char* COLLECTION_INTERFACE = "org.a11y.atspi.Collection";
inline constexpr const char* CACHE_INTERFACE = "org.a11y.atspi.Cache";
inline constexpr const char* PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties";
inline constexpr const char* CACHE_PATH = "/org/a11y/atspi/cache";
// Properties of the Accessible interface that older bridges lack.
inline constexpr const char* ACCESSIBLE_ID_PROPERTY = "AccessibleId";
inline constexpr const char* HELP_TEXT_PROPERTY = "HelpText";

// Calls made together: each goes out as soon as the next is added (or the
// batch runs), so the application answers while later calls are still being
// made, and no reply is awaited before all are sent. A batch is used once.
// Waiting is bounded: an application that sends nothing for the AT-SPI
// timeout has let its calls time out, and one that did, or went away, is
// not called again until it answers (unanswering.h); so a hung or
// vanished application costs one timeout, not one per read.
class CallBatch {
 public:
  explicit CallBatch(AtspiChannels& channels) : channels_(channels) {}
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
  // The error the application answered a call with; empty where it gave a
  // reply, or none at all.
  const std::string& error(std::size_t index) const { return calls_[index].error; }

 private:
  struct Call {
    std::string bus;
    DBusMessageOwner request;
    DBusPendingCallOwner pending;  // on the shared bus
    DBusMessageOwner reply;
    std::string error;
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

// What this process sent to applications over the accessibility
// connections, and how many times it waited for their answers (a batch,
// however many calls it holds, waits once): the figures the tree benchmark
// reports beside the time, since waits rather than calls decide how long a
// walk takes. Main thread only, as every AT-SPI call is.
struct BusTraffic {
  std::uint64_t messages = 0;
  std::uint64_t waits = 0;
  // Messages by "Interface.Method" (the property's name for Properties.Get),
  // so that the benchmark tells which reads a walk spends its time on.
  std::map<std::string, std::uint64_t, std::less<>> byMethod;
};
BusTraffic& busTraffic();
// Counts one call sent and waited for on its own.
inline void countBlockingCall() {
  ++busTraffic().messages;
  ++busTraffic().waits;
}

// The process behind the application at unique name `bus`, as the bus
// daemon knows it.
std::optional<Pid> processOfBus(const std::string& bus);

}  // namespace kelp::platform::linux_desktop
