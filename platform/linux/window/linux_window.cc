#include "platform/linux/window/linux_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "channels/log.h"
#include "platform/linux/wayland/wayland_overlay.h"
#include "platform/linux/x11/x11_properties.h"

namespace dravel::linux_platform {

using namespace window_geometry;

namespace {

// A pixel rectangle of the root window as a global bottom-left frame.
Rect frameFromPixels(const DesktopLayout& layout, const DesktopLayout::PixelRect& r) {
  const Point origin =
      layout.pointFromRoot(static_cast<double>(r.x), static_cast<double>(r.y + r.height));
  const double s = layout.scale();
  return {origin.x, origin.y, static_cast<double>(r.width) / s, static_cast<double>(r.height) / s};
}

}  // namespace

struct LinuxWindow::Signals {
  static LinuxWindow* of(gpointer data) { return static_cast<LinuxWindow*>(data); }
  static gboolean deleteEvent(GtkWidget*, GdkEvent*, gpointer data) { return of(data)->onDelete(); }
  static gboolean draw(GtkWidget*, cairo_t* cairo, gpointer data) {
    return of(data)->onDraw(cairo);
  }
  static gboolean button(GtkWidget*, GdkEvent* event, gpointer data) {
    return of(data)->onButton(event);
  }
  static gboolean motion(GtkWidget*, GdkEvent* event, gpointer data) {
    return of(data)->onMotion(event);
  }
  static gboolean configure(GtkWidget*, GdkEvent* event, gpointer data) {
    of(data)->onConfigure(event);
    return FALSE;
  }
  static gboolean map(GtkWidget*, GdkEvent*, gpointer data) {
    of(data)->onMap();
    surfaceChanged(nullptr, nullptr, data);
    return FALSE;
  }
  static void surfaceChanged(GObject*, GParamSpec*, gpointer data) {
    if (of(data)->surfaceObserver_) of(data)->surfaceObserver_();
  }
  static gboolean unmap(GtkWidget*, GdkEvent*, gpointer data) {
    of(data)->onUnmap();
    return FALSE;
  }
  static gboolean windowState(GtkWidget*, GdkEvent* event, gpointer data) {
    of(data)->onWindowState(event);
    return FALSE;
  }
  static gboolean property(GtkWidget*, GdkEvent* event, gpointer data) {
    of(data)->onProperty(event);
    return FALSE;
  }
  // Sees the X events before the toolkit does, for their serial numbers.
  static GdkFilterReturn filter(GdkXEvent* xEvent, GdkEvent*, gpointer data) {
    const auto* e = static_cast<const XEvent*>(xEvent);
    LinuxWindow* self = of(data);
    if (e->type == ConfigureNotify && e->xconfigure.window == self->xid_) {
      self->serials_.configured = e->xany.serial;
    } else if (e->type == UnmapNotify && e->xunmap.window == self->xid_) {
      self->serials_.unmapped = e->xany.serial;
    } else if (e->type == MapNotify && e->xmap.window == self->xid_) {
      self->serials_.mapped = e->xany.serial;
    } else if (e->type == ReparentNotify && e->xreparent.window == self->xid_ &&
               e->xreparent.parent == DefaultRootWindow(e->xany.display) &&
               self->showing_ == Showing::kAwaitingRelease && !self->releaseIdle_) {
      // Mapped after the toolkit has seen the event through.
      self->releaseIdle_ = g_idle_add(
          [](gpointer idleData) -> gboolean {
            LinuxWindow* window = of(idleData);
            window->releaseIdle_ = 0;
            window->onReleased();
            return G_SOURCE_REMOVE;
          },
          self);
    }
    return GDK_FILTER_CONTINUE;
  }
  static gboolean grabBroken(GtkWidget*, GdkEvent*, gpointer data) {
    of(data)->onGrabBroken();
    return FALSE;
  }
};

LinuxWindow::LinuxWindow(std::function<DesktopLayout()> layoutSource, LinuxWindowHooks hooks)
    : layoutSource_(std::move(layoutSource)), hooks_(std::move(hooks)) {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  // The visual is fixed when the X window is made: an RGBA one from the start
  // lets the window become see-through later without a new id.
  if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
    gtk_widget_set_visual(window_, rgba);
  }
  gtk_widget_set_app_paintable(window_, TRUE);
  gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                     GDK_POINTER_MOTION_MASK | GDK_PROPERTY_CHANGE_MASK |
                                     GDK_STRUCTURE_MASK);
  g_signal_connect(window_, "delete-event", G_CALLBACK(Signals::deleteEvent), this);
  g_signal_connect(window_, "configure-event", G_CALLBACK(Signals::configure), this);
  g_signal_connect(window_, "window-state-event", G_CALLBACK(Signals::windowState), this);
  g_signal_connect(window_, "property-notify-event", G_CALLBACK(Signals::property), this);
  g_signal_connect(window_, "grab-broken-event", G_CALLBACK(Signals::grabBroken), this);
  connectSurface(window_);
  if (GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(window_))) {
    // The compositor closing the overlay is the platform ordering it out.
    wayland_ = std::make_unique<WaylandOverlay>(
        window_, hooks_.layerShell, [this](GtkWidget* surface) { connectSurface(surface); },
        [this] {
          if (shown()) orderOutByPlatform();
        });
  }

  wantedOuter_ = layout().rootRectFromFrame(wantedFrame_);
  gtk_widget_realize(window_);
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  if (gdkWindow && GDK_IS_X11_WINDOW(gdkWindow)) {
    xid_ = static_cast<uint32_t>(gdk_x11_window_get_xid(gdkWindow));
    gdk_window_add_filter(gdkWindow, Signals::filter, this);
  } else {
    static int64_t next = 1;
    ownNumber_ = next++;
  }
  applyGeometry();
  requestFrameExtents();
}

LinuxWindow::~LinuxWindow() {
  if (releaseIdle_) g_source_remove(releaseIdle_);
  releaseGrabs();
  *alive_ = false;
  g_signal_handlers_disconnect_by_data(window_, this);
  if (wayland_ && wayland_->layerSurface()) {
    g_signal_handlers_disconnect_by_data(wayland_->layerSurface(), this);
  }
  wayland_.reset();
  if (GdkWindow* gdkWindow = gtk_widget_get_window(window_)) {
    gdk_window_remove_filter(gdkWindow, Signals::filter, this);
  }
  GdkDisplay* display = gtk_widget_get_display(window_);
  gtk_widget_destroy(window_);
  gdk_display_flush(display);
}

void LinuxWindow::connectSurface(GtkWidget* surface) {
  g_signal_connect(surface, "draw", G_CALLBACK(Signals::draw), this);
  g_signal_connect(surface, "button-press-event", G_CALLBACK(Signals::button), this);
  g_signal_connect(surface, "button-release-event", G_CALLBACK(Signals::button), this);
  g_signal_connect(surface, "motion-notify-event", G_CALLBACK(Signals::motion), this);
  g_signal_connect(surface, "map-event", G_CALLBACK(Signals::map), this);
  g_signal_connect(surface, "unmap-event", G_CALLBACK(Signals::unmap), this);
  g_signal_connect(surface, "notify::scale-factor", G_CALLBACK(Signals::surfaceChanged), this);
}

Display* LinuxWindow::xDisplay() const {
  GdkDisplay* display = gtk_widget_get_display(window_);
  return GDK_IS_X11_DISPLAY(display) ? gdk_x11_display_get_xdisplay(display) : nullptr;
}

DesktopLayout LinuxWindow::layout() const {
  return layoutSource_ ? layoutSource_() : DesktopLayout();
}

int LinuxWindow::scale() const {
  return std::max(1, gtk_widget_get_scale_factor(window_));
}

FrameExtents LinuxWindow::extents() const {
  // An override-redirect window has no window manager, hence no frame.
  if (isOverlay() || mappedAsOverlay_) return {};
  return managerExtents_;
}

Rect LinuxWindow::frame() const {
  const DesktopLayout current = layout();
  // The frame as set, as long as it still names the window's pixels (the
  // window has not moved and the monitors have not changed).
  if (current.rootRectFromFrame(wantedFrame_) == wantedOuter_) return wantedFrame_;
  return frameFromPixels(current, wantedOuter_);
}

void LinuxWindow::setFrame(const Rect& frame, bool display) {
  wantedFrame_ = frame;
  wantedOuter_ = layout().rootRectFromFrame(frame);
  if (shown()) applyGeometry();
  if (display) gtk_widget_queue_draw(widget());
}

void LinuxWindow::applyGeometry() {
  // With the default (north-west) gravity the window manager puts the frame's
  // top-left corner where asked; the size is the content's. The toolkit's
  // units are pixels divided by its own scale.
  const int s = scale();
  const DesktopLayout::PixelRect content = contentFromOuter(wantedOuter_, extents());
  GtkWindow* window = GTK_WINDOW(window_);
  const int width = std::max(1, static_cast<int>(content.width / s));
  const int height = std::max(1, static_cast<int>(content.height / s));
  // A window the user may not resize keeps exactly this size (the toolkit's
  // own non-resizable mode would size it to its contents instead).
  if (!(styleMask_ & kWindowStyleResizable)) {
    GdkGeometry hints{};
    hints.min_width = hints.max_width = width;
    hints.min_height = hints.max_height = height;
    gtk_window_set_geometry_hints(window, nullptr, &hints,
                                  GdkWindowHints(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
    fixedSizeHints_ = true;
  } else if (fixedSizeHints_) {
    gtk_window_set_geometry_hints(window, nullptr, nullptr, GdkWindowHints(0));
    fixedSizeHints_ = false;
  }
  gtk_window_move(window, static_cast<int>(wantedOuter_.x / s),
                  static_cast<int>(wantedOuter_.y / s));
  gtk_window_resize(window, width, height);
  appliedExtents_ = extents();
  overlayReplacements_ = 0;
  // The toolkit sends its own request only when it next lays out, after a
  // hidden window has already been mapped and placed by the window manager:
  // ask the server now, with the position marked as the user's so that the
  // window manager keeps it. Reports about the window made before this
  // request (whose number they do not reach) say nothing about the geometry.
  Display* display = xDisplay();
  if (!display || !xid_) return;
  const auto contentWidth = static_cast<unsigned>(std::max<int64_t>(1, content.width));
  const auto contentHeight = static_cast<unsigned>(std::max<int64_t>(1, content.height));
  if (XSizeHints* hints = XAllocSizeHints()) {
    long supplied = 0;
    XGetWMNormalHints(display, xid_, hints, &supplied);
    hints->flags |= USPosition | USSize | PWinGravity;
    hints->x = static_cast<int>(wantedOuter_.x);
    hints->y = static_cast<int>(wantedOuter_.y);
    hints->width = static_cast<int>(contentWidth);
    hints->height = static_cast<int>(contentHeight);
    hints->win_gravity = NorthWestGravity;
    if (!(styleMask_ & kWindowStyleResizable)) {
      hints->flags |= PMinSize | PMaxSize;
      hints->min_width = hints->max_width = static_cast<int>(contentWidth);
      hints->min_height = hints->max_height = static_cast<int>(contentHeight);
    }
    XSetWMNormalHints(display, xid_, hints);
    XFree(hints);
  }
  requestGeometry();
}

void LinuxWindow::requestGeometry() {
  Display* display = xDisplay();
  if (!display || !xid_) return;
  const DesktopLayout::PixelRect content = contentFromOuter(wantedOuter_, extents());
  serials_.geometry = NextRequest(display);
  XMoveResizeWindow(display, xid_, static_cast<int>(wantedOuter_.x),
                    static_cast<int>(wantedOuter_.y),
                    static_cast<unsigned>(std::max<int64_t>(1, content.width)),
                    static_cast<unsigned>(std::max<int64_t>(1, content.height)));
  XFlush(display);
}

void LinuxWindow::setStyleMask(uint64_t mask) {
  const bool wasDecorated = styleMask_ & kWindowStyleTitled;
  styleMask_ = mask;
  GtkWindow* window = GTK_WINDOW(window_);
  const bool decorated = mask & kWindowStyleTitled;
  gtk_window_set_decorated(window, decorated);
  gtk_window_set_deletable(window, (mask & kWindowStyleClosable) != 0);
  // Resizability is applied through size hints with the geometry.
  if (shown()) applyGeometry();
  if (decorated != wasDecorated && !mapped_) requestFrameExtents();
}

void LinuxWindow::setLevel(int64_t level) {
  const bool wasOverlay = isOverlay();
  level_ = level;
  // Override-redirect is read by the server when the window maps: between
  // the two modes a shown window maps again. Its window manager states are
  // set while it is unmapped, so that they go with the next map (no window
  // manager hears a request about an override-redirect window).
  const bool remap = wasOverlay != isOverlay() && shown();
  const bool key = wantsKey_;
  if (remap) hide();
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_window_set_keep_above(window, level > 0 && level < kOverlayLevel);
  gtk_window_set_keep_below(window, level < 0);
  if (remap) show(key);
}

void LinuxWindow::setCollectionBehavior(uint64_t behavior) {
  collection_ = behavior;
  if (behavior & kCollectionCanJoinAllSpaces) {
    gtk_window_stick(GTK_WINDOW(window_));
  } else {
    gtk_window_unstick(GTK_WINDOW(window_));
  }
  applyTaskbarHints();
}

void LinuxWindow::setApplicationHints(bool skipTaskbar, bool skipPager) {
  appSkipTaskbar_ = skipTaskbar;
  appSkipPager_ = skipPager;
  applyTaskbarHints();
}

void LinuxWindow::applyTaskbarHints() {
  const bool ignoresCycle = collection_ & kCollectionIgnoresCycle;
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), ignoresCycle || appSkipTaskbar_);
  gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), ignoresCycle || appSkipPager_);
}

void LinuxWindow::setOpaque(bool flag) {
  opaque_ = flag;
  gtk_widget_queue_draw(widget());
}

void LinuxWindow::setBackgroundColor(const Color& color) {
  background_ = color;
  gtk_widget_queue_draw(widget());
}

void LinuxWindow::setAlphaValue(double alpha) {
  alpha_ = alpha;
  // Becomes _NET_WM_WINDOW_OPACITY, which only a compositing manager honours.
  const double opacity = std::clamp(std::isnan(alpha) ? 1.0 : alpha, 0.0, 1.0);
  gtk_widget_set_opacity(window_, opacity);
  if (wayland_ && wayland_->layerSurface())
    gtk_widget_set_opacity(wayland_->layerSurface(), opacity);
}

void LinuxWindow::orderOut() {
  wantsKey_ = false;
  hide();
}

void LinuxWindow::orderFrontRegardless() {
  show(false);
}

void LinuxWindow::makeKeyAndOrderFront() {
  show(true);
}

bool LinuxWindow::isVisible() const {
  return shown() && !iconified_;
}

bool LinuxWindow::isMiniaturized() const {
  return iconified_;
}

void LinuxWindow::deminiaturize() {
  gtk_window_deiconify(GTK_WINDOW(window_));
}

void LinuxWindow::show(bool key) {
  const bool focus = key && canBecomeKey();
  if (key) wantsKey_ = true;
  GtkWindow* window = GTK_WINDOW(window_);
  if (shown()) {
    if (showing_ == Showing::kAwaitingRelease) {
      focusPending_ = focusPending_ || focus;
      return;
    }
    if (iconified_) gtk_window_deiconify(window);
    if (GdkWindow* gdkWindow = gtk_widget_get_window(window_)) gdk_window_raise(gdkWindow);
    if (focus) takeFocus();
    return;
  }
  // Until the window maps, reports about it (a window manager letting it go)
  // do not move it.
  showing_ = Showing::kPlacing;
  // Unmaps from before now are this object's own.
  if (Display* display = xDisplay()) serials_.shown = NextRequest(display);
  // A window just taken from the window manager sits in its frame until the
  // window manager lets it go; mapped override-redirect there, it would be
  // carried off with the frame. It maps once it is back on the root.
  if (isOverlay() && heldByWindowManager()) {
    showing_ = Showing::kAwaitingRelease;
    focusPending_ = focus;
    return;
  }
  // On Wayland the desktop may first want to look at the screen the overlay
  // will cover; the overlay maps once it says so.
  if (isOverlay() && wayland_ && hooks_.prepareOverlay) {
    showing_ = Showing::kAwaitingRelease;
    focusPending_ = focus;
    const uint64_t ticket = ++prepareTicket_;
    hooks_.prepareOverlay(windowNumber(), wantedOuter_,
                          [this, alive = std::weak_ptr<bool>(alive_), ticket] {
                            const auto living = alive.lock();
                            if (living && *living && ticket == prepareTicket_) onReleased();
                          });
    return;
  }
  map(focus);
}

bool LinuxWindow::heldByWindowManager() const {
  Display* display = xDisplay();
  if (!display || !xid_) return false;
  GdkDisplay* gdkDisplay = gtk_widget_get_display(window_);
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  gdk_x11_display_error_trap_push(gdkDisplay);
  const Status status = XQueryTree(display, xid_, &root, &parent, &children, &count);
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  if (children) XFree(children);
  return status != 0 && parent != root;
}

void LinuxWindow::onReleased() {
  if (showing_ == Showing::kAwaitingRelease) map(focusPending_);
}

void LinuxWindow::map(bool focus) {
  GtkWindow* window = GTK_WINDOW(window_);
  mappedAsOverlay_ = isOverlay();
  if (wayland_) {
    mapOnWayland(focus);
    return;
  }
  if (GdkWindow* gdkWindow = gtk_widget_get_window(window_)) {
    gdk_window_set_override_redirect(gdkWindow, mappedAsOverlay_);
  }
  if (Display* display = xDisplay()) serials_.shown = NextRequest(display);
  // The window manager may have answered the request for the frame's size.
  if (!mappedAsOverlay_) readFrameExtents();
  showing_ = Showing::kPlacing;
  applyGeometry();
  gtk_window_set_accept_focus(window, canBecomeKey());
  gtk_window_set_focus_on_map(window, focus);
  if (mappedAsOverlay_ && hooks_.beforeOverlayMaps) hooks_.beforeOverlayMaps(windowNumber());
  if (focus && !mappedAsOverlay_) {
    focusPending_ = false;
    gtk_window_present_with_time(window, serverTime());
  } else {
    // An override-redirect window takes the focus once the server has mapped
    // it (the focus and grabs need a viewable window).
    focusPending_ = focus && mappedAsOverlay_;
    gtk_widget_show(window_);
  }
  // Showing makes the toolkit send a geometry of its own when it next lays
  // out, which may be one it remembers from an earlier map: tell it again
  // now that it takes the window as mapped, and have the last word.
  const int s = scale();
  const DesktopLayout::PixelRect content = contentFromOuter(wantedOuter_, extents());
  gtk_window_move(window, static_cast<int>(wantedOuter_.x / s),
                  static_cast<int>(wantedOuter_.y / s));
  gtk_window_resize(window, std::max(1, static_cast<int>(content.width / s)),
                    std::max(1, static_cast<int>(content.height / s)));
  requestGeometry();
}

void LinuxWindow::mapOnWayland(bool focus) {
  GtkWindow* window = GTK_WINDOW(window_);
  showing_ = Showing::kPlacing;
  focusPending_ = false;
  if (mappedAsOverlay_) {
    // No client places a surface: the overlay covers the monitor its frame
    // lies on, and takes the keyboard by being the overlay.
    const int monitor = hooks_.monitorIndex ? hooks_.monitorIndex(wantedOuter_) : -1;
    if (monitor < 0 && hooks_.monitorIndex) {
      // Its monitor went while it waited: it would cover another one.
      NSLog("[overlay] no monitor under the overlay: it is not shown");
      orderOutByPlatform();
      return;
    }
    wayland_->show(monitor);
    return;
  }
  // The compositor places toplevels; the size is the client's.
  applyGeometry();
  gtk_window_set_accept_focus(window, canBecomeKey());
  gtk_window_set_focus_on_map(window, focus);
  if (focus) {
    gtk_window_present(window);
  } else {
    gtk_widget_show(window_);
  }
}

void LinuxWindow::hide() {
  if (!shown()) return;
  showing_ = Showing::kHidden;
  focusPending_ = false;
  ++prepareTicket_;
  releaseGrabs();
  if (wayland_ && wayland_->surface()) {
    wayland_->hide();
  } else {
    gtk_widget_hide(window_);
  }
  if (mappedAsOverlay_) {
    mappedAsOverlay_ = false;
    // The capture engine may look at the screen as soon as it hears: make
    // sure the server has unmapped the window first.
    if (Display* display = xDisplay()) XSync(display, False);
    if (hooks_.overlayHidden) hooks_.overlayHidden(windowNumber());
  }
}

uint32_t LinuxWindow::serverTime() const {
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  if (!gdkWindow || !GDK_IS_X11_WINDOW(gdkWindow)) return GDK_CURRENT_TIME;
  return gdk_x11_get_server_time(gdkWindow);
}

void LinuxWindow::activate() {
  if (!shown() || !canBecomeKey()) return;
  wantsKey_ = true;
  takeFocus();
}

void LinuxWindow::takeFocus() {
  if (showing_ == Showing::kAwaitingRelease) {
    focusPending_ = true;
    return;
  }
  if (wayland_) {
    // The layer surface has the keyboard while it is shown; a toplevel asks
    // the compositor, which decides.
    if (!wayland_->usesLayerShell() || !mappedAsOverlay_) gtk_window_present(GTK_WINDOW(window_));
    return;
  }
  if (!mappedAsOverlay_) {
    gtk_window_present_with_time(GTK_WINDOW(window_), serverTime());
    return;
  }
  if (!mapped_) {
    focusPending_ = true;
    return;
  }
  // No window manager hands focus to an override-redirect window: take it,
  // with a real time so that the server does not ignore the request.
  if (Display* display = xDisplay()) {
    GdkDisplay* gdkDisplay = gtk_widget_get_display(window_);
    const uint32_t time = serverTime();
    gdk_x11_display_error_trap_push(gdkDisplay);
    XSetInputFocus(display, xid_, RevertToParent, time);
    gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  }
  grab();
}

void LinuxWindow::grab() {
  if (grabbed_) return;
  GdkWindow* gdkWindow = gtk_widget_get_window(window_);
  if (!gdkWindow) return;
  GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(window_));
  const GdkGrabStatus status = gdk_seat_grab(seat, gdkWindow, GDK_SEAT_CAPABILITY_ALL, TRUE,
                                             nullptr, nullptr, nullptr, nullptr);
  grabbed_ = status == GDK_GRAB_SUCCESS;
  if (!grabbed_) NSLog("[window] the overlay could not grab the keyboard and pointer (%d)", status);
}

void LinuxWindow::releaseGrabs() {
  if (!grabbed_) return;
  grabbed_ = false;
  GdkDisplay* display = gtk_widget_get_display(window_);
  gdk_seat_ungrab(gdk_display_get_default_seat(display));
  gdk_display_flush(display);
}

bool LinuxWindow::canBecomeKey() const {
  return overrides_.canBecomeKey ? overrides_.canBecomeKey() : true;
}

bool LinuxWindow::hasAttachedSheet() const {
  bool found = false;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    auto* other = GTK_WINDOW(item->data);
    if (GTK_WIDGET(other) == window_) continue;
    if (gtk_window_get_transient_for(other) == GTK_WINDOW(window_) && gtk_window_get_modal(other) &&
        gtk_widget_get_visible(GTK_WIDGET(other))) {
      found = true;
    }
  }
  g_list_free(toplevels);
  return found;
}

std::optional<Rect> LinuxWindow::contentViewFrame() const {
  const FrameExtents e = extents();
  const DesktopLayout::PixelRect content = contentFromOuter(wantedOuter_, e);
  return contentFrameInWindow(content.width, content.height, e, scale());
}

}  // namespace dravel::linux_platform
