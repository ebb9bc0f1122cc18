#include "platform/shared/cairo_pixels.h"

#include <cstring>

namespace dravel {

cairo_surface_t* surfaceFromRows(const uint8_t* rows, int width, int height, size_t bytesPerRow,
                                 bool straightRgba, cairo_format_t format) {
  cairo_surface_t* surface = cairo_image_surface_create(format, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = rows + static_cast<size_t>(y) * bytesPerRow;
    auto* to = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    if (!straightRgba) {
      std::memcpy(to, from, static_cast<size_t>(width) * 4);
      continue;
    }
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = from + static_cast<size_t>(x) * 4;
      const uint32_t a = p[3];
      to[x] = (a << 24) | (uint32_t{premultiply(p[0], a)} << 16) |
              (uint32_t{premultiply(p[1], a)} << 8) | premultiply(p[2], a);
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

void straightRgbaFromSurface(cairo_surface_t* surface, uint8_t* out) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x, out += 4) {
      const uint32_t p = row[x];
      const uint32_t a = p >> 24;
      out[0] = unpremultiply((p >> 16) & 0xff, a);
      out[1] = unpremultiply((p >> 8) & 0xff, a);
      out[2] = unpremultiply(p & 0xff, a);
      out[3] = static_cast<uint8_t>(a);
    }
  }
}

}  // namespace dravel
