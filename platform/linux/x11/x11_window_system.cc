#include "platform/linux/x11/x11_window_system.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "channels/log.h"
#include "platform/linux/x11/x11_properties.h"

namespace dravel::linux_platform {

using namespace window_geometry;

// Sees the X events before the toolkit does, for their serial numbers.
struct X11WindowSystem::Filter {
  static GdkFilterReturn run(GdkXEvent* xEvent, GdkEvent*, gpointer data) {
    const auto* e = static_cast<const XEvent*>(xEvent);
    auto* self = static_cast<X11WindowSystem*>(data);
    if (e->type == ConfigureNotify && e->xconfigure.window == self->xid_) {
      self->serials_.configured = e->xany.serial;
    } else if (e->type == UnmapNotify && e->xunmap.window == self->xid_) {
      self->serials_.unmapped = e->xany.serial;
    } else if (e->type == MapNotify && e->xmap.window == self->xid_) {
      self->serials_.mapped = e->xany.serial;
    } else if (e->type == ReparentNotify && e->xreparent.window == self->xid_ &&
               e->xreparent.parent == DefaultRootWindow(e->xany.display) &&
               self->window_->state() == WindowState::kWaiting && !self->releaseIdle_) {
      // Mapped after the toolkit has seen the event through.
      self->releaseIdle_ = g_idle_add(
          [](gpointer idleData) -> gboolean {
            auto* system = static_cast<X11WindowSystem*>(idleData);
            system->releaseIdle_ = 0;
            system->window_->mapWhenReady();
            return G_SOURCE_REMOVE;
          },
          self);
    }
    return GDK_FILTER_CONTINUE;
  }
};

void X11WindowSystem::attach(LinuxWindow& window) {
  window_ = &window;
  GdkWindow* gdkWindow = gtk_widget_get_window(window.toplevel());
  display_ = gdk_x11_display_get_xdisplay(gdk_window_get_display(gdkWindow));
  xid_ = static_cast<uint32_t>(gdk_x11_window_get_xid(gdkWindow));
  gdk_window_add_filter(gdkWindow, Filter::run, this);
}

void X11WindowSystem::detach() {
  if (releaseIdle_) g_source_remove(releaseIdle_);
  releaseIdle_ = 0;
  releaseGrabs();
  if (GdkWindow* gdkWindow = gtk_widget_get_window(window_->toplevel())) {
    gdk_window_remove_filter(gdkWindow, Filter::run, this);
  }
}

void X11WindowSystem::geometryApplied() {
  overlayReplacements_ = 0;
  // The toolkit sends its own request only when it next lays out, after a
  // hidden window has already been mapped and placed by the window manager:
  // ask the server now, with the position marked as the user's so that the
  // window manager keeps it. Reports about the window made before this
  // request (whose number they do not reach) say nothing about the geometry.
  const DesktopLayout::PixelRect& outer = window_->outer();
  const DesktopLayout::PixelRect content = contentFromOuter(outer, window_->extents());
  const auto contentWidth = static_cast<unsigned>(std::max<int64_t>(1, content.width));
  const auto contentHeight = static_cast<unsigned>(std::max<int64_t>(1, content.height));
  const bool resizable = window_->styleMask() & kWindowStyleResizable;
  if (XSizeHints* hints = XAllocSizeHints()) {
    long supplied = 0;
    XGetWMNormalHints(display_, xid_, hints, &supplied);
    hints->flags |= USPosition | USSize | PWinGravity;
    hints->x = static_cast<int>(outer.x);
    hints->y = static_cast<int>(outer.y);
    hints->width = static_cast<int>(contentWidth);
    hints->height = static_cast<int>(contentHeight);
    hints->win_gravity = NorthWestGravity;
    if (!resizable) {
      hints->flags |= PMinSize | PMaxSize;
      hints->min_width = hints->max_width = static_cast<int>(contentWidth);
      hints->min_height = hints->max_height = static_cast<int>(contentHeight);
    }
    XSetWMNormalHints(display_, xid_, hints);
    XFree(hints);
  }
  requestGeometry();
}

void X11WindowSystem::requestGeometry() {
  const DesktopLayout::PixelRect& outer = window_->outer();
  const DesktopLayout::PixelRect content = contentFromOuter(outer, window_->extents());
  serials_.geometry = NextRequest(display_);
  XMoveResizeWindow(display_, xid_, static_cast<int>(outer.x), static_cast<int>(outer.y),
                    static_cast<unsigned>(std::max<int64_t>(1, content.width)),
                    static_cast<unsigned>(std::max<int64_t>(1, content.height)));
  XFlush(display_);
}

void X11WindowSystem::showStarted() {
  // Unmaps from before now are this object's own.
  serials_.shown = NextRequest(display_);
}

bool X11WindowSystem::overlayMustWait() {
  // A window just taken from the window manager sits in its frame until the
  // window manager lets it go; mapped override-redirect there, it would be
  // carried off with the frame. It maps once it is back on the root.
  return heldByWindowManager();
}

bool X11WindowSystem::heldByWindowManager() const {
  GdkDisplay* gdkDisplay = gtk_widget_get_display(window_->toplevel());
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  gdk_x11_display_error_trap_push(gdkDisplay);
  const Status status = XQueryTree(display_, xid_, &root, &parent, &children, &count);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  if (children) XFree(children);
  return status != 0 && parent != root;
}

void X11WindowSystem::map(bool focus) {
  GtkWidget* widget = window_->toplevel();
  GtkWindow* window = GTK_WINDOW(widget);
  const bool overlay = window_->mappedAsOverlay();
  if (GdkWindow* gdkWindow = gtk_widget_get_window(widget)) {
    gdk_window_set_override_redirect(gdkWindow, overlay);
  }
  serials_.shown = NextRequest(display_);
  // The window manager may have answered the request for the frame's size.
  if (!overlay) readFrameExtents();
  window_->applyGeometry();
  gtk_window_set_accept_focus(window, window_->canBecomeKey());
  gtk_window_set_focus_on_map(window, focus);
  if (overlay && window_->hooks().beforeOverlayMaps) {
    window_->hooks().beforeOverlayMaps(window_->windowNumber());
  }
  if (focus && !overlay) {
    window_->setFocusPending(false);
    gtk_window_present_with_time(window, serverTime());
  } else {
    // An override-redirect window takes the focus once the server has mapped
    // it (the focus and grabs need a viewable window).
    window_->setFocusPending(focus && overlay);
    gtk_widget_show(widget);
  }
  // Showing makes the toolkit send a geometry of its own when it next lays
  // out, which may be one it remembers from an earlier map: tell it again
  // now that it takes the window as mapped, and have the last word.
  const int s = window_->scale();
  const DesktopLayout::PixelRect& outer = window_->outer();
  const DesktopLayout::PixelRect content = contentFromOuter(outer, window_->extents());
  gtk_window_move(window, static_cast<int>(outer.x / s), static_cast<int>(outer.y / s));
  gtk_window_resize(window, std::max(1, static_cast<int>(content.width / s)),
                    std::max(1, static_cast<int>(content.height / s)));
  requestGeometry();
}

void X11WindowSystem::unmap(bool wasOverlay) {
  releaseGrabs();
  gtk_widget_hide(window_->toplevel());
  // The capture engine may look at the screen as soon as it hears: make sure
  // the server has unmapped the window first.
  if (wasOverlay) XSync(display_, False);
}

uint32_t X11WindowSystem::serverTime() const {
  GdkWindow* gdkWindow = gtk_widget_get_window(window_->toplevel());
  return gdkWindow ? gdk_x11_get_server_time(gdkWindow) : GDK_CURRENT_TIME;
}

void X11WindowSystem::takeFocus() {
  GtkWidget* widget = window_->toplevel();
  if (!window_->mappedAsOverlay()) {
    gtk_window_present_with_time(GTK_WINDOW(widget), serverTime());
    return;
  }
  if (!mapped_) {
    window_->setFocusPending(true);
    return;
  }
  // No window manager hands focus to an override-redirect window: take it,
  // with a real time so that the server does not ignore the request.
  GdkDisplay* gdkDisplay = gtk_widget_get_display(widget);
  const uint32_t time = serverTime();
  gdk_x11_display_error_trap_push(gdkDisplay);
  XSetInputFocus(display_, xid_, RevertToParent, time);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  grab();
}

void X11WindowSystem::grab() {
  if (grabbed_) return;
  GtkWidget* widget = window_->toplevel();
  GdkWindow* gdkWindow = gtk_widget_get_window(widget);
  if (!gdkWindow) return;
  GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(widget));
  const GdkGrabStatus status = gdk_seat_grab(seat, gdkWindow, GDK_SEAT_CAPABILITY_ALL, TRUE,
                                             nullptr, nullptr, nullptr, nullptr);
  grabbed_ = status == GDK_GRAB_SUCCESS;
  if (!grabbed_) NSLog("[window] the overlay could not grab the keyboard and pointer (%d)", status);
}

void X11WindowSystem::releaseGrabs() {
  if (!grabbed_) return;
  grabbed_ = false;
  GdkDisplay* display = gtk_widget_get_display(window_->toplevel());
  gdk_seat_ungrab(gdk_display_get_default_seat(display));
  gdk_display_flush(display);
}

Point X11WindowSystem::pointerInWindow() const {
  Window root = 0;
  Window child = 0;
  int rootX = 0;
  int rootY = 0;
  int x = 0;
  int y = 0;
  unsigned int mask = 0;
  GtkWidget* widget = window_->toplevel();
  GdkDisplay* gdkDisplay = gtk_widget_get_display(widget);
  gdk_x11_display_error_trap_push(gdkDisplay);
  XQueryPointer(display_, xid_, &root, &child, &rootX, &rootY, &x, &y, &mask);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  const int s = window_->scale();
  const int64_t height =
      static_cast<int64_t>(gdk_window_get_height(gtk_widget_get_window(widget))) * s;
  return windowPointFromContent(x, y, height, window_->extents(), s);
}

void X11WindowSystem::configured(const GdkEvent& event) {
  const GdkEventConfigure& c = event.configure;
  const int s = window_->scale();
  const DesktopLayout::PixelRect content{int64_t{c.x} * s, int64_t{c.y} * s, int64_t{c.width} * s,
                                         int64_t{c.height} * s};
  // Reports made before the server saw the last request say nothing about it.
  // Nobody but this object places the overlay (there is no window manager):
  // a report of it elsewhere is a late request of the toolkit's undoing this
  // object's. Put it back, a few times at most, so that a disagreement
  // cannot go on for ever.
  const bool current = serials_.configured >= serials_.geometry;
  if (window_->isShown() && window_->mappedAsOverlay() && current && content != window_->outer() &&
      overlayReplacements_ < 3) {
    ++overlayReplacements_;
    requestGeometry();
    return;
  }
  // Until it is mapped with its frame known, the window is where it was asked
  // to be: the window manager's reports while it takes the window on are
  // about a window it has not finished placing.
  const WindowState state = window_->state();
  if ((state != WindowState::kShown && state != WindowState::kOverlay) || !current) return;
  // The window's real place: what was asked, or where the window manager or
  // the user put it.
  window_->setOuter(outerFromContent(content, window_->extents()));
}

bool X11WindowSystem::mapReported() {
  if (serials_.mapped < serials_.shown) return false;
  mapped_ = true;
  return true;
}

bool X11WindowSystem::unmapReported(bool meantShown) {
  mapped_ = false;
  // An unmap from before the window was last shown is this object's own.
  if (!meantShown || serials_.unmapped < serials_.shown) return false;
  // An iconify says so in WM_STATE; anything else (a client unmapping the
  // window, the window manager withdrawing it) is the platform ordering the
  // window out.
  GdkDisplay* gdkDisplay = gtk_widget_get_display(window_->toplevel());
  const Atom wmState = gdk_x11_get_xatom_by_name_for_display(gdkDisplay, "WM_STATE");
  gdk_x11_display_error_trap_push(gdkDisplay);
  const auto state = readLongs(display_, xid_, wmState, wmState, 2);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  const bool iconic = state && !state->empty() && static_cast<long>(state->front()) == IconicState;
  return !iconic || window_->mappedAsOverlay();
}

void X11WindowSystem::propertyChanged(const GdkEvent& event) {
  if (event.property.atom != gdk_atom_intern_static_string("_NET_FRAME_EXTENTS")) return;
  readFrameExtents();
  // A frame that changed around a shown window (decorations added or taken
  // away): keep the frame where it is, the content inside it.
  if (window_->state() == WindowState::kShown && mapped_ &&
      window_->extents() != window_->appliedExtents()) {
    window_->applyGeometry();
  }
}

void X11WindowSystem::decorationsChanged() {
  // The window manager tells the new frame's size before the window maps.
  if (!mapped_) requestFrameExtents();
}

void X11WindowSystem::requestFrameExtents() {
  // The window manager answers by setting _NET_FRAME_EXTENTS on the window
  // before it is mapped, so that its frame can be placed exactly.
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xid_;
  event.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(
      gtk_widget_get_display(window_->toplevel()), "_NET_REQUEST_FRAME_EXTENTS");
  event.xclient.format = 32;
  XSendEvent(display_, DefaultRootWindow(display_), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display_);
}

void X11WindowSystem::readFrameExtents() {
  GdkDisplay* gdkDisplay = gtk_widget_get_display(window_->toplevel());
  gdk_x11_display_error_trap_push(gdkDisplay);
  const auto read = readProperty(
      display_, xid_, gdk_x11_get_xatom_by_name_for_display(gdkDisplay, "_NET_FRAME_EXTENTS"),
      XA_CARDINAL, 4);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  if (read && read->type == XA_CARDINAL && read->format == 32 && read->items.size() == 4) {
    const auto value = [&](int i) { return static_cast<long>(read->items[i]); };
    managerExtents_ = {value(0), value(1), value(2), value(3)};
  } else if (read && read->type == None) {
    managerExtents_ = {};
  }
}

}  // namespace dravel::linux_platform
