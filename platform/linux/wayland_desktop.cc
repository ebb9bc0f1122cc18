#include "platform/linux/wayland_desktop.h"

#include <gdk/gdkwayland.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wayland-client-core.h>

#include <cstdlib>
#include <cstring>

#include "channels/log.h"
#include "platform/linux/kwin_screenshot_route.h"
#include "platform/linux/portal_capture_routes.h"
#include "platform/linux/sway_ipc.h"
#include "platform/linux/wlr_screencopy_route.h"

namespace dravel::linux_platform {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The ways of reading pixels, in order of preference.
std::vector<WaylandScreenCapture::RouteOffer> offeredRoutes() {
  std::vector<WaylandScreenCapture::RouteOffer> offers;
  offers.push_back({"wlr-screencopy", makeScreencopyRoute});
  offers.push_back({"KWin ScreenShot2", makeKWinScreenShotRoute});
  offers.push_back({"the ScreenCast portal", makeScreenCastPortalRoute});
  offers.push_back({"the Screenshot portal", makeScreenshotPortalRoute});
  return offers;
}

}  // namespace

bool isWaylandSession() {
  return !environment("WAYLAND_DISPLAY").empty() || environment("XDG_SESSION_TYPE") == "wayland";
}

std::unique_ptr<WaylandDesktop> WaylandDesktop::create(
    std::shared_ptr<FlutterBinaryMessenger> messenger, std::string* why) {
  const std::string name = environment("WAYLAND_DISPLAY");
  // Never X11 under XWayland: its root window shows nothing of the screen.
  gdk_set_allowed_backends("wayland");
  if (!gtk_init_check(nullptr, nullptr)) {
    if (why) {
      *why = "cannot start GTK on the Wayland compositor " +
             (name.empty() ? std::string("(WAYLAND_DISPLAY unset: wayland-0)") : name);
    }
    return nullptr;
  }
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_WAYLAND_DISPLAY(display)) {
    if (why) *why = "the toolkit's display is not a Wayland display";
    return nullptr;
  }
  std::unique_ptr<WaylandDesktop> desktop(new WaylandDesktop(std::move(messenger)));
  WaylandDesktop* self = desktop.get();
  desktop->displayName_ = name.empty() ? "wayland-0" : name;
  desktop->screens_ = std::make_unique<WaylandScreens>(display);
  desktop->screens_->setKeyWindowFrameSource([self]() -> std::optional<Rect> {
    LinuxWindow* window = self->mainWindow();
    if (!window || !window->isVisible()) return std::nullopt;
    return window->frame();
  });
  WaylandInput::Sources sources;
  sources.pointerOverHost = [self]() -> std::optional<WaylandInput::PointerOverHost> {
    // Only the overlay's place is known: it covers its monitor.
    LinuxWindow* window = self->mainWindow();
    if (!window || !window->isVisible() || !window->isOverlay()) return std::nullopt;
    GdkWindow* gdkWindow = gtk_widget_get_window(window->widget());
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!gdkWindow || !pointer) return std::nullopt;
    // The surface the pointer is over now, if it is one of ours; the
    // position GDK keeps for a surface the pointer has left is stale.
    if (gdk_device_get_window_at_position(pointer, nullptr, nullptr) == nullptr) {
      return std::nullopt;
    }
    double x = 0;
    double y = 0;
    GdkModifierType mask{};
    gdk_window_get_device_position_double(gdkWindow, pointer, &x, &y, &mask);
    const Rect frame = window->frame();
    WaylandInput::PointerOverHost over;
    over.location = Point{frame.x + x, frame.y + frame.height - y};
    if (mask & GDK_BUTTON1_MASK) over.buttons |= 1u << 0;
    if (mask & GDK_BUTTON3_MASK) over.buttons |= 1u << 1;
    if (mask & GDK_BUTTON2_MASK) over.buttons |= 1u << 2;
    return over;
  };
  // sway and its kin say which output has the focus; others tell nothing.
  sources.focusedOutput = []() -> std::optional<Rect> {
    const std::optional<SwayOutput> output = focusedOutput();
    if (!output) return std::nullopt;
    return Rect{static_cast<double>(output->x), static_cast<double>(output->y),
                static_cast<double>(output->width), static_cast<double>(output->height)};
  };
  desktop->input_ = std::make_unique<WaylandInput>(*desktop->screens_, std::move(sources));
  // The frontmost application: the focused window's owner where sway's IPC
  // tells it; Wayland itself tells ordinary clients nothing of it.
  desktop->startSessionServices([self] { return self->windowList_.focusedPid(); });
  desktop->screenCapture_ = std::make_unique<WaylandScreenCapture>(
      offeredRoutes(), [self] { return self->screens_->routeLayout(); },
      [self]() -> std::vector<uint32_t> {
        LinuxWindow* window = self->mainWindow();
        if (!window || !window->isVisible()) return {};
        return {static_cast<uint32_t>(window->windowNumber())};
      });
  desktop->screenCaptureAccess_ =
      std::make_unique<WaylandScreenCaptureAccess>(*desktop->screenCapture_);
  desktop->watchConnection();
  std::string monitors;
  for (const WaylandMonitor& m : desktop->screens_->monitors()) {
    if (!monitors.empty()) monitors += ", ";
    monitors += std::to_string(m.width) + "x" + std::to_string(m.height) + "+" +
                std::to_string(m.x) + "+" + std::to_string(m.y) + " scale " +
                std::to_string(m.scale);
  }
  NSLog("[wayland] %s: %zu monitor(s): %s", desktop->displayName_.c_str(),
        desktop->screens_->monitors().size(), monitors.c_str());
  return desktop;
}

WaylandDesktop::WaylandDesktop(std::shared_ptr<FlutterBinaryMessenger> messenger)
    : LinuxSession(std::move(messenger), "WAYLAND_DISPLAY"),
      windowList_([this] { return screens_->layout(); }) {}

WaylandDesktop::~WaylandDesktop() {
  if (connectionWatch_) g_source_remove(connectionWatch_);
  // The capture worker goes first; the services it reads go after.
  screenCaptureAccess_.reset();
  screenCapture_.reset();
}

void WaylandDesktop::setDisplayLostHandler(std::function<void(const std::string&)> handler) {
  displayLost_ = std::move(handler);
}

void WaylandDesktop::watchConnection() {
  GdkDisplay* display = gdk_display_get_default();
  wl_display* wl = gdk_wayland_display_get_wl_display(display);
  if (!wl) return;
  // Ahead of the toolkit's own source on the same descriptor, which ends
  // the process at once when the compositor goes.
  GSource* source =
      g_unix_fd_source_new(wl_display_get_fd(wl), static_cast<GIOCondition>(G_IO_HUP | G_IO_ERR));
  g_source_set_priority(source, G_PRIORITY_HIGH);
  g_source_set_callback(source, G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
                          auto* self = static_cast<WaylandDesktop*>(data);
                          const std::string message =
                              "lost the connection to the Wayland compositor " + self->displayName_;
                          if (self->displayLost_) self->displayLost_(message);
                          ::_exit(1);
                          return G_SOURCE_REMOVE;
                        }),
                        this, nullptr);
  connectionWatch_ = g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

std::unique_ptr<NativeWindow> WaylandDesktop::createMainWindow() {
  WaylandDesktop* self = this;
  return makeMainWindow([self] { return self->screens_->layout(); }, LinuxWindowHooks{});
}

}  // namespace dravel::linux_platform
