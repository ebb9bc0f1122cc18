// How the window answers the toolkit's events: drawing, mouse events for the
// host, and the window manager's close.
#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/session/linux_window.h"
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

}  // namespace dravel::linux_platform
