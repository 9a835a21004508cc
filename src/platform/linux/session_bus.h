// The user's session bus, asked about the accessibility bus (org.a11y.Bus).
// Every call is bounded in time, and the bus is never started on our behalf:
// without one, every answer is "not reachable".
#pragma once

#include <optional>
#include <string>

#include "platform/linux/handles.h"

namespace kelp::platform::linux_desktop {

inline constexpr int DBUS_CALL_TIMEOUT_MS = 1000;

// Whether `path` is a Unix socket (a bus's, PipeWire's).
bool isSocketFile(const std::string& path);

// A connection to the message bus at `address`, or none when it cannot be
// had within `timeoutMs` (connect, authentication and Hello together).
GRef<GDBusConnection> connectToBus(const std::string& address, int timeoutMs);
// A connection of its own to the session bus the environment names (as
// SessionBus finds it), for a service that waits on its own context.
GRef<GDBusConnection> connectToSessionBus(int timeoutMs);

class SessionBus {
 public:
  // The accessibility bus's address, when the session bus is reachable and
  // the accessibility bus launcher answers with a non-empty one.
  std::optional<std::string> accessibilityBusAddress();
  // org.a11y.Status.IsEnabled, when it can be read.
  std::optional<bool> accessibilityEnabled();
  // Sets IsEnabled to true; true when the bus accepted it.
  bool enableAccessibility();
  // Whether some connection owns `name` on the session bus now.
  bool nameHasOwner(const char* name);

 private:
  // The session bus connection, reconnected after it closed; null when there
  // is no session bus.
  GDBusConnection* connection();

  GRef<GDBusConnection> connection_;
};

}  // namespace kelp::platform::linux_desktop
