// D-Bus for the private desktop's own checks: connections to its buses and
// calls bounded in time, each handle with its owner. Shared by the parts of
// the harness; tests talk to the desktop through DesktopSession.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <utility>

namespace kelp::test::desktop_bus {

inline constexpr int CALL_TIMEOUT_MS = 2000;

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GVariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

class Connection {
 public:
  Connection() = default;
  explicit Connection(GDBusConnection* connection) : connection_(connection) {}
  Connection(Connection&& other) noexcept : connection_(std::exchange(other.connection_, nullptr)) {}
  Connection& operator=(Connection&& other) noexcept {
    reset();
    connection_ = std::exchange(other.connection_, nullptr);
    return *this;
  }
  ~Connection() { reset(); }
  GDBusConnection* get() const { return connection_; }
  explicit operator bool() const { return connection_ != nullptr; }

 private:
  void reset() {
    if (connection_ == nullptr) return;
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
    connection_ = nullptr;
  }
  GDBusConnection* connection_ = nullptr;
};

inline Connection connectBus(const std::string& address, std::string& error) {
  GError* raw = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &raw);
  ErrorPtr owned(raw);
  if (connection == nullptr) {
    error = owned ? owned->message : "cannot connect to " + address;
    return Connection();
  }
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  return Connection(connection);
}

// `parameters` is consumed when floating, as g_dbus_connection_call takes it.
// A null `replyType` takes whatever the reply holds.
inline VariantPtr call(const Connection& connection, const char* destination, const char* path,
                       const char* interface, const char* method, GVariant* parameters, const char* replyType,
                       std::string* error = nullptr, GDBusCallFlags flags = G_DBUS_CALL_FLAGS_NO_AUTO_START,
                       int timeoutMs = CALL_TIMEOUT_MS) {
  if (!connection) {
    if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
    if (error) *error = "not connected";
    return nullptr;
  }
  GError* raw = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(connection.get(), destination, path, interface, method, parameters,
                                  replyType ? G_VARIANT_TYPE(replyType) : nullptr, flags, timeoutMs, nullptr, &raw);
  ErrorPtr owned(raw);
  if (reply == nullptr && error != nullptr) *error = owned ? owned->message : "no reply";
  return VariantPtr(reply);
}

}  // namespace kelp::test::desktop_bus
