#include "platform/linux/wayland/wayland_capabilities.h"

#include <gdk/gdkwayland.h>
#include <gio/gio.h>
#include <gtk-layer-shell/gtk-layer-shell.h>
#include <sys/stat.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>

namespace dravel::linux_platform {
namespace {

bool has(const std::vector<std::string>& interfaces, const char* name) {
  return std::find(interfaces.begin(), interfaces.end(), name) != interfaces.end();
}

std::vector<std::string> registryInterfaces(wl_display* display) {
  std::vector<std::string> interfaces;
  // A queue of this call's own, so that none of the toolkit's events is
  // dispatched here.
  wl_event_queue* queue = wl_display_create_queue(display);
  auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
  wl_registry* registry = wl_display_get_registry(wrapper);
  static constexpr wl_registry_listener kListener = {
      [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
        static_cast<std::vector<std::string>*>(data)->push_back(interface);
      },
      [](void*, wl_registry*, uint32_t) {}};
  wl_registry_add_listener(registry, &kListener, &interfaces);
  wl_display_roundtrip_queue(display, queue);
  wl_registry_destroy(registry);
  wl_proxy_wrapper_destroy(wrapper);
  wl_event_queue_destroy(queue);
  return interfaces;
}

bool swaySocketPresent() {
  const char* path = std::getenv("SWAYSOCK");
  struct stat st {};
  return path && *path && ::stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

bool nameOwnedOnSessionBus(const char* name) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 500, nullptr,
      nullptr);
  gboolean owned = FALSE;
  if (reply) {
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
  }
  g_object_unref(bus);
  return owned;
}

WaylandCapabilities WaylandCapabilities::fromGlobals(const std::vector<std::string>& interfaces,
                                                     bool layerShell, bool swayIpc,
                                                     bool kwinOnBus) {
  WaylandCapabilities c;
  c.layerShell = layerShell;
  c.dataControl = has(interfaces, "zwlr_data_control_manager_v1") ||
                  has(interfaces, "ext_data_control_manager_v1");
  c.screencopy = has(interfaces, "zwlr_screencopy_manager_v1");
  if (swayIpc) {
    c.windowSource = WindowSource::kSwayIpc;
  } else if (kwinOnBus) {
    c.windowSource = WindowSource::kKWinScripting;
  }
  return c;
}

std::string WaylandCapabilities::describe() const {
  auto yes = [](bool b) { return b ? "yes" : "no"; };
  const char* source = windowSource == WindowSource::kSwayIpc         ? "sway IPC"
                       : windowSource == WindowSource::kKWinScripting ? "KWin scripting"
                                                                      : "none";
  return std::string("layer shell ") + yes(layerShell) + ", data control " + yes(dataControl) +
         ", screencopy " + yes(screencopy) + ", frontmost window " + source;
}

WaylandCapabilities readWaylandCapabilities(GdkDisplay* display) {
  std::vector<std::string> interfaces;
  if (display && GDK_IS_WAYLAND_DISPLAY(display)) {
    interfaces = registryInterfaces(gdk_wayland_display_get_wl_display(display));
  }
  // The toolkit's own answer, asked only where the global is listed (it
  // warns on stderr otherwise): it aborts the process when asked to make a
  // layer surface the compositor cannot show.
  const bool layerShell = has(interfaces, "zwlr_layer_shell_v1") && gtk_layer_is_supported();
  return WaylandCapabilities::fromGlobals(interfaces, layerShell, swaySocketPresent(),
                                          nameOwnedOnSessionBus("org.kde.KWin"));
}

}  // namespace dravel::linux_platform
