// Sending batches of AT-SPI calls and collecting their replies.
#include "platform/linux/atspi/calls.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/linux/atspi/unanswering.h"

namespace kelp::platform::linux_desktop {
namespace {

// However busy an application keeps answering, a batch waits no longer.
constexpr int BATCH_LIMIT_MS = 4 * ATSPI_CALL_TIMEOUT_MS;

}  // namespace

BusTraffic& busTraffic() {
  static BusTraffic traffic;
  return traffic;
}

namespace {

// What the traffic counters file a call under: the method, or for a
// property read the property itself, as those are the reads that differ.
std::string methodKey(DBusMessage* request) {
  const char* interface = dbus_message_get_interface(request);
  const char* member = dbus_message_get_member(request);
  std::string key = std::string(interface ? interface : "") + "." + (member ? member : "");
  if (std::string_view(member ? member : "") == "Get") {
    MessageReader reader(request);
    reader.string();
    if (std::optional<std::string> property = reader.string()) key += " " + *property;
  }
  const std::string_view prefix = "org.a11y.atspi.";
  if (key.starts_with(prefix)) key.erase(0, prefix.size());
  return key;
}

void countSent(DBusMessage* request) {
  BusTraffic& traffic = busTraffic();
  ++traffic.messages;
  ++traffic.byMethod[methodKey(request)];
}

}  // namespace

std::size_t CallBatch::add(const ObjectRef& target, const char* interface, const char* method) {
  sendLast();
  Call call;
  call.bus = target.bus;
  // libdbus aborts the process on a malformed name, and names come from
  // other applications.
  if (isValidRef(target)) {
    call.request.reset(
        dbus_message_new_method_call(target.bus.c_str(), target.path.c_str(), interface, method));
  }
  if (call.request) dbus_message_set_auto_start(call.request.get(), FALSE);
  calls_.push_back(std::move(call));
  lastSent_ = false;
  return calls_.size() - 1;
}

void CallBatch::sendLast() {
  if (lastSent_ || calls_.empty()) return;
  lastSent_ = true;
  const std::size_t index = calls_.size() - 1;
  Call& call = calls_[index];
  if (!call.request || unansweringApplications().holds(call.bus)) return;
  auto found = routes_.find(call.bus);
  if (found == routes_.end()) found = routes_.emplace(call.bus, channels_.routeFor(call.bus)).first;
  const AtspiChannels::Route& route = found->second;
  if (!route.connection || !route.answered) return;
  if (route.own) {
    dbus_uint32_t serial = 0;
    if (dbus_connection_send(route.connection, call.request.get(), &serial)) {
      waiting_[route.connection].emplace(serial, index);
      countSent(call.request.get());
    }
    return;
  }
  DBusPendingCall* pending = nullptr;
  if (dbus_connection_send_with_reply(route.connection, call.request.get(), &pending,
                                      ATSPI_CALL_TIMEOUT_MS) &&
      pending) {
    call.pending.reset(pending);
    countSent(call.request.get());
  }
}

void CallBatch::run() {
  sendLast();
  const bool awaits = !waiting_.empty() || std::any_of(calls_.begin(), calls_.end(), [](const Call& call) {
    return call.pending != nullptr;
  });
  if (awaits) ++busTraffic().waits;
  std::set<std::string> unanswered;
  for (auto& [connection, waiting] : waiting_) {
    if (collectOwn(connection, waiting)) continue;
    for (auto& [serial, index] : waiting) unanswered.insert(calls_[index].bus);
  }
  for (Call& call : calls_) {
    if (call.pending) {
      auto route = routes_.find(call.bus);
      if (route != routes_.end() && route->second.self) {
        awaitDispatching(route->second.connection, call.pending.get());
      } else {
        // Blocking on one call also sends what is still queued and reads the
        // replies of the others, each bounded by its own timeout.
        dbus_pending_call_block(call.pending.get());
      }
      call.reply.reset(dbus_pending_call_steal_reply(call.pending.get()));
      if (!call.reply) dbus_pending_call_cancel(call.pending.get());
      call.pending.reset();
    }
    if (call.reply && dbus_message_get_type(call.reply.get()) == DBUS_MESSAGE_TYPE_ERROR) {
      const char* error = dbus_message_get_error_name(call.reply.get());
      if (meansUnanswered(error)) unanswered.insert(call.bus);
      call.error = error ? error : "";
      call.reply.reset();
    }
  }
  for (const std::string& bus : unanswered) {
    unansweringApplications().note(bus);
    // Whatever is still queued for it would only be answered late or never.
    channels_.drop(bus);
  }
  waiting_.clear();
  channels_.discardUnsolicited();
}

void CallBatch::awaitDispatching(DBusConnection* connection, DBusPendingCall* pending) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(ATSPI_CALL_TIMEOUT_MS);
  while (!dbus_pending_call_get_completed(pending)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
    // Reading and dispatching lets this process's bridge answer the call,
    // and nothing else of the main loop runs meanwhile.
    if (left <= 0 || !dbus_connection_read_write_dispatch(connection, static_cast<int>(left))) return;
  }
}

bool CallBatch::collectOwn(DBusConnection* connection, Waiting& waiting) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(BATCH_LIMIT_MS);
  Clock::time_point quietUntil = Clock::now() + std::chrono::milliseconds(ATSPI_CALL_TIMEOUT_MS);
  while (!waiting.empty()) {
    bool progress = false;
    while (DBusMessageOwner message{dbus_connection_pop_message(connection)}) {
      const int type = dbus_message_get_type(message.get());
      if (type != DBUS_MESSAGE_TYPE_METHOD_RETURN && type != DBUS_MESSAGE_TYPE_ERROR) continue;
      auto found = waiting.find(dbus_message_get_reply_serial(message.get()));
      if (found == waiting.end()) continue;
      calls_[found->second].reply = std::move(message);
      waiting.erase(found);
      progress = true;
    }
    if (waiting.empty()) break;
    const Clock::time_point now = Clock::now();
    if (progress) quietUntil = now + std::chrono::milliseconds(ATSPI_CALL_TIMEOUT_MS);
    const Clock::time_point until = std::min(quietUntil, limit);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    // Sends what is still queued and waits for what arrives.
    if (left <= 0 || !dbus_connection_read_write(connection, static_cast<int>(left))) return false;
  }
  return true;
}

std::optional<Pid> processOfBus(const std::string& bus) { return processesOf({bus}).front(); }

}  // namespace kelp::platform::linux_desktop
