#include "platform/linux/session/linux_session.h"

#include <gtk/gtk.h>

namespace dravel::linux_platform {

class LinuxSession::MainWindow : public LinuxWindow {
 public:
  MainWindow(LinuxSession& session, std::function<DesktopLayout()> layout, LinuxWindowHooks hooks,
             std::unique_ptr<WindowSystem> system)
      : LinuxWindow(std::move(layout), std::move(hooks), std::move(system),
                    session.embeddingToplevel_),
        session_(session) {
    session_.mainWindow_ = this;
    // A cursor is set per surface, drawn per scale.
    setSurfaceObserver([this] {
      if (session_.objectRuntime_) session_.objectRuntime_->refresh();
    });
  }
  ~MainWindow() override {
    if (session_.mainWindow_ == this) session_.mainWindow_ = nullptr;
  }

 private:
  LinuxSession& session_;
};

LinuxSession::LinuxSession(std::shared_ptr<FlutterBinaryMessenger> messenger,
                           const char* sessionVariable)
    : embedding_(std::move(messenger)),
      runningApplications_(kApplicationId, "/proc", sessionVariable, processHandles_) {}

namespace {

// The pid of the process owning `name` on the session bus, asked with a
// short bound (this runs on the main thread, once at start); none without a
// bus or an owner.
std::optional<int> sessionBusOwnerOf(const char* name) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return std::nullopt;
  std::optional<int> pid;
  GVariant* owner = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 500, nullptr,
      nullptr);
  if (owner) {
    const gchar* unique = nullptr;
    g_variant_get(owner, "(&s)", &unique);
    GVariant* process = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", unique), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 500, nullptr, nullptr);
    if (process) {
      guint32 value = 0;
      g_variant_get(process, "(u)", &value);
      pid = static_cast<int>(value);
      g_variant_unref(process);
    }
    g_variant_unref(owner);
  }
  g_object_unref(bus);
  return pid;
}

constexpr const char* kApplicationInterface = R"(<node>
<interface name="org.freedesktop.Application">
 <method name="Activate"><arg type="a{sv}" direction="in"/></method>
 <method name="Open"><arg type="as" direction="in"/><arg type="a{sv}" direction="in"/></method>
 <method name="ActivateAction"><arg type="s" direction="in"/><arg type="av" direction="in"/>
  <arg type="a{sv}" direction="in"/></method>
</interface></node>)";

}  // namespace

LinuxSession::~LinuxSession() {
  if (identityName_) g_bus_unown_name(identityName_);
  if (embeddingToplevel_) g_object_unref(embeddingToplevel_);
}

void LinuxSession::embedIn(GtkWidget* toplevel) {
  if (embeddingToplevel_) g_object_unref(embeddingToplevel_);
  embeddingToplevel_ = toplevel ? GTK_WIDGET(g_object_ref(toplevel)) : nullptr;
  if (objectRuntime_) objectRuntime_->leaveToEmbedding();
}

void LinuxSession::startSessionServices(std::function<std::optional<int>()> frontmostPid) {
  LinuxSession* self = this;
  // Other copies of the program in this session hold, or wait in line for,
  // its name on the session bus, wherever they were installed from: the one
  // holding it is found by it (and ended as any other copy); this one takes
  // the name once the holder is gone.
  runningApplications_.setIdentityOwner([] { return sessionBusOwnerOf(kApplicationId); });
  // Inside a sandbox nothing else keeps the application to one copy: a later
  // launch finds this one by its name and asks it to come forward
  // (LinuxApplication::handOverToRunningCopy), through the interface a
  // desktop asks of an application holding its id.
  GBusAcquiredCallback serveApplication = nullptr;
  if (runningInFlatpak()) {
    serveApplication = [](GDBusConnection* bus, const gchar*, gpointer data) {
      static const GDBusInterfaceVTable vtable = {
          [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
             GVariant*, GDBusMethodInvocation* invocation, gpointer session) {
            g_dbus_method_invocation_return_value(invocation, nullptr);
            // An action names nothing the host offers; activating and opening
            // bring the application forward.
            if (g_strcmp0(method, "ActivateAction") == 0) return;
            auto* owner = static_cast<LinuxSession*>(session);
            if (owner->application_) owner->application_->reopenRequested();
          },
          nullptr,
          nullptr,
          {}};
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kApplicationInterface, nullptr);
      g_dbus_connection_register_object(bus, kApplicationObjectPath, node->interfaces[0], &vtable,
                                        data, nullptr, nullptr);
      g_dbus_node_info_unref(node);
    };
  }
  identityName_ = g_bus_own_name(G_BUS_TYPE_SESSION, kApplicationId, G_BUS_NAME_OWNER_FLAGS_NONE,
                                 serveApplication, nullptr, nullptr, this, nullptr);
  objectRuntime_ =
      std::make_unique<GtkCursorRuntime>(embedding_.messenger(), [self]() -> GdkWindow* {
        LinuxWindow* window = self->mainWindow_;
        return window ? gtk_widget_get_window(window->widget()) : nullptr;
      });
  workspace_ = std::make_unique<LinuxWorkspace>(std::move(frontmostPid));
  application_ =
      std::make_unique<LinuxApplication>([self]() -> LinuxWindow* { return self->mainWindow_; });
  trayMenus_ = std::make_unique<LinuxTrayMenus>(appNotificationCenter_);
}

std::unique_ptr<NativeWindow> LinuxSession::makeMainWindow(std::function<DesktopLayout()> layout,
                                                           LinuxWindowHooks hooks,
                                                           std::unique_ptr<WindowSystem> system) {
  return std::make_unique<MainWindow>(*this, std::move(layout), std::move(hooks),
                                      std::move(system));
}

}  // namespace dravel::linux_platform
