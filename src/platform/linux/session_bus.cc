// Asking the session bus for the accessibility bus, bounded in time.
#include "platform/linux/session_bus.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/linux/rules.h"

namespace kelp::platform::linux_desktop {
namespace {

constexpr const char* A11Y_BUS_NAME = "org.a11y.Bus";
constexpr const char* A11Y_BUS_PATH = "/org/a11y/bus";
constexpr const char* A11Y_STATUS_INTERFACE = "org.a11y.Status";

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

struct PendingConnection {
  GDBusConnection* connection = nullptr;
  bool done = false;
};

void onConnected(GObject*, GAsyncResult* result, gpointer data) {
  auto* pending = static_cast<PendingConnection*>(data);
  pending->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
  pending->done = true;
}

gboolean cancelOnTimeout(gpointer cancellable) {
  g_cancellable_cancel(static_cast<GCancellable*>(cancellable));
  return G_SOURCE_REMOVE;
}

}  // namespace

bool isSocketFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

GRef<GDBusConnection> connectToBus(const std::string& address, int timeoutMs) {
  // g_dbus_connection_new_for_address_sync has no time limit, and a bus that
  // accepts the socket but never answers would hold us for ever. The
  // asynchronous form runs on a private context we iterate ourselves, and a
  // timer on that context cancels it.
  GMainContextOwner context(g_main_context_new());
  g_main_context_push_thread_default(context.get());
  GRef<GCancellable> cancellable = GRef<GCancellable>::adopt(g_cancellable_new());
  PendingConnection pending;
  const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  g_dbus_connection_new_for_address(address.c_str(), flags, nullptr, cancellable.get(), onConnected, &pending);
  GSourceOwner timer(g_timeout_source_new(static_cast<guint>(timeoutMs)));
  g_source_set_callback(timer.get(), cancelOnTimeout, cancellable.get(), nullptr);
  g_source_attach(timer.get(), context.get());
  // Cancellation reaches every step (connect, authentication, Hello), so the
  // callback comes soon after the timer at the latest.
  while (!pending.done) g_main_context_iteration(context.get(), TRUE);
  g_source_destroy(timer.get());
  g_main_context_pop_thread_default(context.get());
  return GRef<GDBusConnection>::adopt(pending.connection);
}

GRef<GDBusConnection> connectToSessionBus(int timeoutMs) {
  const std::optional<std::string> runtimeDir = environmentValue("XDG_RUNTIME_DIR");
  const bool runtimeSocket = runtimeDir && isSocketFile(*runtimeDir + "/bus");
  const std::optional<std::string> address =
      sessionBusAddress(environmentValue("DBUS_SESSION_BUS_ADDRESS"), runtimeDir, runtimeSocket);
  if (!address) return {};
  return connectToBus(*address, timeoutMs);
}

GDBusConnection* SessionBus::connection() {
  if (connection_ && !g_dbus_connection_is_closed(connection_.get())) return connection_.get();
  connection_ = connectToSessionBus(DBUS_CALL_TIMEOUT_MS);
  return connection_.get();
}

std::optional<std::string> SessionBus::accessibilityBusAddress() {
  GDBusConnection* bus = connection();
  if (!bus) return std::nullopt;
  // No auto-start: asking whether accessibility is there must not launch it.
  GVariantOwner reply(g_dbus_connection_call_sync(bus, A11Y_BUS_NAME, A11Y_BUS_PATH, "org.a11y.Bus", "GetAddress",
                                                  nullptr, G_VARIANT_TYPE("(s)"),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS, nullptr,
                                                  nullptr));
  if (!reply) return std::nullopt;
  const gchar* address = nullptr;
  g_variant_get(reply.get(), "(&s)", &address);
  if (!address || !*address) return std::nullopt;
  return std::string(address);
}

std::optional<bool> SessionBus::accessibilityEnabled() {
  GDBusConnection* bus = connection();
  if (!bus) return std::nullopt;
  GVariantOwner reply(g_dbus_connection_call_sync(
      bus, A11Y_BUS_NAME, A11Y_BUS_PATH, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", A11Y_STATUS_INTERFACE, "IsEnabled"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS, nullptr, nullptr));
  if (!reply) return std::nullopt;
  GVariantOwner value;
  {
    GVariant* inner = nullptr;
    g_variant_get(reply.get(), "(v)", &inner);
    value.reset(inner);
  }
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN)) return std::nullopt;
  return g_variant_get_boolean(value.get()) != FALSE;
}

bool SessionBus::nameHasOwner(const char* name) {
  GDBusConnection* bus = connection();
  if (!bus) return false;
  GVariantOwner reply(g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, DBUS_CALL_TIMEOUT_MS, nullptr,
      nullptr));
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply.get(), "(b)", &owned);
  return owned != FALSE;
}

bool SessionBus::enableAccessibility() {
  GDBusConnection* bus = connection();
  if (!bus) return false;
  // Turning accessibility on may start the bus launcher; that is the point.
  GVariantOwner reply(g_dbus_connection_call_sync(
      bus, A11Y_BUS_NAME, A11Y_BUS_PATH, "org.freedesktop.DBus.Properties", "Set",
      g_variant_new("(ssv)", A11Y_STATUS_INTERFACE, "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
      G_DBUS_CALL_FLAGS_NONE, DBUS_CALL_TIMEOUT_MS, nullptr, nullptr));
  return reply != nullptr;
}

}  // namespace kelp::platform::linux_desktop
