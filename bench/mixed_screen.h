// A screen of mixed content, as screenshots usually hold: a photo-like area
// (fractal noise with grain), gradients, and text windows (a terminal and a
// document). Premultiplied BGRA, opaque, rows without padding; the same
// pixels every time for a given size.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dravel::bench {

namespace mixed_detail {

inline uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ (h >> 15);
}

// Smooth noise in [0, 1] at a point, from a lattice of `cell` pixels.
inline double valueNoise(double x, double y, double cell, uint32_t seed) {
  const double gx = x / cell, gy = y / cell;
  const auto ix = static_cast<uint32_t>(gx), iy = static_cast<uint32_t>(gy);
  const double fx = gx - ix, fy = gy - iy;
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  auto at = [&](uint32_t a, uint32_t b) { return (hash(a, b, seed) & 0xFFFF) / 65535.0; };
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

inline uint8_t clampByte(double v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline void text(cairo_t* cr, const char* font, double x, double y, double r, double g, double b,
                 const std::string& content) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* description = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, description);
  pango_layout_set_text(layout, content.c_str(), -1);
  cairo_set_source_rgb(cr, r, g, b);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(description);
  g_object_unref(layout);
}

}  // namespace mixed_detail

inline std::vector<uint8_t> mixedScreenBgra(int width, int height) {
  using namespace mixed_detail;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0.93, 0.93, 0.94);
  cairo_paint(cr);
  cairo_surface_flush(surface);

  // The photo: the left two fifths, a sky over hills, with grain.
  const int photoWidth = width * 2 / 5;
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = data + static_cast<size_t>(y) * stride;
    for (int x = 0; x < photoWidth; ++x) {
      double n = 0, amplitude = 0.5, cell = 256;
      for (int octave = 0; octave < 5; ++octave, amplitude /= 2, cell /= 2)
        n += amplitude * valueNoise(x, y, cell, 7 + octave);
      const double horizon = height * (0.45 + 0.1 * valueNoise(x, 0, 300, 3));
      const double grain = static_cast<double>(hash(x, y, 99) % 13) - 6;
      double r, g, b;
      if (y < horizon) {
        const double t = y / horizon;
        r = 90 + 90 * t + 40 * n;
        g = 140 + 70 * t + 30 * n;
        b = 210 + 30 * t + 10 * n;
      } else {
        r = 50 + 110 * n;
        g = 80 + 100 * n;
        b = 30 + 60 * n;
      }
      uint8_t* p = row + x * 4;
      p[0] = clampByte(b + grain);
      p[1] = clampByte(g + grain);
      p[2] = clampByte(r + grain);
      p[3] = 255;
    }
  }
  cairo_surface_mark_dirty(surface);

  // Gradients: the top of the right part.
  const double right = photoWidth, rightWidth = width - photoWidth;
  cairo_pattern_t* across = cairo_pattern_create_linear(right, 0, width, 0);
  cairo_pattern_add_color_stop_rgb(across, 0, 0.95, 0.45, 0.2);
  cairo_pattern_add_color_stop_rgb(across, 1, 0.3, 0.2, 0.7);
  cairo_rectangle(cr, right, 0, rightWidth, height * 0.15);
  cairo_set_source(cr, across);
  cairo_fill(cr);
  cairo_pattern_destroy(across);
  cairo_pattern_t* round =
      cairo_pattern_create_radial(right + rightWidth * 0.5, height * 0.25, 10,
                                  right + rightWidth * 0.5, height * 0.25, rightWidth * 0.5);
  cairo_pattern_add_color_stop_rgb(round, 0, 1, 1, 0.9);
  cairo_pattern_add_color_stop_rgb(round, 1, 0.1, 0.4, 0.5);
  cairo_rectangle(cr, right, height * 0.15, rightWidth, height * 0.2);
  cairo_set_source(cr, round);
  cairo_fill(cr);
  cairo_pattern_destroy(round);

  // Two text windows below: a terminal and a document.
  const double top = height * 0.38, windowHeight = height * 0.6;
  const double terminalWidth = rightWidth * 0.48;
  for (int w = 0; w < 2; ++w) {
    const double x = right + 20 + w * (terminalWidth + 20);
    const bool terminal = w == 0;
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.78);
    cairo_rectangle(cr, x, top, terminalWidth, 28);
    cairo_fill(cr);
    text(cr, "Sans Bold 11", x + 10, top + 5, 0.1, 0.1, 0.1, terminal ? "Terminal" : "Notes");
    if (terminal) {
      cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
    } else {
      cairo_set_source_rgb(cr, 1, 1, 1);
    }
    cairo_rectangle(cr, x, top + 28, terminalWidth, windowHeight - 28);
    cairo_fill(cr);
    for (int line = 0; line * 18 + 40 < windowHeight; ++line) {
      std::string content;
      if (terminal) {
        content = "-rw-r--r-- 1 user user " + std::to_string(1000 + (hash(line, 1, 5) % 90000)) +
                  " Dec  8 11:" + std::to_string(10 + line % 50) + " file_" + std::to_string(line) +
                  ".txt";
      } else {
        static const char* const kWords[] = {"screen", "capture", "the", "window",  "of",
                                             "pixels", "and",     "a",   "monitor", "shows"};
        for (int word = 0; word < 9; ++word)
          content += kWords[hash(line, word, 3) % 10] + std::string(" ");
      }
      text(cr, terminal ? "Monospace 10" : "Serif 11", x + 8, top + 34 + line * 18,
           terminal ? 0.8 : 0.15, terminal ? 0.85 : 0.15, terminal ? 0.8 : 0.2, content);
    }
  }
  cairo_surface_flush(surface);

  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y)
    std::memcpy(pixels.data() + static_cast<size_t>(y) * width * 4,
                data + static_cast<size_t>(y) * stride, static_cast<size_t>(width) * 4);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return pixels;
}

}  // namespace dravel::bench
