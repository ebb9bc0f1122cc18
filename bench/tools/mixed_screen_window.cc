// Covers the whole X screen with the benchmarks' mixed-content picture and
// says "ready" on stdout once it has been drawn; runs until killed.
#include <gtk/gtk.h>

#include <cstdio>
#include <vector>

#include "bench/mixed_screen.h"

namespace {

struct Picture {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  bool announced = false;
};

gboolean draw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* picture = static_cast<Picture*>(data);
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(picture->pixels.data(), CAIRO_FORMAT_ARGB32,
                                          picture->width, picture->height, picture->width * 4);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_surface_destroy(surface);
  if (!picture->announced) {
    picture->announced = true;
    // Said once the frame is on the screen, not merely drawn.
    g_idle_add(
        [](gpointer) -> gboolean {
          gdk_display_sync(gdk_display_get_default());
          std::printf("ready\n");
          std::fflush(stdout);
          return G_SOURCE_REMOVE;
        },
        nullptr);
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GdkScreen* screen = gdk_screen_get_default();
  Picture picture;
  GdkWindow* root = gdk_screen_get_root_window(screen);
  picture.width = gdk_window_get_width(root);
  picture.height = gdk_window_get_height(root);
  picture.pixels = dravel::bench::mixedScreenBgra(picture.width, picture.height);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  gtk_window_set_default_size(GTK_WINDOW(window), picture.width, picture.height);
  gtk_widget_set_app_paintable(window, TRUE);
  g_signal_connect(window, "draw", G_CALLBACK(draw), &picture);
  gtk_widget_show(window);
  gtk_main();
  return 0;
}
