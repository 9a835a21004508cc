// The extension's methods over D-Bus.
#include "platform/linux/gnome/shell_calls.h"

#include "platform/linux/gnome/screencast_monitors.h"
#include "platform/linux/gnome/shell_reply.h"
#include "platform/linux/session_bus.h"

namespace kelp::platform::linux_desktop::gnome {
namespace {

constexpr const char* SHELL_NAME = "org.gnome.Shell";
constexpr const char* OBJECT_PATH = "/dev/kelpcua/Shell";
constexpr const char* INTERFACE = "dev.kelpcua.Shell";

// The reply of one method; null when the call failed or timed out. The
// shell never starts on a call.
GVariantOwner call(GDBusConnection* bus, const char* method, GVariant* parameters, const char* replyType) {
  if (!bus) {
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    return nullptr;
  }
  return GVariantOwner(g_dbus_connection_call_sync(bus, SHELL_NAME, OBJECT_PATH, INTERFACE, method, parameters,
                                                   G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                   DBUS_CALL_TIMEOUT_MS, nullptr, nullptr));
}

std::optional<std::string> jsonOf(GDBusConnection* bus, const char* method) {
  GVariantOwner reply = call(bus, method, nullptr, "(s)");
  if (!reply) return std::nullopt;
  const gchar* text = nullptr;
  g_variant_get(reply.get(), "(&s)", &text);
  return std::string(text ? text : "");
}

bool found(const GVariantOwner& reply) {
  if (!reply) return false;
  gboolean answer = FALSE;
  g_variant_get(reply.get(), "(b)", &answer);
  return answer != FALSE;
}

}  // namespace

std::optional<unsigned> shellExtensionVersion(GDBusConnection* bus) {
  if (!bus) return std::nullopt;
  GVariantOwner reply(g_dbus_connection_call_sync(bus, SHELL_NAME, OBJECT_PATH, "org.freedesktop.DBus.Properties",
                                                  "Get", g_variant_new("(ss)", INTERFACE, "Version"),
                                                  G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                  DBUS_CALL_TIMEOUT_MS, nullptr, nullptr));
  if (!reply) return std::nullopt;
  GVariant* inner = nullptr;
  g_variant_get(reply.get(), "(v)", &inner);
  GVariantOwner value(inner);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)) return std::nullopt;
  return g_variant_get_uint32(value.get());
}

std::optional<std::string> shellWindowsJson(GDBusConnection* bus) { return jsonOf(bus, "ListWindows"); }

std::optional<std::string> shellMonitorsJson(GDBusConnection* bus) { return jsonOf(bus, "Monitors"); }

std::optional<Point> shellPointer(GDBusConnection* bus) {
  GVariantOwner reply = call(bus, "Pointer", nullptr, "(ii)");
  if (!reply) return std::nullopt;
  gint32 x = 0;
  gint32 y = 0;
  g_variant_get(reply.get(), "(ii)", &x, &y);
  return Point{static_cast<double>(x), static_cast<double>(y)};
}

bool shellActivate(GDBusConnection* bus, WindowId window) {
  return found(call(bus, "Activate", g_variant_new("(t)", static_cast<guint64>(window)), "(b)"));
}

bool shellMoveResize(GDBusConnection* bus, WindowId window, const RootRect& frame) {
  return found(call(bus, "MoveResize",
                    g_variant_new("(tiiii)", static_cast<guint64>(window), frame.x, frame.y, frame.width, frame.height),
                    "(b)"));
}

std::optional<std::vector<MutterMonitor>> mutterMonitors(GDBusConnection* bus) {
  if (!bus) return std::nullopt;
  GVariantOwner state(g_dbus_connection_call_sync(bus, "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                                                  "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr,
                                                  G_VARIANT_TYPE(CURRENT_STATE_REPLY_TYPE),
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, DBUS_CALL_TIMEOUT_MS, nullptr,
                                                  nullptr));
  if (!state) return std::nullopt;
  return monitorsFromCurrentState(state.get());
}

std::optional<std::vector<MonitorRect>> gnomeMonitors(GDBusConnection* bus) {
  if (!bus) return std::nullopt;
  if (const std::optional<std::string> json = shellMonitorsJson(bus)) return parseShellMonitors(*json);
  const std::optional<std::vector<MutterMonitor>> mutter = mutterMonitors(bus);
  if (!mutter) return std::nullopt;
  std::vector<MonitorRect> monitors;
  for (const MutterMonitor& monitor : *mutter) monitors.push_back(monitor.rect);
  return monitors;
}

}  // namespace kelp::platform::linux_desktop::gnome
