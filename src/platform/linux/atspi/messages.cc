// Reading and writing the D-Bus messages of AT-SPI calls.
#include "platform/linux/atspi/messages.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kelp::platform::linux_desktop {

bool meansUnanswered(const char* errorName) {
  static constexpr const char* NAMES[] = {
      DBUS_ERROR_NO_REPLY,     DBUS_ERROR_TIMEOUT,         DBUS_ERROR_TIMED_OUT,
      DBUS_ERROR_DISCONNECTED, DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_NAME_HAS_NO_OWNER,
  };
  if (!errorName) return false;
  return std::any_of(std::begin(NAMES), std::end(NAMES),
                     [&](const char* name) { return std::strcmp(name, errorName) == 0; });
}

bool isValidRef(const ObjectRef& ref) {
  return dbus_validate_bus_name(ref.bus.c_str(), nullptr) && dbus_validate_path(ref.path.c_str(), nullptr);
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

AtspiRole roleFromWire(std::uint32_t number) {
  // A role newer than this libatspi is still some element.
  if (number >= static_cast<std::uint32_t>(ATSPI_ROLE_LAST_DEFINED)) return ATSPI_ROLE_UNKNOWN;
  return static_cast<AtspiRole>(number);
}

std::optional<std::uint64_t> statesFrom(MessageReader& reader) {
  std::optional<MessageReader> words = reader.enter();
  if (!words) return std::nullopt;
  std::uint64_t states = 0;
  for (unsigned word = 0; word < 2 && words->type() == DBUS_TYPE_UINT32; ++word) {
    states |= static_cast<std::uint64_t>(*words->uint32()) << (32 * word);
  }
  return states;
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

}  // namespace kelp::platform::linux_desktop
