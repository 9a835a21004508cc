#include "platform/linux/atspi_calls.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <limits>

namespace kelp::platform::linux_x11 {
namespace {

// However busy an application keeps answering, a batch waits no longer.
constexpr int BATCH_LIMIT_MS = 4 * ATSPI_CALL_TIMEOUT_MS;

// Errors after which the application will not answer anything soon: it let
// a call time out, or it is gone.
bool meansUnanswered(const char* errorName) {
  static constexpr const char* NAMES[] = {
      DBUS_ERROR_NO_REPLY,     DBUS_ERROR_TIMEOUT,         DBUS_ERROR_TIMED_OUT,
      DBUS_ERROR_DISCONNECTED, DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_NAME_HAS_NO_OWNER,
  };
  if (!errorName) return false;
  return std::any_of(std::begin(NAMES), std::end(NAMES),
                     [&](const char* name) { return std::strcmp(name, errorName) == 0; });
}

}  // namespace

bool isValidRef(const ObjectRef& ref) {
  return dbus_validate_bus_name(ref.bus.c_str(), nullptr) && dbus_validate_path(ref.path.c_str(), nullptr);
}

// ---- channels ----------------------------------------------------------------

DBusConnection* AtspiChannels::accessibilityBus() {
  if (!atspiDesktop()) return nullptr;
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

  DBusMessageOwner question(dbus_message_new_method_call(bus.c_str(), ROOT_PATH, "org.a11y.atspi.Application",
                                                         "GetApplicationBusAddress"));
  if (!question) return std::nullopt;
  dbus_message_set_auto_start(question.get(), FALSE);
  DBusErrorSlot error;
  DBusMessageOwner answer(
      dbus_connection_send_with_reply_and_block(shared, question.get(), ATSPI_CALL_TIMEOUT_MS, error.out()));
  if (!answer) {
    // An application that did not answer is asked again next time; one
    // that has no such method never offers a socket.
    if (meansUnanswered(error ? error.out()->name : nullptr)) {
      answered = false;
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

Toolkit AtspiChannels::toolkitOf(const std::string& bus, std::set<std::string>& silent) {
  if (auto known = toolkits_.find(bus); known != toolkits_.end()) return known->second;
  Toolkit toolkit;
  if (bus.starts_with(':')) {
    CallBatch batch(*this, silent);
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
    // An application that did not answer is asked again next time.
    if (silent.contains(bus)) return toolkit;
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

// ---- batches -----------------------------------------------------------------

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
  if (!call.request || silent_.contains(call.bus)) return;
  auto found = routes_.find(call.bus);
  if (found == routes_.end()) found = routes_.emplace(call.bus, channels_.routeFor(call.bus)).first;
  const AtspiChannels::Route& route = found->second;
  if (!route.answered) silent_.insert(call.bus);
  if (!route.connection || !route.answered) return;
  if (route.own) {
    dbus_uint32_t serial = 0;
    if (dbus_connection_send(route.connection, call.request.get(), &serial)) {
      waiting_[route.connection].emplace(serial, index);
    }
    return;
  }
  DBusPendingCall* pending = nullptr;
  if (dbus_connection_send_with_reply(route.connection, call.request.get(), &pending,
                                      ATSPI_CALL_TIMEOUT_MS) &&
      pending) {
    call.pending.reset(pending);
  }
}

void CallBatch::run() {
  sendLast();
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
      if (meansUnanswered(dbus_message_get_error_name(call.reply.get()))) unanswered.insert(call.bus);
      call.reply.reset();
    }
  }
  for (const std::string& bus : unanswered) {
    silent_.insert(bus);
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

std::optional<Pid> processOfBus(AtspiChannels& channels, std::set<std::string>& silent,
                                const std::string& bus) {
  CallBatch batch(channels, silent);
  const std::size_t call =
      batch.add({DBUS_SERVICE_DBUS, DBUS_PATH_DBUS}, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID");
  appendString(batch.request(call), bus.c_str());
  batch.run();
  MessageReader reply(batch.reply(call));
  const std::optional<std::uint32_t> pid = reply.uint32();
  if (!pid || *pid == 0 || *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max()))
    return std::nullopt;
  return static_cast<Pid>(*pid);
}

// ---- reading -----------------------------------------------------------------

MessageReader::MessageReader(DBusMessage* message) {
  if (!message) return;
  dbus_message_iter_init(message, &iter_);
  valid_ = true;
}

int MessageReader::type() const {
  if (!valid_) return DBUS_TYPE_INVALID;
  return dbus_message_iter_get_arg_type(const_cast<DBusMessageIter*>(&iter_));
}

bool MessageReader::next() { return valid_ && dbus_message_iter_next(&iter_); }

std::optional<std::string> MessageReader::string() {
  const int t = type();
  if (t != DBUS_TYPE_STRING && t != DBUS_TYPE_OBJECT_PATH) return std::nullopt;
  const char* text = nullptr;
  dbus_message_iter_get_basic(&iter_, &text);
  next();
  return std::string(text ? text : "");
}

std::optional<std::uint32_t> MessageReader::uint32() {
  if (type() != DBUS_TYPE_UINT32) return std::nullopt;
  dbus_uint32_t number = 0;
  dbus_message_iter_get_basic(&iter_, &number);
  next();
  return number;
}

std::optional<std::int32_t> MessageReader::int32() {
  if (type() != DBUS_TYPE_INT32) return std::nullopt;
  dbus_int32_t number = 0;
  dbus_message_iter_get_basic(&iter_, &number);
  next();
  return number;
}

std::optional<double> MessageReader::number() {
  const int kind = type();
  switch (kind) {
    case DBUS_TYPE_DOUBLE:
    case DBUS_TYPE_INT32:
    case DBUS_TYPE_UINT32:
    case DBUS_TYPE_INT64:
    case DBUS_TYPE_UINT64:
    case DBUS_TYPE_INT16:
    case DBUS_TYPE_UINT16:
    case DBUS_TYPE_BYTE:
      break;
    default:
      return std::nullopt;
  }
  DBusBasicValue value{};
  dbus_message_iter_get_basic(&iter_, &value);
  std::optional<double> result;
  switch (kind) {
    case DBUS_TYPE_DOUBLE: result = value.dbl; break;
    case DBUS_TYPE_INT32: result = value.i32; break;
    case DBUS_TYPE_UINT32: result = value.u32; break;
    case DBUS_TYPE_INT64: result = static_cast<double>(value.i64); break;
    case DBUS_TYPE_UINT64: result = static_cast<double>(value.u64); break;
    case DBUS_TYPE_INT16: result = value.i16; break;
    case DBUS_TYPE_UINT16: result = value.u16; break;
    default: result = value.byt; break;
  }
  next();
  return result;
}

std::optional<bool> MessageReader::boolean() {
  if (type() != DBUS_TYPE_BOOLEAN) return std::nullopt;
  dbus_bool_t flag = FALSE;
  dbus_message_iter_get_basic(&iter_, &flag);
  next();
  return flag != FALSE;
}

std::optional<MessageReader> MessageReader::enter() {
  const int t = type();
  if (t != DBUS_TYPE_ARRAY && t != DBUS_TYPE_STRUCT && t != DBUS_TYPE_VARIANT && t != DBUS_TYPE_DICT_ENTRY) {
    return std::nullopt;
  }
  MessageReader inner;
  dbus_message_iter_recurse(&iter_, &inner.iter_);
  inner.valid_ = true;
  next();
  return inner;
}

std::optional<ObjectRef> MessageReader::objectRef() {
  std::optional<MessageReader> fields = enter();
  if (!fields) return std::nullopt;
  std::optional<std::string> bus = fields->string();
  std::optional<std::string> path = fields->string();
  if (!bus || !path) return std::nullopt;
  ObjectRef ref{std::move(*bus), std::move(*path)};
  if (!isValidRef(ref)) return std::nullopt;
  return ref;
}

std::optional<std::vector<ObjectRef>> MessageReader::objectRefs() {
  std::optional<MessageReader> items = enter();
  if (!items) return std::nullopt;
  std::vector<ObjectRef> refs;
  while (items->type() == DBUS_TYPE_STRUCT) {
    std::optional<ObjectRef> ref = items->objectRef();
    if (!ref) return std::nullopt;
    refs.push_back(std::move(*ref));
  }
  return refs;
}

namespace {

// dbus_message_append_args checks the whole body again on every call.
template <typename T>
void appendBasic(DBusMessage* message, int type, const T& value) {
  if (!message) return;
  DBusMessageIter iter;
  dbus_message_iter_init_append(message, &iter);
  dbus_message_iter_append_basic(&iter, type, &value);
}

}  // namespace

void appendString(DBusMessage* message, const char* text) { appendBasic(message, DBUS_TYPE_STRING, text); }
void appendUint32(DBusMessage* message, std::uint32_t number) {
  appendBasic(message, DBUS_TYPE_UINT32, static_cast<dbus_uint32_t>(number));
}
void appendInt32(DBusMessage* message, std::int32_t number) {
  appendBasic(message, DBUS_TYPE_INT32, static_cast<dbus_int32_t>(number));
}
void appendBoolean(DBusMessage* message, bool flag) {
  appendBasic(message, DBUS_TYPE_BOOLEAN, static_cast<dbus_bool_t>(flag ? TRUE : FALSE));
}

}  // namespace kelp::platform::linux_x11
