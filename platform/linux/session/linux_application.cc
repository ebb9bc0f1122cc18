#include "platform/linux/session/linux_application.h"

#include <gio/gio.h>

#include "channels/log.h"
#include "platform/linux/session/linux_process_info.h"
#include "platform/linux/session/linux_window.h"

namespace dravel::linux_platform {

LinuxApplication::LinuxApplication(std::function<LinuxWindow*()> mainWindow)
    : mainWindow_(std::move(mainWindow)) {}

bool LinuxApplication::setActivationPolicy(int policy) {
  if (policy != kActivationPolicyRegular && policy != kActivationPolicyAccessory &&
      policy != kActivationPolicyProhibited) {
    return false;
  }
  policy_ = policy;
  if (LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr) {
    window->setApplicationHints(policy != kActivationPolicyRegular,
                                policy == kActivationPolicyProhibited);
  }
  return true;
}

void LinuxApplication::activateIgnoringOtherApps(bool) {
  if (LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr) {
    if (window->isVisible()) window->activate();
  }
}

bool LinuxApplication::handOverToRunningCopy() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  bool taken = false;
  GVariant* owner = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
      g_variant_new("(s)", kApplicationId), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 1000,
      nullptr, nullptr);
  if (owner) {
    const gchar* unique = nullptr;
    g_variant_get(owner, "(&s)", &unique);
    if (g_strcmp0(unique, g_dbus_connection_get_unique_name(bus)) != 0) {
      GError* error = nullptr;
      GVariant* reply = g_dbus_connection_call_sync(
          bus, unique, kApplicationObjectPath, "org.freedesktop.Application", "Activate",
          g_variant_new("(@a{sv})", g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
          nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
      if (reply) {
        taken = true;
        g_variant_unref(reply);
      } else {
        NSLog("[SingleInstance] the running copy did not come forward: %s",
              error ? error->message : "no answer");
        g_clear_error(&error);
      }
    }
    g_variant_unref(owner);
  }
  g_object_unref(bus);
  return taken;
}

void LinuxApplication::reopenRequested() {
  LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr;
  if (reopenHandler_) reopenHandler_(window && window->isVisible());
}

void LinuxApplication::hide() {
  LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr;
  if (!window || !window->isVisible()) return;
  hidden_ = true;
  window->orderOutByPlatform();
}

void LinuxApplication::unhide() {
  if (!hidden_) return;
  hidden_ = false;
  if (LinuxWindow* window = mainWindow_ ? mainWindow_() : nullptr) window->orderFrontRegardless();
}

}  // namespace dravel::linux_platform
