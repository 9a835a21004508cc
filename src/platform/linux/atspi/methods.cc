// Single AT-SPI method calls that change an object or ask it once.
#include "platform/linux/atspi/methods.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/linux/atspi/calls.h"
#include "platform/linux/atspi/unanswering.h"

namespace kelp::platform::linux_desktop {
namespace {

// Sends one call and waits for its answer; `fill` appends the arguments.
template <typename Fill>
DBusMessageOwner callOnce(FactStore& facts, const ObjectRef& ref, const char* interface, const char* method,
                          Fill fill) {
  CallBatch batch(facts.channels());
  const std::size_t call = batch.add(ref, interface, method);
  if (DBusMessage* request = batch.request(call)) fill(request);
  batch.run();
  DBusMessage* reply = batch.reply(call);
  if (reply) dbus_message_ref(reply);
  return DBusMessageOwner(reply);
}

DBusMessageOwner callOnce(FactStore& facts, const ObjectRef& ref, const char* interface, const char* method) {
  return callOnce(facts, ref, interface, method, [](DBusMessage*) {});
}

// Methods that change something answer whether they did.
bool saidYes(const DBusMessageOwner& reply) {
  MessageReader reader(reply.get());
  return reader.boolean().value_or(false);
}

}  // namespace

bool grabFocus(FactStore& facts, const ObjectRef& ref) {
  return saidYes(callOnce(facts, ref, COMPONENT_INTERFACE, "GrabFocus"));
}

bool setTextContents(FactStore& facts, const ObjectRef& ref, const std::string& text) {
  return saidYes(callOnce(facts, ref, EDITABLE_TEXT_INTERFACE, "SetTextContents",
                          [&](DBusMessage* request) { appendString(request, text.c_str()); }));
}

bool setCurrentValue(FactStore& facts, const ObjectRef& ref, double value) {
  // CurrentValue is a writable property; a Set answers with an empty reply,
  // and a refusal with an error.
  DBusMessageOwner reply = callOnce(facts, ref, PROPERTIES_INTERFACE, "Set", [&](DBusMessage* request) {
    appendString(request, VALUE_INTERFACE);
    appendString(request, "CurrentValue");
    DBusMessageIter args;
    DBusMessageIter variant;
    dbus_message_iter_init_append(request, &args);
    dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, DBUS_TYPE_DOUBLE_AS_STRING, &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_DOUBLE, &value);
    dbus_message_iter_close_container(&args, &variant);
  });
  return reply != nullptr;
}

bool selectText(FactStore& facts, const ObjectRef& ref, std::int32_t start, std::int32_t end) {
  // The first selection replaced where there is one, else a new one.
  if (saidYes(callOnce(facts, ref, TEXT_INTERFACE, "SetSelection", [&](DBusMessage* request) {
        appendInt32(request, 0);
        appendInt32(request, start);
        appendInt32(request, end);
      }))) {
    return true;
  }
  return saidYes(callOnce(facts, ref, TEXT_INTERFACE, "AddSelection", [&](DBusMessage* request) {
    appendInt32(request, start);
    appendInt32(request, end);
  }));
}

std::optional<std::int32_t> indexInParent(FactStore& facts, const ObjectRef& ref) {
  DBusMessageOwner reply = callOnce(facts, ref, ACCESSIBLE_INTERFACE, "GetIndexInParent");
  MessageReader reader(reply.get());
  const std::optional<std::int32_t> index = reader.int32();
  if (!index || *index < 0) return std::nullopt;
  return index;
}

bool selectChild(FactStore& facts, const ObjectRef& parent, std::int32_t index) {
  return saidYes(callOnce(facts, parent, SELECTION_INTERFACE, "SelectChild",
                          [&](DBusMessage* request) { appendInt32(request, index); }));
}

bool deselectChild(FactStore& facts, const ObjectRef& parent, std::int32_t index) {
  return saidYes(callOnce(facts, parent, SELECTION_INTERFACE, "DeselectChild",
                          [&](DBusMessage* request) { appendInt32(request, index); }));
}

std::vector<OfferedAction> offeredActions(FactStore& facts, const ObjectRef& ref) {
  // The number of actions, then the names of each, all asked at once. Not
  // GetActions, which sends each action's key binding too: Firefox sends an
  // access key's binding as text that is not UTF-8, and its own bus library
  // aborts Firefox for it.
  DBusMessageOwner count = callOnce(facts, ref, PROPERTIES_INTERFACE, "Get", [](DBusMessage* request) {
    appendString(request, ACTION_INTERFACE);
    appendString(request, "NActions");
  });
  MessageReader countReader(count.get());
  std::optional<MessageReader> value = countReader.enter();
  const std::int32_t actions = std::clamp(value ? value->int32().value_or(0) : 0, 0, MAX_ACTIONS);
  std::vector<OfferedAction> offered(static_cast<std::size_t>(actions));
  if (offered.empty()) return offered;
  CallBatch batch(facts.channels());
  std::vector<std::pair<std::size_t, std::size_t>> calls;
  for (std::int32_t i = 0; i < actions; ++i) {
    const std::size_t name = batch.add(ref, ACTION_INTERFACE, "GetName");
    appendInt32(batch.request(name), i);
    const std::size_t shown = batch.add(ref, ACTION_INTERFACE, "GetLocalizedName");
    appendInt32(batch.request(shown), i);
    calls.emplace_back(name, shown);
  }
  batch.run();
  for (std::size_t i = 0; i < offered.size(); ++i) {
    MessageReader name(batch.reply(calls[i].first));
    MessageReader shown(batch.reply(calls[i].second));
    offered[i] = {name.string().value_or(""), shown.string().value_or("")};
  }
  return offered;
}

bool doAction(FactStore& facts, const ObjectRef& ref, std::int32_t index) {
  const auto fill = [&](DBusMessage* request) { appendInt32(request, index); };
  if (!isValidRef(ref) || unansweringApplications().holds(ref.bus)) return false;
  const AtspiChannels::Route route = facts.channels().actionRouteFor(ref.bus);
  if (!route.answered) return false;
  if (!route.own) return saidYes(callOnce(facts, ref, ACTION_INTERFACE, "DoAction", fill));
  DBusMessageOwner request(
      dbus_message_new_method_call(ref.bus.c_str(), ref.path.c_str(), ACTION_INTERFACE, "DoAction"));
  if (!request) return false;
  dbus_message_set_auto_start(request.get(), FALSE);
  fill(request.get());
  DBusErrorSlot error;
  countBlockingCall();
  DBusMessageOwner reply(dbus_connection_send_with_reply_and_block(route.connection, request.get(),
                                                                   ATSPI_CALL_TIMEOUT_MS, error.out()));
  return saidYes(reply);
}

namespace {

constexpr int WAKE_POLL_MS = 100;
// How many objects one look for the document may read.
constexpr std::size_t WAKE_SEARCH_OBJECTS = 3000;

// Whether some document below `application` holds content: breadth first,
// one batch of calls a level.
bool documentHasContent(FactStore& facts, const ObjectRef& application) {
  std::vector<ObjectRef> level{application};
  std::size_t read = 0;
  while (!level.empty() && read < WAKE_SEARCH_OBJECTS) {
    CallBatch batch(facts.channels());
    std::vector<std::pair<std::size_t, std::size_t>> calls;
    for (const ObjectRef& ref : level) {
      calls.emplace_back(batch.add(ref, ACCESSIBLE_INTERFACE, "GetRole"),
                         batch.add(ref, ACCESSIBLE_INTERFACE, "GetChildren"));
    }
    batch.run();
    read += level.size();
    std::vector<ObjectRef> next;
    for (const auto& [role, children] : calls) {
      MessageReader roleReply(batch.reply(role));
      MessageReader childrenReply(batch.reply(children));
      std::vector<ObjectRef> kids = childrenReply.objectRefs().value_or(std::vector<ObjectRef>{});
      std::erase_if(kids, [](const ObjectRef& kid) { return kid.path == NULL_PATH || kid.bus.empty(); });
      if (roleReply.uint32() == static_cast<std::uint32_t>(ATSPI_ROLE_DOCUMENT_WEB) && !kids.empty()) return true;
      next.insert(next.end(), kids.begin(), kids.end());
    }
    level = std::move(next);
  }
  return false;
}

}  // namespace

bool wakeWebContent(FactStore& facts, const ObjectRef& application) {
  callOnce(facts, application, ACCESSIBLE_INTERFACE, "GetAttributes");
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAKE_LIMIT_MS);
  for (;;) {
    if (documentHasContent(facts, application)) return true;
    if (std::chrono::steady_clock::now() >= limit || unansweringApplications().holds(application.bus)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(WAKE_POLL_MS));
  }
}

std::optional<ObjectRef> firstMatchWithStates(FactStore& facts, const ObjectRef& root, std::uint64_t states) {
  CallBatch batch(facts.channels());
  const std::size_t call = batch.add(root, COLLECTION_INTERFACE, "GetMatches");
  DBusMessage* request = batch.request(call);
  if (!request) return std::nullopt;
  DBusMessageIter args;
  DBusMessageIter rule;
  DBusMessageIter array;
  const dbus_int32_t matchAll = ATSPI_Collection_MATCH_ALL;
  const dbus_int32_t low = static_cast<dbus_int32_t>(states & 0xffffffffu);
  const dbus_int32_t high = static_cast<dbus_int32_t>(states >> 32);
  const dbus_int32_t noRoles = 0;
  dbus_message_iter_init_append(request, &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &rule);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array);
  dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &low);
  dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &high);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "{ss}", &array);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array);
  for (int word = 0; word < 4; ++word) dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &noRoles);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "s", &array);
  dbus_message_iter_close_container(&rule, &array);
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &matchAll);
  const dbus_bool_t invert = FALSE;
  dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert);
  dbus_message_iter_close_container(&args, &rule);
  appendUint32(request, ATSPI_Collection_SORT_ORDER_CANONICAL);
  appendInt32(request, 1);
  appendBoolean(request, true);
  batch.run();
  MessageReader reply(batch.reply(call));
  std::optional<std::vector<ObjectRef>> matches = reply.objectRefs();
  if (!matches || matches->empty()) return std::nullopt;
  return matches->front();
}

}  // namespace kelp::platform::linux_desktop
