#include "platform/linux/wayland/wayland_screens.h"

#include <gdk/gdk.h>
#include <gio/gio.h>

#include <algorithm>

#include "channels/log.h"

namespace dravel::linux_platform {
namespace {

constexpr char kDisplayConfigName[] = "org.gnome.Mutter.DisplayConfig";
constexpr char kDisplayConfigPath[] = "/org/gnome/Mutter/DisplayConfig";
// Mutter's "layout-mode" property: 1 logical, 2 physical.
constexpr uint32_t kPhysicalLayoutMode = 2;

GQuark displayIdQuark() {
  static const GQuark quark = g_quark_from_static_string("dravel-display-id");
  return quark;
}

// The monitor's display id, given the first time it is asked for.
uint32_t displayIdOf(GdkMonitor* monitor) {
  static uint32_t next = 1;
  gpointer known = g_object_get_qdata(G_OBJECT(monitor), displayIdQuark());
  if (known) return static_cast<uint32_t>(GPOINTER_TO_UINT(known));
  const uint32_t id = next++;
  g_object_set_qdata(G_OBJECT(monitor), displayIdQuark(), GUINT_TO_POINTER(id));
  return id;
}

std::string text(const char* value) {
  return value ? value : "";
}

}  // namespace

std::vector<WaylandMonitor> logicalMonitors(std::vector<WaylandMonitor> monitors, bool physical) {
  for (WaylandMonitor& m : monitors) m.scale = std::max(1, m.scale);
  if (!physical || monitors.empty()) return monitors;
  int smallest = monitors.front().scale;
  for (const WaylandMonitor& m : monitors) smallest = std::min(smallest, m.scale);
  for (WaylandMonitor& m : monitors) {
    m.x /= smallest;
    m.y /= smallest;
    m.width /= m.scale;
    m.height /= m.scale;
  }
  return monitors;
}

struct WaylandScreens::Signals {
  static void changed(GdkDisplay*, GdkMonitor* monitor, gpointer data) {
    auto* self = static_cast<WaylandScreens*>(data);
    if (monitor) self->watchMonitor(monitor);
    self->refresh();
  }
  static void monitorChanged(GObject*, GParamSpec*, gpointer data) {
    static_cast<WaylandScreens*>(data)->refresh();
  }
  static void displayConfigChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar*, GVariant*, gpointer data) {
    static_cast<WaylandScreens*>(data)->askLayoutMode();
  }
  static void layoutModeAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
      // Cancelled: the screens are gone. Any other error: not mutter, or
      // no answer; logical pixels, as on every other compositor.
      const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
      g_error_free(error);
      if (!cancelled) static_cast<WaylandScreens*>(data)->setPhysicalLayout(false);
      return;
    }
    bool physical = false;
    if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(ua((ssss)a(siiddada{sv})a{sv})"
                                                   "a(iiduba(ssss)a{sv})a{sv})"))) {
      GVariant* properties = g_variant_get_child_value(reply, 3);
      uint32_t mode = 0;
      if (g_variant_lookup(properties, "layout-mode", "u", &mode)) {
        physical = mode == kPhysicalLayoutMode;
      }
      g_variant_unref(properties);
    }
    g_variant_unref(reply);
    static_cast<WaylandScreens*>(data)->setPhysicalLayout(physical);
  }
};

WaylandScreens::WaylandScreens(GdkDisplay* display) : display_(display) {
  g_signal_connect(display_, "monitor-added", G_CALLBACK(Signals::changed), this);
  g_signal_connect(display_, "monitor-removed", G_CALLBACK(Signals::changed), this);
  const int count = gdk_display_get_n_monitors(display_);
  for (int i = 0; i < count; ++i) watchMonitor(gdk_display_get_monitor(display_, i));
  if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
    bus_ = bus;
    subscription_ = g_dbus_connection_signal_subscribe(
        bus, kDisplayConfigName, kDisplayConfigName, "MonitorsChanged", kDisplayConfigPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, Signals::displayConfigChanged, this, nullptr);
    cancellable_ = g_cancellable_new();
    askLayoutMode();
  }
  refresh();
}

WaylandScreens::~WaylandScreens() {
  g_signal_handlers_disconnect_by_data(display_, this);
  const int count = gdk_display_get_n_monitors(display_);
  for (int i = 0; i < count; ++i) {
    g_signal_handlers_disconnect_by_data(gdk_display_get_monitor(display_, i), this);
  }
  if (cancellable_) {
    g_cancellable_cancel(G_CANCELLABLE(cancellable_));
    g_object_unref(cancellable_);
  }
  if (bus_) {
    if (subscription_) g_dbus_connection_signal_unsubscribe(G_DBUS_CONNECTION(bus_), subscription_);
    g_object_unref(bus_);
  }
}

void WaylandScreens::watchMonitor(void* monitor) {
  auto* object = static_cast<GObject*>(monitor);
  // Once per monitor object.
  g_signal_handlers_disconnect_by_data(object, this);
  g_signal_connect(object, "notify::geometry", G_CALLBACK(Signals::monitorChanged), this);
  g_signal_connect(object, "notify::scale-factor", G_CALLBACK(Signals::monitorChanged), this);
}

void WaylandScreens::askLayoutMode() {
  if (!bus_) return;
  g_dbus_connection_call(G_DBUS_CONNECTION(bus_), kDisplayConfigName, kDisplayConfigPath,
                         kDisplayConfigName, "GetCurrentState", nullptr, nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, G_CANCELLABLE(cancellable_),
                         Signals::layoutModeAnswered, this);
}

void WaylandScreens::setPhysicalLayout(bool physical) {
  if (physical == physical_) return;
  physical_ = physical;
  NSLog("[wayland] the compositor lays its monitors out in %s pixels",
        physical ? "device" : "logical");
  refresh();
}

void WaylandScreens::refresh() {
  std::vector<WaylandMonitor> read;
  GdkMonitor* primary = gdk_display_get_primary_monitor(display_);
  const int count = gdk_display_get_n_monitors(display_);
  for (int i = 0; i < count; ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display_, i);
    if (!monitor) continue;
    GdkRectangle geometry{};
    gdk_monitor_get_geometry(monitor, &geometry);
    if (geometry.width <= 0 || geometry.height <= 0) continue;
    WaylandMonitor m;
    m.displayID = displayIdOf(monitor);
    m.x = geometry.x;
    m.y = geometry.y;
    m.width = geometry.width;
    m.height = geometry.height;
    m.scale = gdk_monitor_get_scale_factor(monitor);
    m.primary = monitor == primary;
    m.manufacturer = text(gdk_monitor_get_manufacturer(monitor));
    m.model = text(gdk_monitor_get_model(monitor));
    read.push_back(std::move(m));
  }
  // Without a primary from GDK, the first monitor is.
  if (!read.empty() &&
      std::none_of(read.begin(), read.end(), [](const WaylandMonitor& m) { return m.primary; })) {
    read.front().primary = true;
  }
  read = logicalMonitors(std::move(read), physical_);
  if (read == monitors_) return;
  monitors_ = std::move(read);
  notifyLayoutListeners(listeners_);
}

DesktopLayout WaylandScreens::layout() const {
  std::vector<MonitorPixels> pixels;
  for (const WaylandMonitor& m : monitors_) {
    pixels.push_back({m.model, m.x, m.y, m.width, m.height, m.primary, m.displayID});
  }
  return DesktopLayout(std::move(pixels), 1);
}

RouteLayout WaylandScreens::routeLayout() const {
  RouteLayout layout;
  int index = 0;
  for (const WaylandMonitor& m : monitors_) {
    RouteMonitor r;
    r.displayID = m.displayID;
    r.x = m.x;
    r.y = m.y;
    r.width = m.width;
    r.height = m.height;
    r.scale = m.scale;
    r.manufacturer = m.manufacturer;
    r.model = m.model;
    r.index = index++;
    layout.push_back(std::move(r));
  }
  return layout;
}

std::vector<ScreenPtr> WaylandScreens::screens() {
  const DesktopLayout logical = layout();
  std::vector<ScreenPtr> result;
  for (const MonitorPixels& pixels : logical.monitors()) {
    int scale = 1;
    for (const WaylandMonitor& m : monitors_) {
      if (m.displayID == pixels.displayID) scale = m.scale;
    }
    result.push_back(std::make_shared<LinuxScreen>(logical.frame(pixels),
                                                   static_cast<double>(scale), pixels.displayID));
  }
  return result;
}

ScreenPtr WaylandScreens::mainScreen() {
  if (!keyWindowFrame_) return nullptr;
  const std::optional<Rect> frame = keyWindowFrame_();
  return frame ? screenHoldingFrame(screens(), *frame) : nullptr;
}

void WaylandScreens::setKeyWindowFrameSource(std::function<std::optional<Rect>()> source) {
  keyWindowFrame_ = std::move(source);
}

uint64_t WaylandScreens::addLayoutListener(std::function<void()> listener) {
  const uint64_t id = nextListener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void WaylandScreens::removeLayoutListener(uint64_t id) {
  std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace dravel::linux_platform
