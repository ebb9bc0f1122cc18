#include "platform/linux/wayland/wayland_window_system.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "channels/log.h"
#include "platform/linux/wayland/wayland_overlay.h"

namespace dravel::linux_platform {

WaylandWindowSystem::WaylandWindowSystem(WaylandWindowHooks hooks) : hooks_(std::move(hooks)) {
  static int64_t next = 1;
  number_ = next++;
}

WaylandWindowSystem::~WaylandWindowSystem() = default;

void WaylandWindowSystem::attach(LinuxWindow& window) {
  window_ = &window;
  // The compositor closing the overlay is the platform ordering it out.
  overlay_ = std::make_unique<WaylandOverlay>(
      window.toplevel(), hooks_.layerShell,
      [this](GtkWidget* surface) { window_->connectSurface(surface); },
      [this] {
        if (window_->isShown()) window_->orderOutByPlatform();
      });
}

void WaylandWindowSystem::detach() {
  *alive_ = false;
  if (overlay_->layerSurface())
    g_signal_handlers_disconnect_by_data(overlay_->layerSurface(), window_);
  overlay_.reset();
}

GtkWidget* WaylandWindowSystem::overlaySurface() const {
  return overlay_ ? overlay_->surface() : nullptr;
}

bool WaylandWindowSystem::overlayMustWait() {
  // The desktop may first want to look at the screen the overlay will cover;
  // the overlay maps once it says so.
  if (!hooks_.prepareOverlay) return false;
  const uint64_t ticket = ++prepareTicket_;
  hooks_.prepareOverlay(window_->windowNumber(), window_->outer(),
                        [this, alive = std::weak_ptr<bool>(alive_), ticket] {
                          const auto living = alive.lock();
                          if (living && *living && ticket == prepareTicket_) {
                            window_->mapWhenReady();
                          }
                        });
  return true;
}

void WaylandWindowSystem::map(bool focus) {
  window_->setFocusPending(false);
  if (window_->mappedAsOverlay()) {
    // No client places a surface: the overlay covers the monitor its frame
    // lies on, and takes the keyboard by being the overlay.
    const int monitor = hooks_.monitorIndex ? hooks_.monitorIndex(window_->outer()) : -1;
    if (monitor < 0 && hooks_.monitorIndex) {
      // Its monitor went while it waited: it would cover another one.
      NSLog("[overlay] no monitor under the overlay: it is not shown");
      window_->orderOutByPlatform();
      return;
    }
    overlay_->show(monitor);
    return;
  }
  // The compositor places toplevels; the size is the client's.
  GtkWidget* widget = window_->toplevel();
  GtkWindow* window = GTK_WINDOW(widget);
  window_->applyGeometry();
  gtk_window_set_accept_focus(window, window_->canBecomeKey());
  gtk_window_set_focus_on_map(window, focus);
  if (focus) {
    gtk_window_present(window);
  } else {
    gtk_widget_show(widget);
  }
}

void WaylandWindowSystem::unmap(bool) {
  ++prepareTicket_;
  if (overlay_->surface()) {
    overlay_->hide();
  } else {
    gtk_widget_hide(window_->toplevel());
  }
}

void WaylandWindowSystem::takeFocus() {
  // The layer surface has the keyboard while it is shown; a toplevel asks
  // the compositor, which decides.
  if (!overlay_->usesLayerShell() || !window_->mappedAsOverlay()) {
    gtk_window_present(GTK_WINDOW(window_->toplevel()));
  }
}

void WaylandWindowSystem::opacityChanged(double opacity) {
  if (overlay_->layerSurface()) gtk_widget_set_opacity(overlay_->layerSurface(), opacity);
}

void WaylandWindowSystem::configured(const GdkEvent&) {
  // A Wayland client never learns where its toplevel is: the frame keeps
  // the place it was given, and takes the size the user or the compositor
  // chose once the window is placed. The overlay is where it was put.
  if (window_->state() != WindowState::kShown) return;
  const int s = window_->scale();
  int width = 0;
  int height = 0;
  gtk_window_get_size(GTK_WINDOW(window_->toplevel()), &width, &height);
  DesktopLayout::PixelRect outer = window_->outer();
  outer.width = int64_t{std::max(1, width)} * s;
  outer.height = int64_t{std::max(1, height)} * s;
  window_->setOuter(outer);
}

}  // namespace dravel::linux_platform
