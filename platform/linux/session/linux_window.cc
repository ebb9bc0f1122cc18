#include "platform/linux/session/linux_window.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

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
    of(data)->system_->configured(*event);
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
    of(data)->iconified_ = (event->window_state.new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    return FALSE;
  }
  static gboolean property(GtkWidget*, GdkEvent* event, gpointer data) {
    of(data)->system_->propertyChanged(*event);
    return FALSE;
  }
  static gboolean grabBroken(GtkWidget*, GdkEvent*, gpointer data) {
    of(data)->system_->grabBroken();
    return FALSE;
  }
};

LinuxWindow::LinuxWindow(std::function<DesktopLayout()> layoutSource, LinuxWindowHooks hooks,
                         std::unique_ptr<WindowSystem> system, GtkWidget* adopted)
    : layoutSource_(std::move(layoutSource)), hooks_(std::move(hooks)), system_(std::move(system)) {
  adopted_ = adopted != nullptr;
  if (adopted_) {
    window_ = GTK_WIDGET(g_object_ref(adopted));
    // Added to its X window too when the embedding has realized it already.
    gtk_widget_add_events(window_, GDK_PROPERTY_CHANGE_MASK | GDK_STRUCTURE_MASK);
  } else {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    // The visual is fixed when the X window is made: an RGBA one from the
    // start lets the window become see-through later without a new id.
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_))) {
      gtk_widget_set_visual(window_, rgba);
    }
    gtk_widget_set_app_paintable(window_, TRUE);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                       GDK_POINTER_MOTION_MASK | GDK_PROPERTY_CHANGE_MASK |
                                       GDK_STRUCTURE_MASK);
    g_signal_connect(window_, "delete-event", G_CALLBACK(Signals::deleteEvent), this);
  }
  g_signal_connect(window_, "configure-event", G_CALLBACK(Signals::configure), this);
  g_signal_connect(window_, "window-state-event", G_CALLBACK(Signals::windowState), this);
  g_signal_connect(window_, "property-notify-event", G_CALLBACK(Signals::property), this);
  g_signal_connect(window_, "grab-broken-event", G_CALLBACK(Signals::grabBroken), this);
  connectSurface(window_);

  if (adopted_) {
    // The size the embedding's runner gave its window (in the toolkit's
    // units, which are points).
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    if (width > 0 && height > 0) {
      wantedFrame_.width = width;
      wantedFrame_.height = height;
    }
  }
  wantedOuter_ = layout().rootRectFromFrame(wantedFrame_);
  gtk_widget_realize(window_);
  system_->attach(*this);
  applyGeometry();
  system_->requestFrameExtents();
}

LinuxWindow::~LinuxWindow() {
  g_signal_handlers_disconnect_by_data(window_, this);
  system_->detach();
  GdkDisplay* display = gtk_widget_get_display(window_);
  if (adopted_) {
    g_object_unref(window_);
    return;
  }
  gtk_widget_destroy(window_);
  gdk_display_flush(display);
}

void LinuxWindow::connectSurface(GtkWidget* surface) {
  // The embedding's view draws itself and takes its own pointer.
  if (!adopted_ || surface != window_) {
    g_signal_connect(surface, "draw", G_CALLBACK(Signals::draw), this);
    g_signal_connect(surface, "button-press-event", G_CALLBACK(Signals::button), this);
    g_signal_connect(surface, "button-release-event", G_CALLBACK(Signals::button), this);
    g_signal_connect(surface, "motion-notify-event", G_CALLBACK(Signals::motion), this);
  }
  g_signal_connect(surface, "map-event", G_CALLBACK(Signals::map), this);
  g_signal_connect(surface, "unmap-event", G_CALLBACK(Signals::unmap), this);
  g_signal_connect(surface, "notify::scale-factor", G_CALLBACK(Signals::surfaceChanged), this);
}

DesktopLayout LinuxWindow::layout() const {
  return layoutSource_ ? layoutSource_() : DesktopLayout();
}

int LinuxWindow::scale() const {
  return std::max(1, gtk_widget_get_scale_factor(window_));
}

FrameExtents LinuxWindow::extents() const {
  // An override-redirect window has no window manager, hence no frame.
  if (isOverlay() || mappedAsOverlay()) return {};
  return system_->managerExtents();
}

GtkWidget* LinuxWindow::widget() const {
  GtkWidget* overlay = system_->overlaySurface();
  return overlay ? overlay : window_;
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
  if (isShown()) applyGeometry();
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
  system_->geometryApplied();
}

void LinuxWindow::setStyleMask(uint64_t mask) {
  const bool wasDecorated = styleMask_ & kWindowStyleTitled;
  styleMask_ = mask;
  GtkWindow* window = GTK_WINDOW(window_);
  const bool decorated = mask & kWindowStyleTitled;
  gtk_window_set_decorated(window, decorated);
  gtk_window_set_deletable(window, (mask & kWindowStyleClosable) != 0);
  // Resizability is applied through size hints with the geometry.
  if (isShown()) applyGeometry();
  if (decorated != wasDecorated) system_->decorationsChanged();
}

void LinuxWindow::setLevel(int64_t level) {
  const bool wasOverlay = isOverlay();
  level_ = level;
  // Override-redirect is read by the server when the window maps: between
  // the two modes a shown window maps again. Its window manager states are
  // set while it is unmapped, so that they go with the next map (no window
  // manager hears a request about an override-redirect window).
  const bool remap = wasOverlay != isOverlay() && isShown();
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
  system_->opacityChanged(opacity);
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
  return isShown() && !iconified_;
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
  if (isShown()) {
    if (state_ == WindowState::kWaiting) {
      focusPending_ = focusPending_ || focus;
      return;
    }
    if (iconified_) gtk_window_deiconify(window);
    if (GdkWindow* gdkWindow = gtk_widget_get_window(window_)) gdk_window_raise(gdkWindow);
    if (focus) system_->takeFocus();
    return;
  }
  // Until the window maps, reports about it (a window manager letting it go)
  // do not move it.
  system_->showStarted();
  // The part may let the overlay map at once, from within the call.
  if (isOverlay()) {
    state_ = WindowState::kWaiting;
    focusPending_ = focus;
    if (system_->overlayMustWait()) return;
  }
  map(focus);
}

void LinuxWindow::mapWhenReady() {
  if (state_ == WindowState::kWaiting) map(focusPending_);
}

void LinuxWindow::map(bool focus) {
  state_ = isOverlay() ? WindowState::kOverlayMapping : WindowState::kMapping;
  system_->map(focus);
}

void LinuxWindow::hide() {
  if (!isShown()) return;
  const bool wasOverlay = mappedAsOverlay();
  state_ = WindowState::kHidden;
  focusPending_ = false;
  system_->unmap(wasOverlay);
  if (wasOverlay && hooks_.overlayHidden) hooks_.overlayHidden(windowNumber());
}

void LinuxWindow::activate() {
  if (!isShown() || !canBecomeKey()) return;
  wantsKey_ = true;
  if (state_ == WindowState::kWaiting) {
    focusPending_ = true;
    return;
  }
  system_->takeFocus();
}

bool LinuxWindow::canBecomeKey() const {
  return overrides_.canBecomeKey ? overrides_.canBecomeKey() : true;
}

void LinuxWindow::orderOutByPlatform() {
  if (overrides_.orderOut) {
    overrides_.orderOut();
  } else {
    orderOut();
  }
}

void LinuxWindow::onMap() {
  // A map from before the window was last shown (it has been hidden since,
  // and its unmap follows) is not this one.
  if (!system_->mapReported()) return;
  // The embedding showing its window (see Adopted).
  if (adopted_ && state_ == WindowState::kHidden) state_ = WindowState::kShown;
  if (state_ == WindowState::kMapping) {
    state_ = WindowState::kShown;
    // Placed before the frame's size was known: place it again, frame and all.
    system_->readFrameExtents();
    if (extents() != appliedExtents_) applyGeometry();
  } else if (state_ == WindowState::kOverlayMapping) {
    state_ = WindowState::kOverlay;
  }
  if (focusPending_ && isShown() && state_ != WindowState::kWaiting) {
    focusPending_ = false;
    system_->takeFocus();
  }
}

void LinuxWindow::onUnmap() {
  // Unmapped by someone else while meant to be shown is the platform
  // ordering the window out; an unmap while hidden or waiting, or of an
  // iconified window, is not.
  const bool meantShown =
      state_ != WindowState::kHidden && state_ != WindowState::kWaiting && !iconified_;
  if (system_->unmapReported(meantShown)) orderOutByPlatform();
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
