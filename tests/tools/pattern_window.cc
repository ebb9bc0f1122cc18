// A test client that shows known pixels on one monitor of a Wayland (or X11)
// desktop, for compositors that paint no wallpaper:
//
//   dravel_pattern_window MONITOR
//
// A fullscreen window on monitor MONITOR (GDK's index) painted with
// dravel::testing::patternPixel(), in the window's own pixels; it prints "ready" once
// the first frame is drawn, "key NAME" for each key pressed in it, and runs
// until it is ended.
#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/support/test_pattern.h"

namespace {

int monitorIndex = 0;
bool announced = false;

gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer) {
  const int width = gtk_widget_get_allocated_width(widget);
  const int height = gtk_widget_get_allocated_height(widget);
  for (int y = 0; y < height; y += 64) {
    for (int x = 0; x < width; x += 64) {
      const uint32_t c = dravel::testing::patternPixel(monitorIndex, x, y);
      cairo_set_source_rgb(cr, ((c >> 16) & 0xff) / 255.0, ((c >> 8) & 0xff) / 255.0,
                           (c & 0xff) / 255.0);
      cairo_rectangle(cr, x, y, 64, 64);
      cairo_fill(cr);
    }
  }
  // Ready once fullscreen on its monitor: the compositor may first show it
  // elsewhere, at another size.
  GdkDisplay* display = gtk_widget_get_display(widget);
  GdkMonitor* monitor = gdk_display_get_monitor(display, monitorIndex);
  GdkMonitor* shownOn = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(widget));
  GdkRectangle area{};
  if (monitor) gdk_monitor_get_geometry(monitor, &area);
  const bool inPlace =
      monitor && shownOn == monitor && width == area.width && height == area.height;
  if (!announced && inPlace) {
    announced = true;
    std::printf("ready\n");
    std::fflush(stdout);
  }
  return TRUE;
}

gboolean key(GtkWidget*, GdkEventKey* event, gpointer) {
  const char* name = gdk_keyval_name(event->keyval);
  std::printf("key %s\n", name ? name : "?");
  std::fflush(stdout);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: dravel_pattern_window MONITOR\n");
    return 2;
  }
  monitorIndex = std::atoi(argv[1]);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "dravel pattern");
  gtk_widget_set_app_paintable(window, TRUE);
  g_signal_connect(window, "draw", G_CALLBACK(draw), nullptr);
  g_signal_connect(window, "key-press-event", G_CALLBACK(key), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  // The toolkit learns of the outputs a moment after it connects; a monitor
  // it does not know yet would leave the choice to the compositor.
  GdkDisplay* display = gdk_display_get_default();
  for (int i = 0; i < 200 && gdk_display_get_n_monitors(display) <= monitorIndex; ++i) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(10000);
  }
  gtk_window_fullscreen_on_monitor(GTK_WINDOW(window), gtk_widget_get_screen(window), monitorIndex);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
