// How the window answers the toolkit's and the server's events: drawing,
// mouse events for the host, the window manager's close, configure, map and
// state reports.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstring>
#include <memory>

#include "platform/linux/window/linux_window.h"
#include "platform/linux/wayland/wayland_overlay.h"
#include "platform/linux/x11/x11_properties.h"
#include "platform/shared/cairo_pixels.h"

namespace dravel::linux_platform {

using namespace window_geometry;

namespace {

// The image as a Cairo surface; null when it is malformed or empty.
cairo_surface_t* surfaceFromImage(const CapturedImage& image) {
  if (!image.isWellFormed() || image.width <= 0 || image.height <= 0) return nullptr;
  return surfaceFromRows(
      image.pixels.data(), static_cast<int>(image.width), static_cast<int>(image.height),
      static_cast<size_t>(image.bytesPerRow), image.format == PixelFormat::kRGBAStraight,
      image.format == PixelFormat::kBGRX ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32);
}

// A copy of the event that lives as long as the mouse event carrying it.
std::shared_ptr<const void> keptCopy(GdkEvent* event) {
  return std::shared_ptr<const void>(gdk_event_copy(event), [](const void* e) {
    gdk_event_free(const_cast<GdkEvent*>(static_cast<const GdkEvent*>(e)));
  });
}

}  // namespace

GtkWidget* LinuxWindow::widget() const {
  GtkWidget* overlay = wayland_ ? wayland_->surface() : nullptr;
  return overlay ? overlay : window_;
}

Point LinuxWindow::mouseLocationOutsideOfEventStream() const {
  Display* display = xDisplay();
  if (!display || !xid_) return {};
  Window root = 0;
  Window child = 0;
  int rootX = 0;
  int rootY = 0;
  int x = 0;
  int y = 0;
  unsigned int mask = 0;
  GdkDisplay* gdkDisplay = gtk_widget_get_display(window_);
  gdk_x11_display_error_trap_push(gdkDisplay);
  XQueryPointer(display, xid_, &root, &child, &rootX, &rootY, &x, &y, &mask);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  const int64_t height = static_cast<int64_t>(gdk_window_get_height(gdkWindow)) * scale();
  return windowPointFromContent(x, y, height, extents(), scale());
}

void LinuxWindow::sendEventInherited(const MouseEvent&) {
  // The window itself has nothing to do with a mouse event: the view that
  // would handle it is the embedding's, which this build does not have.
  ++inheritedEvents_;
}

void LinuxWindow::deliver(const MouseEvent& event) {
  if (dispatcher_) {
    dispatcher_(event);
  } else {
    sendEventInherited(event);
  }
}

bool LinuxWindow::onDelete() {
  // The window stays: closing is the host's decision.
  if (overrides_.close) {
    overrides_.close();
  } else {
    orderOut();
  }
  return true;
}

bool LinuxWindow::onDraw(void* cairoContext) {
  auto* cr = static_cast<cairo_t*>(cairoContext);
  GtkWidget* shown = widget();
  const double width = gtk_widget_get_allocated_width(shown);
  const double height = gtk_widget_get_allocated_height(shown);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  const Color& c = background_;
  if (opaque_) {
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, 1.0);
    cairo_paint(cr);
  } else if (gdk_screen_is_composited(gtk_widget_get_screen(shown))) {
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
    cairo_paint(cr);
  } else {
    // Nothing would show through: paint what lay below when the overlay
    // mapped, then the background colour over it.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    std::shared_ptr<const CapturedImage> snapshot =
        hooks_.overlaySnapshot ? hooks_.overlaySnapshot() : nullptr;
    if (snapshot != paintedSnapshot_) {
      paintedSnapshot_ = snapshot;
      snapshotSurface_.reset();
      if (snapshot) {
        if (cairo_surface_t* surface = surfaceFromImage(*snapshot)) {
          snapshotSurface_ = std::shared_ptr<void>(
              surface, [](void* s) { cairo_surface_destroy(static_cast<cairo_surface_t*>(s)); });
        }
      }
    }
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    if (snapshotSurface_) {
      cairo_save(cr);
      cairo_scale(cr, width / static_cast<double>(paintedSnapshot_->width),
                  height / static_cast<double>(paintedSnapshot_->height));
      cairo_set_source_surface(cr, static_cast<cairo_surface_t*>(snapshotSurface_.get()), 0, 0);
      // Scaled, the edge pixels stay themselves instead of fading out.
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
      cairo_paint(cr);
      cairo_restore(cr);
    }
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
    cairo_paint(cr);
  }
  cairo_restore(cr);
  return false;
}

bool LinuxWindow::onButton(GdkEvent* gdkEvent) {
  const GdkEventButton& b = gdkEvent->button;
  // The toolkit follows a second press with an extra double-click event; the
  // press itself already went out with its click count.
  if (b.type != GDK_BUTTON_PRESS && b.type != GDK_BUTTON_RELEASE) return true;
  const bool down = b.type == GDK_BUTTON_PRESS;
  const int s = scale();
  if (down) {
    int doubleClickTime = 400;
    int doubleClickDistance = 5;
    g_object_get(gtk_widget_get_settings(window_), "gtk-double-click-time", &doubleClickTime,
                 "gtk-double-click-distance", &doubleClickDistance, nullptr);
    const bool again = clickCount_ > 0 && b.button == lastPressButton_ &&
                       b.time - lastPressTime_ <= static_cast<uint32_t>(doubleClickTime) &&
                       std::abs(b.x - lastPressX_) <= doubleClickDistance &&
                       std::abs(b.y - lastPressY_) <= doubleClickDistance;
    clickCount_ = again ? clickCount_ + 1 : 1;
    lastPressButton_ = b.button;
    lastPressTime_ = b.time;
    lastPressX_ = b.x;
    lastPressY_ = b.y;
  }
  MouseEvent event;
  event.type = buttonEventType(b.button, down);
  const int64_t contentHeight =
      static_cast<int64_t>(gdk_window_get_height(gtk_widget_get_window(widget()))) * s;
  event.locationInWindow = windowPointFromContent(b.x * s, b.y * s, contentHeight, extents(), s);
  event.modifierFlags = modifierFlagsFromState(b.state);
  event.timestamp = b.time / 1000.0;
  event.windowNumber = windowNumber();
  event.eventNumber = ++eventNumber_;
  event.clickCount = b.button == lastPressButton_ ? clickCount_ : 1;
  event.pressure = down ? 1.0 : 0.0;
  event.nativeEvent = keptCopy(gdkEvent);
  deliver(event);
  return true;
}

bool LinuxWindow::onMotion(GdkEvent* gdkEvent) {
  const GdkEventMotion& m = gdkEvent->motion;
  const int s = scale();
  MouseEvent event;
  event.type = motionEventType(m.state);
  const int64_t contentHeight =
      static_cast<int64_t>(gdk_window_get_height(gtk_widget_get_window(widget()))) * s;
  event.locationInWindow = windowPointFromContent(m.x * s, m.y * s, contentHeight, extents(), s);
  event.modifierFlags = modifierFlagsFromState(m.state);
  event.timestamp = m.time / 1000.0;
  event.windowNumber = windowNumber();
  event.eventNumber = ++eventNumber_;
  event.pressure = event.type == kMouseMoved ? 0.0 : 1.0;
  event.nativeEvent = keptCopy(gdkEvent);
  deliver(event);
  return true;
}

void LinuxWindow::onConfigure(GdkEvent* gdkEvent) {
  const GdkEventConfigure& c = gdkEvent->configure;
  const int s = scale();
  if (wayland_) {
    // A Wayland client never learns where its toplevel is: the frame keeps
    // the place it was given, and takes the size the user or the compositor
    // chose once the window is placed. The overlay is where it was put.
    if (showing_ == Showing::kPlaced && !mappedAsOverlay_) {
      int width = 0;
      int height = 0;
      gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
      wantedOuter_.width = int64_t{std::max(1, width)} * s;
      wantedOuter_.height = int64_t{std::max(1, height)} * s;
    }
    return;
  }
  content_ = DesktopLayout::PixelRect{int64_t{c.x} * s, int64_t{c.y} * s, int64_t{c.width} * s,
                                      int64_t{c.height} * s};
  // Reports made before the server saw the last request say nothing about it.
  // Nobody but this object places the overlay (there is no window manager):
  // a report of it elsewhere is a late request of the toolkit's undoing this
  // object's. Put it back, a few times at most, so that a disagreement
  // cannot go on for ever.
  if (shown() && mappedAsOverlay_ && serials_.configured >= serials_.geometry &&
      *content_ != wantedOuter_ && overlayReplacements_ < 3) {
    ++overlayReplacements_;
    requestGeometry();
    return;
  }
  // Until it is mapped with its frame known, the window is where it was asked
  // to be: the window manager's reports while it takes the window on are
  // about a window it has not finished placing.
  if (showing_ != Showing::kPlaced || serials_.configured < serials_.geometry) return;
  // The window's real place: what was asked, or where the window manager or
  // the user put it.
  wantedOuter_ = outerFromContent(*content_, extents());
}

void LinuxWindow::onMap() {
  // A map from before the window was last shown (it has been hidden since,
  // and its unmap follows) is not this one.
  if (serials_.mapped < serials_.shown) return;
  mapped_ = true;
  if (showing_ == Showing::kPlacing) {
    showing_ = Showing::kPlaced;
    // Placed before the frame's size was known: place it again, frame and all.
    if (!mappedAsOverlay_) {
      readFrameExtents();
      if (extents() != appliedExtents_) applyGeometry();
    }
  }
  if (focusPending_ && shown()) {
    focusPending_ = false;
    takeFocus();
  }
}

void LinuxWindow::onUnmap() {
  mapped_ = false;
  // An unmap from before the window was last shown is this object's own.
  if (showing_ == Showing::kHidden || showing_ == Showing::kAwaitingRelease || iconified_ ||
      serials_.unmapped < serials_.shown) {
    return;
  }
  // Unmapped by someone else while meant to be shown. An iconify says so in
  // WM_STATE; anything else (a client unmapping the window, the window
  // manager withdrawing it) is the platform ordering the window out.
  if (Display* display = xDisplay()) {
    GdkDisplay* gdkDisplay = gtk_widget_get_display(window_);
    const Atom wmState = gdk_x11_get_xatom_by_name_for_display(gdkDisplay, "WM_STATE");
    gdk_x11_display_error_trap_push(gdkDisplay);
    const auto state = readLongs(display, xid_, wmState, wmState, 2);
    gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
    const bool iconic =
        state && !state->empty() && static_cast<long>(state->front()) == IconicState;
    if (iconic && !mappedAsOverlay_) return;
  }
  orderOutByPlatform();
}

void LinuxWindow::orderOutByPlatform() {
  if (overrides_.orderOut) {
    overrides_.orderOut();
  } else {
    orderOut();
  }
}

void LinuxWindow::onWindowState(GdkEvent* gdkEvent) {
  iconified_ = (gdkEvent->window_state.new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

void LinuxWindow::onProperty(GdkEvent* gdkEvent) {
  if (gdkEvent->property.atom != gdk_atom_intern_static_string("_NET_FRAME_EXTENTS")) return;
  readFrameExtents();
  // A frame that changed around a shown window (decorations added or taken
  // away): keep the frame where it is, the content inside it.
  if (showing_ == Showing::kPlaced && mapped_ && !mappedAsOverlay_ &&
      extents() != appliedExtents_) {
    applyGeometry();
  }
}

void LinuxWindow::requestFrameExtents() {
  // The window manager answers by setting _NET_FRAME_EXTENTS on the window
  // before it is mapped, so that its frame can be placed exactly.
  Display* display = xDisplay();
  if (!display || !xid_) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xid_;
  event.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(
      gtk_widget_get_display(window_), "_NET_REQUEST_FRAME_EXTENTS");
  event.xclient.format = 32;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

void LinuxWindow::readFrameExtents() {
  Display* display = xDisplay();
  if (!display || !xid_) return;
  GdkDisplay* gdkDisplay = gtk_widget_get_display(window_);
  gdk_x11_display_error_trap_push(gdkDisplay);
  const auto read = readProperty(
      display, xid_, gdk_x11_get_xatom_by_name_for_display(gdkDisplay, "_NET_FRAME_EXTENTS"),
      XA_CARDINAL, 4);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  if (read && read->type == XA_CARDINAL && read->format == 32 && read->items.size() == 4) {
    const auto value = [&](int i) { return static_cast<long>(read->items[i]); };
    managerExtents_ = {value(0), value(1), value(2), value(3)};
  } else if (read && read->type == None) {
    managerExtents_ = {};
  }
}

void LinuxWindow::onGrabBroken() {
  grabbed_ = false;
}

}  // namespace dravel::linux_platform
