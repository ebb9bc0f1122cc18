#include "platform/linux/wayland/wayland_overlay.h"

#include <gtk-layer-shell/gtk-layer-shell.h>
#include <gtk/gtk.h>

namespace dravel::linux_platform {
namespace {

GdkMonitor* monitorAt(GtkWidget* widget, int index) {
  GdkDisplay* display = gtk_widget_get_display(widget);
  if (index < 0 || index >= gdk_display_get_n_monitors(display)) return nullptr;
  return gdk_display_get_monitor(display, index);
}

}  // namespace

WaylandOverlay::WaylandOverlay(GtkWidget* window, bool layerShell,
                               std::function<void(GtkWidget*)> connect,
                               std::function<void()> closed)
    : window_(window),
      layerShell_(layerShell),
      connect_(std::move(connect)),
      closed_(std::move(closed)) {}

WaylandOverlay::~WaylandOverlay() {
  if (layer_) gtk_widget_destroy(layer_);
}

GtkWidget* WaylandOverlay::show(int monitor) {
  GdkMonitor* target = monitorAt(window_, monitor);
  if (!layerShell_) {
    GtkWindow* window = GTK_WINDOW(window_);
    if (target) {
      gtk_window_fullscreen_on_monitor(window, gtk_widget_get_screen(window_), monitor);
    } else {
      gtk_window_fullscreen(window);
    }
    gtk_window_present(window);
    shown_ = window_;
    return shown_;
  }
  if (!layer_) {
    layer_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* layer = GTK_WINDOW(layer_);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(layer_))) {
      gtk_widget_set_visual(layer_, rgba);
    }
    gtk_widget_set_app_paintable(layer_, TRUE);
    gtk_widget_add_events(layer_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                      GDK_POINTER_MOTION_MASK | GDK_STRUCTURE_MASK);
    gtk_window_set_title(layer, gtk_window_get_title(GTK_WINDOW(window_)));
    gtk_layer_init_for_window(layer);
    gtk_layer_set_namespace(layer, "dravel-overlay");
    gtk_layer_set_layer(layer, GTK_LAYER_SHELL_LAYER_OVERLAY);
    for (GtkLayerShellEdge edge : {GTK_LAYER_SHELL_EDGE_LEFT, GTK_LAYER_SHELL_EDGE_RIGHT,
                                   GTK_LAYER_SHELL_EDGE_TOP, GTK_LAYER_SHELL_EDGE_BOTTOM}) {
      gtk_layer_set_anchor(layer, edge, TRUE);
    }
    // Over panels too, not beside them.
    gtk_layer_set_exclusive_zone(layer, -1);
    gtk_layer_set_keyboard_mode(layer, GTK_LAYER_SHELL_KEYBOARD_MODE_EXCLUSIVE);
    gtk_widget_set_opacity(layer_, gtk_widget_get_opacity(window_));
    // The toolkit closes a layer surface the compositor has closed (its
    // monitor went): kept, and reported instead.
    g_signal_connect(layer_, "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                       auto* self = static_cast<WaylandOverlay*>(data);
                       if (self->closed_) self->closed_();
                       return TRUE;
                     }),
                     this);
    if (connect_) connect_(layer_);
  }
  GtkWindow* layer = GTK_WINDOW(layer_);
  gtk_layer_set_monitor(layer, target);
  gtk_widget_show(layer_);
  shown_ = layer_;
  return shown_;
}

void WaylandOverlay::hide() {
  if (!shown_) return;
  GtkWidget* was = shown_;
  shown_ = nullptr;
  if (was == layer_) {
    // Unmapped, the surface holds nothing: the compositor gives the keyboard
    // back to the window that had it.
    gtk_widget_hide(layer_);
    return;
  }
  gtk_widget_hide(window_);
  gtk_window_unfullscreen(GTK_WINDOW(window_));
}

}  // namespace dravel::linux_platform
