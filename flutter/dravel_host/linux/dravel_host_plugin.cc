// The host inside the interface's own process, started by the plugin's
// registration. It is the host the process dravel-host runs, on the
// embedding's messenger instead of a socket: the same desktop behind the
// seam, the same start-up, the same main queue on the default main context,
// which the application's own main loop runs.
//
// The desktop is the one the display GTK opened for the application decides,
// as --platform auto does: Wayland on a Wayland display; X11 on an X11
// display, except in a Wayland session, where X is a compatibility server
// whose root window shows nothing of the screen. The main window is the
// toplevel holding the application's view (reached through the view, never
// replaced, the view never moved), hidden until the first frame shows it.
// The host lives as long as the embedding keeps its channel handlers.
#include "include/dravel_host/dravel_host_plugin.h"

#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "channels/glib_main_queue.h"
#include "channels/log.h"
#include "flutter_linux_messenger.h"
#include "host/capture_handler.h"
#include "host/launch.h"
#include "host/main_flutter_window.h"
#include "platform/linux/wayland/wayland_desktop.h"
#include "platform/linux/x11/x11_desktop.h"

namespace dravel::flutter_linux {
namespace {

class InProcessHost {
 public:
  explicit InProcessHost(RegistrarParts parts)
      : messenger_(std::move(parts.messenger)), view_(parts.view) {
    addLogSink(stderrSink_);
    addLogSink(syslogSink_);
    setMainQueue(&queue_);
  }
  ~InProcessHost() {
    if (desktop_) {
      CaptureHandler::shared().window.reset();
      // A clipboard copy still decoding is left to finish on its own
      // thread, unanswered.
      CaptureHandler::shared().abandonCopies();
      launched_ = {};
      setPlatform(nullptr);
      // Its engines' threads may still hand work to the main queue.
      desktop_.reset();
    }
    setMainQueue(nullptr);
    removeLogSink(syslogSink_);
    removeLogSink(stderrSink_);
    if (view_) g_object_unref(view_);
  }
  InProcessHost(const InProcessHost&) = delete;
  InProcessHost& operator=(const InProcessHost&) = delete;

  // Makes the desktop and launches the host on it; false (with `why`) when
  // no desktop can be served.
  bool launch(std::string* why) {
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_WAYLAND_DISPLAY(display)) {
      desktop_ = linux_platform::WaylandDesktop::create(messenger_, why);
    } else if (display && GDK_IS_X11_DISPLAY(display)) {
      if (linux_platform::isWaylandSession()) {
        *why =
            "the application's toolkit runs on X11 in a Wayland session, where the X11 "
            "desktop cannot read the screen (run it on GDK's Wayland backend)";
        return false;
      }
      desktop_ = linux_platform::X11Desktop::create(messenger_, why);
    } else {
      *why = "the application's toolkit has no X11 or Wayland display";
    }
    if (!desktop_) return false;
    GtkWidget* toplevel = view_ ? gtk_widget_get_toplevel(view_) : nullptr;
    if (toplevel && GTK_IS_WINDOW(toplevel)) {
      desktop_->embedIn(toplevel);
    } else {
      NSLog("[host] the engine runs without a view in a window: the main window is the host's own");
    }
    setPlatform(desktop_.get());
    launched_ = launchHost();
    return true;
  }

 private:
  GLibMainQueue queue_;
  std::shared_ptr<LogSink> stderrSink_ =
      std::make_shared<ThrottledLogSink>(std::make_shared<StderrLogSink>());
  std::shared_ptr<LogSink> syslogSink_ =
      std::make_shared<ThrottledLogSink>(std::make_shared<SyslogLogSink>("dravel-host"));
  std::shared_ptr<FlutterLinuxMessenger> messenger_;
  GtkWidget* view_;
  std::unique_ptr<linux_platform::LinuxSession> desktop_;
  LaunchedHost launched_;
};

// The host of this process while the embedding keeps it.
std::weak_ptr<InProcessHost> running;

}  // namespace
}  // namespace dravel::flutter_linux

void dravel_host_plugin_register_with_registrar(FlPluginRegistrar* registrar) {
  using namespace dravel::flutter_linux;
  if (!running.expired()) {
    dravel::NSLog("[host] already serves this process's interface: another view is left alone");
    return;
  }
  RegistrarParts parts = partsOf(registrar);
  std::shared_ptr<FlutterLinuxMessenger> messenger = parts.messenger;
  auto host = std::make_shared<InProcessHost>(std::move(parts));
  messenger->keepAliveWithHandlers(host);
  std::string why;
  if (!host->launch(&why)) {
    dravel::NSLog("[host] cannot serve the interface in this process: %s", why.c_str());
    return;
  }
  running = host;
}
