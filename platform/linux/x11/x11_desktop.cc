#include "platform/linux/x11/x11_desktop.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "channels/log.h"
#include "platform/linux/x11/x11_window_system.h"

namespace dravel::linux_platform {

namespace {

// The toolkit's integer window scale: what the interface's views use as
// their pixel ratio, from GDK_SCALE or the desktop's settings.
int toolkitScale() {
  GdkScreen* screen = gdk_screen_get_default();
  GdkWindow* root = screen ? gdk_screen_get_root_window(screen) : nullptr;
  const int scale = root ? gdk_window_get_scale_factor(root) : scaleFromEnvironment();
  return scale < 1 ? 1 : scale;
}

}  // namespace

std::unique_ptr<X11Desktop> X11Desktop::create(std::shared_ptr<FlutterBinaryMessenger> messenger,
                                               std::string* why) {
  // Before any other Xlib call: the capture engine's worker has its own
  // connection on another thread.
  XInitThreads();
  const char* name = std::getenv("DISPLAY");
  if (!gtk_init_check(nullptr, nullptr)) {
    if (why) {
      *why = std::string("cannot start GTK on the X display ") +
             (name && *name ? name : "(DISPLAY unset)");
    }
    return nullptr;
  }
  GdkDisplay* gdkDisplay = gdk_display_get_default();
  if (!gdkDisplay || !GDK_IS_X11_DISPLAY(gdkDisplay)) {
    if (why) *why = "the toolkit's display is not an X11 display";
    return nullptr;
  }
  // After GTK opened its display, so that these handle every connection.
  installXErrorHandlers();
  std::unique_ptr<X11Desktop> desktop(new X11Desktop(std::move(messenger)));
  desktop->connection_ = XConnection::open(gdk_display_get_name(gdkDisplay), why);
  if (!desktop->connection_) return nullptr;
  desktop->connection_->attach(g_main_context_default());
  X11Desktop* self = desktop.get();
  XConnection& connection = *desktop->connection_;
  desktop->screens_ = std::make_unique<X11Screens>(connection, toolkitScale);
  desktop->screens_->setKeyWindowFrameSource([self]() -> std::optional<Rect> {
    LinuxWindow* window = self->mainWindow();
    if (!window || !window->isVisible()) return std::nullopt;
    return window->frame();
  });
  desktop->input_ = std::make_unique<X11Input>(connection, *desktop->screens_);
  desktop->windowList_ = std::make_unique<X11WindowList>(connection, *desktop->screens_);
  desktop->startSessionServices([self] { return activeWindowPid(*self->connection_); });
  desktop->screenCapture_ = std::make_unique<X11ScreenCapture>(
      connection.displayName(), connection, [self] { return self->screens_->layout(); });
  const DesktopLayout layout = desktop->screens_->layout();
  NSLog("[x11] %s: %zu monitor(s), scale %d, RandR %d.%d, shared memory %s",
        connection.displayName().c_str(), layout.monitors().size(), layout.scale(),
        connection.extensions().randrMajor, connection.extensions().randrMinor,
        connection.extensions().shm ? "offered" : "not offered");
  return desktop;
}

X11Desktop::X11Desktop(std::shared_ptr<FlutterBinaryMessenger> messenger)
    : LinuxSession(std::move(messenger), "DISPLAY") {}

X11Desktop::~X11Desktop() {
  // The capture worker goes first; the services it reads go after.
  screenCapture_.reset();
}

std::unique_ptr<NativeWindow> X11Desktop::createMainWindow() {
  LinuxWindowHooks hooks;
  X11Desktop* self = this;
  // On X the window number is the window's X id.
  hooks.beforeOverlayMaps = [self](int64_t window) {
    if (self->screenCapture_) {
      self->screenCapture_->snapshotBeforeOverlay(static_cast<uint32_t>(window));
    }
  };
  hooks.overlayHidden = [self](int64_t window) {
    if (self->screenCapture_) self->screenCapture_->overlayHidden(static_cast<uint32_t>(window));
  };
  hooks.overlaySnapshot = [self]() -> std::shared_ptr<const CapturedImage> {
    return self->screenCapture_ ? self->screenCapture_->overlaySnapshot() : nullptr;
  };
  return makeMainWindow([self] { return self->screens_->layout(); }, std::move(hooks),
                        std::make_unique<X11WindowSystem>());
}

}  // namespace dravel::linux_platform
