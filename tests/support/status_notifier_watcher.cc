#include "tests/support/status_notifier_watcher.h"

#include <gio/gio.h>

namespace dravel::testing {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kWatcherXml =
    "<node>"
    " <interface name='org.kde.StatusNotifierWatcher'>"
    "  <method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "  <method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "  <property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "  <property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "  <property name='ProtocolVersion' type='i' access='read'/>"
    "  <signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "  <signal name='StatusNotifierItemUnregistered'><arg type='s'/></signal>"
    "  <signal name='StatusNotifierHostRegistered'/>"
    " </interface>"
    "</node>";

// "sender/path" or the bus name, as the property lists items.
std::string listed(const StatusNotifierWatcher::Item& item) {
  std::string s = item.busName();
  if (!item.service.empty() && item.service[0] == '/') s.append(item.service);
  return s;
}

void onMethodCall(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*,
                  const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                  gpointer data) {
  auto* self = static_cast<StatusNotifierWatcher*>(data);
  if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
    const gchar* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    StatusNotifierWatcher::Item item{sender ? sender : "", service ? service : ""};
    const std::string name = listed(item);
    self->registered(std::move(item));
    g_dbus_method_invocation_return_value(invocation, nullptr);
    g_dbus_connection_emit_signal(connection, nullptr, kWatcherPath, kWatcherName,
                                  "StatusNotifierItemRegistered",
                                  g_variant_new("(s)", name.c_str()), nullptr);
    return;
  }
  // RegisterStatusNotifierHost: a host is already there.
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                        const gchar* property, GError**, gpointer data) {
  auto* self = static_cast<StatusNotifierWatcher*>(data);
  if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0)
    return g_variant_new_boolean(TRUE);
  if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  GVariantBuilder items;
  g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
  for (const auto& item : self->registrations()) {
    g_variant_builder_add(&items, "s", listed(item).c_str());
  }
  return g_variant_builder_end(&items);
}

const GDBusInterfaceVTable kVTable = {onMethodCall, onGetProperty, nullptr, {}};

}  // namespace

std::string StatusNotifierWatcher::Item::busName() const {
  return !service.empty() && service[0] == '/' ? sender : service;
}

std::string StatusNotifierWatcher::Item::objectPath() const {
  return !service.empty() && service[0] == '/' ? service : "/StatusNotifierItem";
}

bool StatusNotifierWatcher::start() {
  return object_.start(kWatcherName, kWatcherPath, kWatcherXml, &kVTable, this);
}

}  // namespace dravel::testing
