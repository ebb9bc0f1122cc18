#include "platform/linux/session/private_bus.h"

namespace dravel::linux_platform {

std::string busErrorText(const GError* error) {
  if (!error) return "no answer";
  std::string text = error->message ? error->message : "unknown error";
  // GDBus prefixes the remote error's name; the name is said elsewhere.
  const std::string prefix = "GDBus.Error:";
  if (text.rfind(prefix, 0) == 0) {
    const size_t space = text.find(' ');
    if (space != std::string::npos) text.erase(0, space + 1);
  }
  return text;
}

GDBusConnection* connectPrivateSessionBus(GMainContext* context, std::string* why) {
  ThreadDefaultContext scope(context);
  GError* error = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  GDBusConnection* connection = nullptr;
  if (address) {
    connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_free(address);
  }
  if (!connection) {
    if (why) *why = "no session bus: " + busErrorText(error);
    g_clear_error(&error);
    return nullptr;
  }
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  return connection;
}

void closePrivateSessionBus(GMainContext* context, GDBusConnection* connection) {
  {
    ThreadDefaultContext scope(context);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_object_unref(connection);
  }
  g_main_context_unref(context);
}

}  // namespace dravel::linux_platform
