// Private connections to applications, and what is learnt of each.
#include "platform/linux/atspi/channels.h"

#include <iterator>

#include "platform/linux/atspi/calls.h"
#include "platform/linux/atspi/unanswering.h"

namespace kelp::platform::linux_desktop {

DBusConnection* AtspiChannels::accessibilityBus() {
  if (!atspiStarted()) return nullptr;
  return atspi_get_a11y_bus();
}

bool AtspiChannels::isSelf(const std::string& bus) {
  DBusConnection* shared = accessibilityBus();
  const char* own = shared ? dbus_bus_get_unique_name(shared) : nullptr;
  return own && bus == own;
}

std::optional<std::string> AtspiChannels::socketAddress(const std::string& bus, bool& answered) {
  answered = true;
  DBusConnection* shared = accessibilityBus();
  // Only applications (unique names) have sockets of their own; this
  // process's socket is served by the main loop this thread would block.
  if (!shared || !bus.starts_with(':') || busOnly_.contains(bus) || isSelf(bus)) return std::nullopt;
  if (auto known = addresses_.find(bus); known != addresses_.end()) return known->second;
  if (unansweringApplications().holds(bus)) {
    answered = false;
    return std::nullopt;
  }

  DBusMessageOwner question(dbus_message_new_method_call(bus.c_str(), ROOT_PATH, "org.a11y.atspi.Application",
                                                         "GetApplicationBusAddress"));
  if (!question) return std::nullopt;
  dbus_message_set_auto_start(question.get(), FALSE);
  DBusErrorSlot error;
  countBlockingCall();
  DBusMessageOwner answer(
      dbus_connection_send_with_reply_and_block(shared, question.get(), ATSPI_CALL_TIMEOUT_MS, error.out()));
  if (!answer) {
    // An application that did not answer is asked again next time; one
    // that has no such method never offers a socket.
    if (meansUnanswered(error ? error.out()->name : nullptr)) {
      answered = false;
      unansweringApplications().note(bus);
    } else {
      busOnly_.insert(bus);
    }
    return std::nullopt;
  }
  MessageReader reader(answer.get());
  std::optional<std::string> address = reader.string();
  if (!address || address->empty()) {
    busOnly_.insert(bus);
    return std::nullopt;
  }
  addresses_.emplace(bus, *address);
  return address;
}

namespace {

PrivateConnectionOwner openSocket(const std::string& address) {
  DBusErrorSlot error;
  PrivateConnectionOwner peer(dbus_connection_open_private(address.c_str(), error.out()));
  if (peer) dbus_connection_set_exit_on_disconnect(peer.get(), FALSE);
  return peer;
}

}  // namespace

AtspiChannels::Route AtspiChannels::routeFor(const std::string& bus) {
  DBusConnection* shared = accessibilityBus();
  if (!shared) return {};
  if (isSelf(bus)) return {shared, true, false, true};
  if (auto it = peers_.find(bus); it != peers_.end()) {
    if (dbus_connection_get_is_connected(it->second.get())) return {it->second.get(), true, true};
    peers_.erase(it);
  }
  bool answered = true;
  const std::optional<std::string> address = socketAddress(bus, answered);
  if (!address) return {shared, answered};
  PrivateConnectionOwner peer = openSocket(*address);
  if (!peer) {
    busOnly_.insert(bus);
    return {shared};
  }
  DBusConnection* connection = peer.get();
  peers_.emplace(bus, std::move(peer));
  return {connection, true, true};
}

AtspiChannels::Route AtspiChannels::actionRouteFor(const std::string& bus) {
  pruneActionChannels();
  if (isSelf(bus)) return routeFor(bus);
  bool answered = true;
  const std::optional<std::string> address = socketAddress(bus, answered);
  if (!address) return answered ? routeFor(bus) : Route{accessibilityBus(), false};
  PrivateConnectionOwner peer = openSocket(*address);
  if (!peer) return routeFor(bus);
  DBusConnection* connection = peer.get();
  std::deque<PrivateConnectionOwner>& kept = actionPeers_[bus];
  kept.push_back(std::move(peer));
  while (kept.size() > MAX_ACTION_CHANNELS) kept.pop_front();
  return {connection, true, true};
}

void AtspiChannels::pruneActionChannels() {
  for (auto app = actionPeers_.begin(); app != actionPeers_.end();) {
    std::deque<PrivateConnectionOwner>& kept = app->second;
    // Reading sends nothing, so it is safe on a connection whose action
    // still runs; it notices the application's end.
    std::erase_if(kept, [](const PrivateConnectionOwner& peer) {
      dbus_connection_read_write(peer.get(), 0);
      while (DBusMessageOwner stray{dbus_connection_pop_message(peer.get())}) {
      }
      return !dbus_connection_get_is_connected(peer.get());
    });
    app = kept.empty() ? actionPeers_.erase(app) : std::next(app);
  }
}

void AtspiChannels::drop(const std::string& bus) { peers_.erase(bus); }

int majorVersion(std::string_view version) {
  int major = 0;
  std::size_t i = 0;
  for (; i < version.size() && version[i] >= '0' && version[i] <= '9' && major < 100000; ++i) {
    major = major * 10 + (version[i] - '0');
  }
  return i > 0 ? major : 0;
}

Toolkit AtspiChannels::toolkitOf(const std::string& bus) {
  if (auto known = toolkits_.find(bus); known != toolkits_.end()) return known->second;
  Toolkit toolkit;
  if (bus.starts_with(':')) {
    CallBatch batch(*this);
    std::size_t calls[2];
    const char* properties[2] = {"ToolkitName", "Version"};
    for (int i = 0; i < 2; ++i) {
      calls[i] = batch.add({bus, ROOT_PATH}, PROPERTIES_INTERFACE, "Get");
      appendString(batch.request(calls[i]), "org.a11y.atspi.Application");
      appendString(batch.request(calls[i]), properties[i]);
    }
    batch.run();
    std::string answers[2];
    for (int i = 0; i < 2; ++i) {
      MessageReader reply(batch.reply(calls[i]));
      if (std::optional<MessageReader> value = reply.enter()) answers[i] = value->string().value_or("");
    }
    toolkit = {answers[0], majorVersion(answers[1])};
    toolkit.placedByCompositor = placedByCompositor_ && placedByCompositor_(bus);
    // An application that did not answer is asked again next time.
    if (unansweringApplications().holds(bus)) return toolkit;
  }
  toolkits_.emplace(bus, toolkit);
  return toolkit;
}

void AtspiChannels::discardUnsolicited() {
  for (auto it = peers_.begin(); it != peers_.end();) {
    while (DBusMessageOwner stray{dbus_connection_pop_message(it->second.get())}) {
    }
    if (!dbus_connection_get_is_connected(it->second.get())) {
      it = peers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace kelp::platform::linux_desktop
