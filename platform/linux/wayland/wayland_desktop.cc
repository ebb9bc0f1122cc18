#include "platform/linux/wayland/wayland_desktop.h"

#include <gdk/gdkwayland.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wayland-client-core.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "channels/log.h"
#include "channels/main_queue.h"
#include "platform/linux/wayland/capture/kwin_screenshot_route.h"
#include "platform/linux/wayland/capture/portal_capture_routes.h"
#include "platform/linux/wayland/capture/wlr_screencopy_route.h"
#include "platform/linux/wayland/sway_ipc.h"
#include "platform/linux/wayland/wayland_data_control.h"
#include "platform/linux/wayland/wayland_window_system.h"

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
  desktop->capabilities_ = readWaylandCapabilities(display);
  if (desktop->capabilities_.dataControl) {
    std::string missing;
    if (auto control = WaylandDataControl::connect(&missing)) {
      desktop->pasteboard().useDataControl(std::move(control));
    } else {
      NSLog(
          "[clipboard] the compositor's data control cannot be used (%s): copies need the "
          "keyboard focus",
          missing.c_str());
    }
  }
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
  // The overlay leaves with its monitor: a compositor would move it, or
  // close its surface, and it would cover another monitor or nothing.
  desktop->screens_->addLayoutListener([self] {
    LinuxWindow* window = self->mainWindow();
    if (!window || !window->isVisible() || !window->isOverlay() || !self->overlayDisplay_) return;
    for (const WaylandMonitor& m : self->screens_->monitors()) {
      if (m.displayID == self->overlayDisplay_) return;
    }
    NSLog("[overlay] its monitor went: the overlay leaves");
    self->overlayDisplay_ = 0;
    window->orderOutByPlatform();
  });
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
  NSLog("[wayland] %s offers: %s", desktop->displayName_.c_str(),
        desktop->capabilities_.describe().c_str());
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

const WaylandMonitor* WaylandDesktop::monitorUnder(const DesktopLayout::PixelRect& area,
                                                   int* index) const {
  // The monitor holding the area's centre, else the one it overlaps most.
  const std::vector<WaylandMonitor>& monitors = screens_->monitors();
  const double cx = static_cast<double>(area.x) + static_cast<double>(area.width) / 2;
  const double cy = static_cast<double>(area.y) + static_cast<double>(area.height) / 2;
  const WaylandMonitor* best = nullptr;
  int64_t bestOverlap = 0;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const WaylandMonitor& m = monitors[i];
    const int64_t w = std::min(area.x + area.width, m.x + m.width) - std::max(area.x, m.x);
    const int64_t h = std::min(area.y + area.height, m.y + m.height) - std::max(area.y, m.y);
    const bool holdsCentre =
        cx >= static_cast<double>(m.x) && cx < static_cast<double>(m.x + m.width) &&
        cy >= static_cast<double>(m.y) && cy < static_cast<double>(m.y + m.height);
    const int64_t overlap = holdsCentre ? INT64_MAX : (w > 0 && h > 0 ? w * h : 0);
    if (overlap > bestOverlap) {
      bestOverlap = overlap;
      best = &m;
      if (index) *index = static_cast<int>(i);
    }
  }
  return best;
}

std::unique_ptr<NativeWindow> WaylandDesktop::createMainWindow() {
  WaylandDesktop* self = this;
  WaylandWindowHooks hooks;
  hooks.layerShell = capabilities_.layerShell;
  hooks.monitorIndex = [self](const DesktopLayout::PixelRect& area) {
    int index = -1;
    const WaylandMonitor* monitor = self->monitorUnder(area, &index);
    self->overlayDisplay_ = monitor ? monitor->displayID : 0;
    return index;
  };
  // The monitor is read before the overlay covers it, so that captures while
  // the overlay is up show what the user saw; the overlay waits a second at
  // most for that, and a read still going then is given up.
  hooks.prepareOverlay = [self](int64_t window, const DesktopLayout::PixelRect& area,
                                std::function<void()> ready) {
    auto once = std::make_shared<std::function<void()>>(std::move(ready));
    auto fire = [once] {
      if (!*once) return;
      auto run = std::move(*once);
      *once = nullptr;
      run();
    };
    const WaylandMonitor* monitor = self->monitorUnder(area, nullptr);
    // Only where reading asks the user nothing: a dialog is not what the
    // overlay is for.
    if (!monitor || !self->screenCapture_ || !self->screenCapture_->granted()) {
      fire();
      return;
    }
    self->screenCapture_->snapshotBeforeOverlay(window, monitor->displayID, fire);
    mainQueue().asyncAfter(1.0, [self, window, once, fire] {
      if (!*once) return;
      NSLog("[capture] the screen was not read within 1 s before the overlay; showing it anyway");
      self->screenCapture_->overlayHidden(window);
      fire();
    });
  };
  LinuxWindowHooks windowHooks;
  windowHooks.overlayHidden = [self](int64_t window) {
    if (self->screenCapture_) self->screenCapture_->overlayHidden(window);
  };
  return makeMainWindow([self] { return self->screens_->layout(); }, std::move(windowHooks),
                        std::make_unique<WaylandWindowSystem>(std::move(hooks)));
}

}  // namespace dravel::linux_platform
