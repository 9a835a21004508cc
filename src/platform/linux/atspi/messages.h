// The D-Bus messages of AT-SPI calls: reading replies of an expected shape,
// appending arguments to requests, and telling what an error means.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi/tree.h"
#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop {

// Whether `ref` is a well-formed bus name and object path; references from
// other applications are checked before any use.
bool isValidRef(const ObjectRef& ref);

// Errors after which the application will not answer anything soon: it let
// a call time out, or it is gone.
bool meansUnanswered(const char* errorName);

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

// AT-SPI's values as they come on the wire: a role number, and the state
// set as an array of 32-bit words (bit n for AtspiStateType n).
AtspiRole roleFromWire(std::uint32_t number);
std::optional<std::uint64_t> statesFrom(MessageReader& reader);

// Append one argument each, after those already there.
void appendString(DBusMessage* message, const char* text);
void appendUint32(DBusMessage* message, std::uint32_t number);
void appendInt32(DBusMessage* message, std::int32_t number);
void appendBoolean(DBusMessage* message, bool flag);

}  // namespace kelp::platform::linux_desktop
