// The memory of applications that stopped answering, and the ping that clears it.
#include "platform/linux/atspi/unanswering.h"

#include <cstring>

#include "platform/linux/atspi/channels.h"
#include "platform/linux/atspi/messages.h"
#include "platform/linux/atspi/tree.h"

namespace kelp::platform::linux_desktop {

UnansweringApplications& unansweringApplications() {
  static UnansweringApplications applications;
  return applications;
}

bool UnansweringApplications::holds(const std::string& bus) {
  auto found = pings_.find(bus);
  if (found == pings_.end()) return false;
  DBusPendingCall* pending = found->second.get();
  if (!pending || !dbus_pending_call_get_completed(pending)) return true;
  DBusMessageOwner reply{dbus_pending_call_steal_reply(pending)};
  const char* error = reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_ERROR
                          ? dbus_message_get_error_name(reply.get())
                          : nullptr;
  if (!reply || !meansUnanswered(error)) {
    pings_.erase(found);
    return false;
  }
  if (std::strcmp(error, DBUS_ERROR_SERVICE_UNKNOWN) == 0 || std::strcmp(error, DBUS_ERROR_NAME_HAS_NO_OWNER) == 0) {
    found->second.reset();
    return true;
  }
  ping(bus);  // still silent: ask again
  return true;
}

void UnansweringApplications::note(const std::string& bus) {
  // This process's own bridge answers only while its main loop turns, which
  // the waits for it see to.
  if (AtspiChannels::isSelf(bus)) return;
  if (!pings_.contains(bus)) ping(bus);
}

std::optional<std::string> UnansweringApplications::rememberedName(const std::string& bus) const {
  auto found = names_.find(bus);
  if (found == names_.end()) return std::nullopt;
  return found->second;
}

void UnansweringApplications::ping(const std::string& bus) {
  DBusPendingCallOwner& slot = pings_[bus];
  slot.reset();
  DBusConnection* connection = AtspiChannels::accessibilityBus();
  // libdbus aborts the process on a malformed name, and names come from other applications.
  if (!connection || !dbus_validate_bus_name(bus.c_str(), nullptr)) return;
  DBusMessageOwner request{
      dbus_message_new_method_call(bus.c_str(), "/", "org.freedesktop.DBus.Peer", "Ping")};
  if (!request) return;
  dbus_message_set_auto_start(request.get(), FALSE);
  DBusPendingCall* pending = nullptr;
  if (dbus_connection_send_with_reply(connection, request.get(), &pending, ATSPI_CALL_TIMEOUT_MS) && pending) {
    slot.reset(pending);
  }
}

}  // namespace kelp::platform::linux_desktop
